#include "policy/JsonWithLines.h"

#include "bus/JsonRead.h"

#include <json/reader.h>

#include <algorithm>
#include <memory>

namespace roamnode {
namespace {

// jsoncpp's own message starts "* Line 4, Column 13\n  Missing ..."; one line is enough.
std::string firstError(const std::string& errors)
{
    std::string text = errors;
    if (text.rfind("* ", 0) == 0)
        text.erase(0, 2);
    const std::size_t newline = text.find('\n');
    if (newline == std::string::npos)
        return text;
    std::string rest = text.substr(newline + 1);
    rest.erase(0, rest.find_first_not_of(' '));
    rest = rest.substr(0, rest.find('\n'));
    text = text.substr(0, newline);
    for (const char* word : {"Line ", "Column "}) {
        const std::size_t at = text.find(word);
        if (at != std::string::npos)
            text[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
    }
    return rest.empty() ? text : text + ": " + rest;
}

} // namespace

bool parseJsonWithLines(const std::string& text, Json::Value& root, std::string& error)
{
    std::string why;
    if (parseJson(text, root, &why))
        return true;
    // Parsed a second time only to learn where it broke; parseJson says nothing about that.
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value ignored;
    std::string errors;
    bool parsed = false;
    try {
        parsed = reader->parse(text.data(), text.data() + text.size(), &ignored, &errors);
    } catch (const std::exception&) {
    }
    error = parsed || errors.empty() ? why : firstError(errors);
    return false;
}

int lineOf(const std::string& text, const Json::Value& value)
{
    const std::ptrdiff_t offset = std::clamp<std::ptrdiff_t>(
        value.getOffsetStart(), 0, static_cast<std::ptrdiff_t>(text.size()));
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

} // namespace roamnode

#include "bus/JsonRead.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>

namespace roamnode {
namespace {

// Counts outside strings only; brackets in comments count too, which can only refuse more.
bool withinLimits(const std::string& text, const JsonLimits& limits, std::string* why)
{
    std::size_t values = 0;
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '{':
        case '[':
            if (++depth > limits.depth) {
                if (why)
                    *why = "nested deeper than " + std::to_string(limits.depth) + " levels";
                return false;
            }
            [[fallthrough]];
        case ',':
            if (++values > limits.values) {
                if (why)
                    *why = "more than " + std::to_string(limits.values) + " values";
                return false;
            }
            break;
        case '}':
        case ']':
            if (depth > 0)
                --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

} // namespace

bool parseJson(const std::string& text, Json::Value& root, std::string* why,
               const JsonLimits& limits)
{
    if (!withinLimits(text, limits, why))
        return false;
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["collectComments"] = false;
    builder["stackLimit"] = static_cast<int>(limits.depth) + 1;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        if (reader->parse(text.data(), text.data() + text.size(), &root, &errors))
            return true;
    } catch (const std::exception&) {
        // The reader's own depth guard; the pass above stops such input first.
    }
    if (why)
        *why = "not valid JSON";
    return false;
}

std::string compactJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

} // namespace roamnode

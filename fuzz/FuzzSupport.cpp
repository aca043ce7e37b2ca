#include "FuzzSupport.h"

#include "log/LogMessage.h"

#include <json/json.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzzsupport {

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

bool isJson(const std::string& text)
{
    // Raw control bytes may not stand inside strings; jsoncpp lets them pass, stricter readers
    // do not.
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r' && c != '\t')
            return false;
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
}

bool isUtf8(const std::string& text)
{
    return roamnode::log::validUtf8(text) == text;
}

} // namespace fuzzsupport

#include "JsonText.h"

#include <cstdio>

namespace roamnode {
namespace {

bool isJsonContainerOrString(const std::string& text)
{
    if (text.size() < 2)
        return false;
    const char first = text.front();
    const char last = text.back();
    return (first == '"' && last == '"') || (first == '{' && last == '}') ||
           (first == '[' && last == ']');
}

void appendEscaped(std::string& out, const std::string& text, bool escapeAllControls)
{
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        default:
            if (escapeAllControls && static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
                out += buffer;
            } else {
                out += c;
            }
        }
    }
}

} // namespace

std::string jsonQuote(const std::string& text)
{
    if (isJsonContainerOrString(text))
        return text;
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    appendEscaped(out, text, false);
    out += '"';
    return out;
}

std::string jsonString(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    appendEscaped(out, text, true);
    out += '"';
    return out;
}

std::string flatJsonObject(const std::map<std::string, std::string>& members)
{
    std::string out = "{";
    bool first = true;
    for (const auto& [key, value] : members) {
        if (!first)
            out += ", ";
        first = false;
        out += jsonQuote(key);
        out += ": ";
        out += value;
    }
    out += "}";
    return out;
}

} // namespace roamnode

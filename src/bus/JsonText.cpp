#include "bus/JsonText.h"

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
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (escapeAllControls && static_cast<unsigned char>(c) >= 0x80) {
            // A byte that is not part of well-formed UTF-8 would make the whole text unreadable
            // to a strict JSON reader; it becomes U+FFFD.
            const std::size_t length = utf8SequenceLength(text, i);
            if (length == 0) {
                out += "\\ufffd";
            } else {
                out.append(text, i, length);
                i += length - 1;
            }
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
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

std::size_t utf8SequenceLength(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf)
            return 0;
    }
    return length;
}

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

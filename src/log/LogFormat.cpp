#include "LogFormat.h"

#include "JsonText.h"
#include "LogLevel.h"

#include <cstdlib>

namespace roamnode::log {
namespace {

std::string escapeField(const std::string& message)
{
    std::string out;
    out.reserve(message.size());
    for (const char c : message) {
        if (c == ';' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// Reads one field up to the next unescaped ';'. Returns false at the end of the text when no
// terminating ';' follows (a truncated last field is dropped, as a partial write would leave it).
bool readField(const std::string& text, std::size_t& pos, std::string& field)
{
    field.clear();
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == ';')
            return true;
        if (c == '\\' && pos < text.size() && (text[pos] == ';' || text[pos] == '\\')) {
            field += text[pos++];
            continue;
        }
        field += c;
    }
    return false;
}

} // namespace

std::string encodeLogFile(const EntryList& entries)
{
    std::string out;
    for (const auto& entry : entries) {
        out += std::to_string(entry->level);
        out += ';';
        out += std::to_string(toNanoseconds(entry->time) / 1000000);
        out += ';';
        out += escapeField(entry->message);
        out += ';';
    }
    return out;
}

EntryList decodeLogFile(const std::string& text)
{
    EntryList entries;
    std::size_t pos = 0;
    std::string level, millis, message;
    while (readField(text, pos, level) && readField(text, pos, millis) &&
           readField(text, pos, message)) {
        auto entry = std::make_shared<PXLogEntry>();
        entry->level = static_cast<int>(std::strtol(level.c_str(), nullptr, 10));
        entry->time = fromNanoseconds(std::strtoll(millis.c_str(), nullptr, 10) * 1000000);
        entry->message = message;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string logJson(const EntryList& entries)
{
    std::string out = "[";
    bool first = true;
    for (const auto& entry : entries) {
        // Quotes are escaped and line breaks dropped first; jsonQuote then escapes again, so a
        // double quote reaches the hub as \\\" (the hub's log reader undoes both levels).
        std::string message;
        for (const char c : entry->message) {
            if (c == '"')
                message += "\\\"";
            else if (c != '\n' && c != '\r')
                message += c;
        }
        if (!first)
            out += ", ";
        first = false;
        out += "{\"timestamp\": ";
        out += std::to_string(toNanoseconds(entry->time));
        out += ", \"message\": ";
        out += jsonQuote(message);
        out += ", \"level\": ";
        out += jsonQuote(levelName(entry->level));
        out += "}";
    }
    out += "]";
    return out;
}

} // namespace roamnode::log

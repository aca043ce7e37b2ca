#include "log/LogFormat.h"

#include "bus/JsonText.h"
#include "log/LogLevel.h"
#include "log/LogMessage.h"

#include <algorithm>
#include <charconv>
#include <istream>
#include <limits>
#include <ostream>
#include <vector>

namespace roamnode::log {
namespace {

bool needsEscape(char c)
{
    return c == ';' || c == '\\';
}

// Reads the file in blocks and hands out its fields one at a time. A field keeps at most
// kMaxFieldBytes; the rest of a longer one is read past and only noted.
class FieldReader
{
public:
    // A cut message plus room for the escapes of its bytes would be more; nothing valid is.
    static constexpr std::size_t kMaxFieldBytes = kMaxMessageBytes + 1;

    explicit FieldReader(std::istream& in) : m_in(in), m_block(64 * 1024) {}

    // False at the end of the file when no ';' ends the field.
    bool next(std::string& field, bool& overlong)
    {
        field.clear();
        overlong = false;
        bool escaped = false;
        while (fill()) {
            while (m_pos < m_end) {
                const char c = m_block[m_pos++];
                if (escaped) {
                    escaped = false;
                    // "\;" and "\\" are escapes; a lone backslash of an older file stays literal.
                    if (!needsEscape(c))
                        keep(field, overlong, '\\');
                    keep(field, overlong, c);
                    continue;
                }
                if (c == ';')
                    return true;
                if (c == '\\') {
                    escaped = true;
                    continue;
                }
                keep(field, overlong, c);
            }
        }
        return false;
    }

private:
    bool fill()
    {
        if (m_pos < m_end)
            return true;
        m_in.read(m_block.data(), static_cast<std::streamsize>(m_block.size()));
        m_pos = 0;
        m_end = static_cast<std::size_t>(std::max<std::streamsize>(m_in.gcount(), 0));
        return m_end > 0;
    }

    static void keep(std::string& field, bool& overlong, char c)
    {
        if (field.size() < kMaxFieldBytes)
            field += c;
        else
            overlong = true;
    }

    std::istream& m_in;
    std::vector<char> m_block;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
};

bool parseLevel(const std::string& field, int& level)
{
    if (field.size() != 1 || field[0] < '0' || field[0] > '4')
        return false;
    level = field[0] - '0';
    return true;
}

// Milliseconds whose nanosecond count fits the time type.
bool parseMilliseconds(const std::string& field, bool overlong, std::int64_t& ns)
{
    if (overlong || field.empty())
        return false;
    std::int64_t ms = 0;
    const char* end = field.data() + field.size();
    const auto parsed = std::from_chars(field.data(), end, ms);
    if (parsed.ec != std::errc() || parsed.ptr != end)
        return false;
    constexpr std::int64_t limit =
        std::numeric_limits<std::int64_t>::max() / kNanosecondsPerMillisecond;
    if (ms > limit || ms < -limit)
        return false;
    ns = millisecondsToNanoseconds(ms);
    return true;
}

} // namespace

void writeLogFile(std::ostream& out, const EntryList& entries)
{
    std::string text;
    for (const auto& entry : entries) {
        text.clear();
        appendNumber(text, entry->level);
        text += ';';
        appendNumber(text, nanosecondsToMilliseconds(toNanoseconds(entry->time)));
        text += ';';
        for (const char c : entry->message) {
            if (needsEscape(c))
                text += '\\';
            text += c;
        }
        text += ';';
        out << text;
    }
}

std::size_t encodedSize(const PXLogEntry& entry)
{
    std::string numbers;
    appendNumber(numbers, entry.level);
    appendNumber(numbers, nanosecondsToMilliseconds(toNanoseconds(entry.time)));
    const auto escapes = static_cast<std::size_t>(
        std::count_if(entry.message.begin(), entry.message.end(), needsEscape));
    return numbers.size() + entry.message.size() + escapes + 3;
}

std::size_t readLogFile(std::istream& in, LogEntries& entries)
{
    FieldReader reader(in);
    std::string field;
    bool overlong = false;
    // The fields cycle through level, milliseconds and message; one that does not fit its place
    // is dropped and the next is tried in the first place again, so a stray field (an old file's
    // unescaped ';', a cut-off write, garbage) costs only the entries it touches.
    bool haveLevel = false, haveTime = false;
    int level = 0;
    std::int64_t ns = 0;
    std::size_t read = 0;
    while (reader.next(field, overlong)) {
        if (!haveLevel) {
            haveLevel = !overlong && parseLevel(field, level);
        } else if (!haveTime) {
            haveTime = parseMilliseconds(field, overlong, ns);
            if (!haveTime)
                haveLevel = !overlong && parseLevel(field, level);
        } else {
            entries.append(std::make_shared<PXLogEntry>(
                PXLogEntry{fromNanoseconds(ns), level, cutMessage(field)}));
            ++read;
            haveLevel = haveTime = false;
        }
    }
    return read;
}

std::string logJson(const EntryList& entries)
{
    std::string out = "[";
    bool first = true;
    for (const auto& entry : entries) {
        // Quotes are escaped and line breaks dropped first; the quoting then escapes again, so a
        // double quote reaches the hub as \\\" (the hub's log reader undoes both levels).
        std::string message;
        for (const char c : validUtf8(entry->message)) {
            if (c == '"')
                message += "\\\"";
            else if (c != '\n' && c != '\r')
                message += c;
        }
        if (!first)
            out += ", ";
        first = false;
        out += "{\"timestamp\": ";
        appendNumber(out, toNanoseconds(entry->time));
        out += ", \"message\": ";
        // Always a JSON string, other control bytes as \u00XX: a message read back from a damaged
        // file may hold anything.
        out += jsonString(message);
        out += ", \"level\": ";
        out += jsonQuote(levelName(entry->level));
        out += "}";
    }
    out += "]";
    return out;
}

} // namespace roamnode::log

#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace roamnode {

// A text that already is a JSON string, object or array is returned unchanged; anything else is
// escaped (backslash, double quote, tab, backspace, CR, LF, form feed) and put between quotes.
std::string jsonQuote(const std::string& text);

// Escapes like jsonQuote and always quotes; additionally writes other control bytes as \u00XX and
// bytes that are not well-formed UTF-8 as \ufffd, so that any text becomes a valid JSON string.
// Texts without control bytes and in UTF-8 come out as jsonQuote's.
std::string jsonString(const std::string& text);

// Appends a number in plain decimal, without the temporary string std::to_string makes: result
// lists of an hour's run hold millions of them.
template <typename Integer> void appendNumber(std::string& out, Integer value)
{
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof(digits), value);
    out.append(digits, written.ptr);
}

// The length of the well-formed UTF-8 sequence at text[i] (1 for ASCII), or 0 when the byte
// there does not start one: overlong forms, surrogates and code points past U+10FFFF do not.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i);

// "{" then `jsonQuote(key): value` in ascending byte order of the keys, joined by ", ", then "}".
// The values must already be JSON text.
std::string flatJsonObject(const std::map<std::string, std::string>& members);

} // namespace roamnode

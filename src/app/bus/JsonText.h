#pragma once

#include <map>
#include <string>

namespace roamnode {

// A text that already is a JSON string, object or array is returned unchanged; anything else is
// escaped (backslash, double quote, tab, backspace, CR, LF, form feed) and put between quotes.
std::string jsonQuote(const std::string& text);

// Escapes like jsonQuote and always quotes; additionally writes other control bytes as \u00XX so
// that any text becomes a valid JSON string. Texts without control bytes come out as jsonQuote's.
std::string jsonString(const std::string& text);

// "{" then `jsonQuote(key): value` in ascending byte order of the keys, joined by ", ", then "}".
// The values must already be JSON text.
std::string flatJsonObject(const std::map<std::string, std::string>& members);

} // namespace roamnode

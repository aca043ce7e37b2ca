#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>

// Reading JSON that a peer sent. A request may be up to 16 MiB; what it makes the endpoint build
// must stay a small multiple of that, and no input may throw.
namespace roamnode {

// More structure than any hub request or scenario needs: brackets, braces and commas together.
constexpr std::size_t kMaxJsonValues = 100000;
constexpr std::size_t kMaxJsonDepth = 256;

// How much structure a text may hold. A peer's text gets the defaults; the hub's own files (a
// long run's results) may hold more values, never more depth.
struct JsonLimits
{
    std::size_t values = kMaxJsonValues;
    std::size_t depth = kMaxJsonDepth;
};

// Parses `text` (comments allowed) into `root`. A pass over the text counts containers, members
// and nesting first, so an oversized structure is refused before any of it is built. False for
// invalid JSON and for input past the limits; `why`, when given, then says which in words.
bool parseJson(const std::string& text, Json::Value& root, std::string* why = nullptr,
               const JsonLimits& limits = JsonLimits{});

// The compact form, without a trailing end of line: a string keeps its quotes, a number is its
// digits, an object or array its compact text.
std::string compactJson(const Json::Value& value);

} // namespace roamnode

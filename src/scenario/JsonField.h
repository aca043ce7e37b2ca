#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// Typed reads of description members. jsoncpp's asInt() and friends throw on a value of the
// wrong type, so every read checks the type first and reports it; a member whose value is JSON
// null counts as missing. The object passed in must be a JSON object.
namespace roamnode::json {

enum class Field {
    Ok,
    Missing,
    WrongType,
};

// The member's value, or nullptr when it is absent or null.
const Json::Value* member(const Json::Value& object, const char* key);

// Any JSON integer (also an integral number written with a fraction or exponent); values above
// the signed range keep their bit pattern, as the description's unsigned fields expect.
bool isInteger(const Json::Value& value);
std::int64_t toInt64(const Json::Value& value);

Field readInt64(const Json::Value& object, const char* key, std::int64_t& out);
Field readString(const Json::Value& object, const char* key, std::string& out);

} // namespace roamnode::json

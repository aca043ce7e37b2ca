#include "scenario/JsonField.h"

#include <cstring>

namespace roamnode::json {

const Json::Value* member(const Json::Value& object, const char* key)
{
    if (!object.isObject())
        return nullptr;
    const Json::Value* value = object.find(key, key + std::strlen(key));
    if (value == nullptr || value->isNull())
        return nullptr;
    return value;
}

bool isInteger(const Json::Value& value)
{
    return value.isInt64() || value.isUInt64();
}

std::int64_t toInt64(const Json::Value& value)
{
    if (value.isInt64())
        return value.asInt64();
    return static_cast<std::int64_t>(value.asUInt64());
}

Field readInt64(const Json::Value& object, const char* key, std::int64_t& out)
{
    const Json::Value* value = member(object, key);
    if (value == nullptr)
        return Field::Missing;
    if (!isInteger(*value))
        return Field::WrongType;
    out = toInt64(*value);
    return Field::Ok;
}

Field readString(const Json::Value& object, const char* key, std::string& out)
{
    const Json::Value* value = member(object, key);
    if (value == nullptr)
        return Field::Missing;
    if (!value->isString())
        return Field::WrongType;
    out = value->asString();
    return Field::Ok;
}

} // namespace roamnode::json

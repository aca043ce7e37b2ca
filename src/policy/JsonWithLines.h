#pragma once

#include <json/value.h>

#include <string>

namespace roamnode {

// Reading a JSON file a person wrote: when it does not parse, `error` names the line and column
// ("line 4, column 13: Missing ',' or '}' in object declaration") so the person can fix it.
// Comments are allowed; the size limits are those of parseJson.
bool parseJsonWithLines(const std::string& text, Json::Value& root, std::string& error);

// The line (from 1) on which a value that parseJsonWithLines read begins.
int lineOf(const std::string& text, const Json::Value& value);

} // namespace roamnode

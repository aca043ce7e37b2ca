#pragma once

#include <json/value.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace hubrun {

// Reads a JSON file that may carry // and /* */ comments (roamnode::parseJson, JsonRead.h).
bool readJsonFile(const std::string& path, Json::Value& value, std::string& error);

// Replaces every flow's "dstport" equal to `from` by `to`; returns how many were replaced.
int rewriteDstPort(Json::Value& scenario, std::uint16_t from, std::uint16_t to);

// A map file is a JSON object from endpoint (device id, given name or address) to scenario: the
// scenario itself, or the name of its file (relative names are taken from the map file's folder).
bool readScenarioMap(const std::string& path, std::map<std::string, Json::Value>& scenarios,
                     std::string& error);

// The key of a map that names an endpoint: its device id; else its given name or one of its
// addresses, when exactly one key is such. Several such keys: empty, and `problem` says which.
std::string matchMapKey(const std::map<std::string, Json::Value>& scenarios,
                        const std::string& deviceId, const std::string& name,
                        const std::set<std::string>& addresses, std::string& problem);

} // namespace hubrun

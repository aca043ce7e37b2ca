#include "ScenarioFile.h"

#include "TextFile.h"
#include "bus/JsonRead.h"

#include <memory>
#include <vector>

namespace hubrun {

bool readJsonFile(const std::string& path, Json::Value& value, std::string& error)
{
    std::string text;
    if (!roamnode::tools::readTextFile(path, text)) {
        error = "cannot read " + path;
        return false;
    }
    if (!roamnode::parseJson(text, value, &error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

int rewriteDstPort(Json::Value& scenario, std::uint16_t from, std::uint16_t to)
{
    if (!scenario.isObject() || !scenario["flows"].isArray())
        return 0;
    int count = 0;
    for (Json::Value& flow : scenario["flows"]) {
        if (!flow.isObject() || !flow["flow"].isObject())
            continue;
        Json::Value& content = flow["flow"];
        if (content.isMember("dstport") && content["dstport"].isIntegral() &&
            content["dstport"].asLargestInt() == from) {
            content["dstport"] = to;
            ++count;
        }
    }
    return count;
}

bool readScenarioMap(const std::string& path, std::map<std::string, Json::Value>& scenarios,
                     std::string& error)
{
    Json::Value map;
    if (!readJsonFile(path, map, error))
        return false;
    if (!map.isObject() || map.empty()) {
        error = path + ": expected an object from device id to scenario";
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (const std::string& device : map.getMemberNames()) {
        const Json::Value& entry = map[device];
        Json::Value scenario;
        if (entry.isString()) {
            const std::string file = entry.asString();
            if (!readJsonFile(!file.empty() && file[0] == '/' ? file : folder + file, scenario,
                              error))
                return false;
        } else {
            scenario = entry;
        }
        if (!scenario.isObject()) {
            error = path + ": the scenario of " + device + " is not an object";
            return false;
        }
        scenarios[device] = scenario;
    }
    return true;
}

std::string matchMapKey(const std::map<std::string, Json::Value>& scenarios,
                        const std::string& deviceId, const std::string& name,
                        const std::set<std::string>& addresses, std::string& problem)
{
    if (scenarios.count(deviceId) != 0)
        return deviceId;
    std::vector<std::string> keys;
    for (const auto& entry : scenarios)
        if ((!name.empty() && entry.first == name) || addresses.count(entry.first) != 0)
            keys.push_back(entry.first);
    if (keys.size() == 1)
        return keys[0];
    if (keys.size() > 1) {
        problem = "the map keys";
        for (const std::string& key : keys)
            problem += " \"" + key + "\"";
        problem += " all name endpoint " + deviceId + "; use its device id";
    }
    return {};
}

} // namespace hubrun

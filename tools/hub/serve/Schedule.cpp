#include "Schedule.h"

#include "DecimalOption.h"
#include "ScenarioFile.h"
#include "bus/TimePoint.h"

#include <algorithm>
#include <set>

namespace hubserve {
namespace {

constexpr std::int64_t kSecondNs = roamnode::kNanosecondsPerSecond;
constexpr std::int64_t kDayNs = 86400 * kSecondNs;

// "HH:MM" or "HH:MM:SS".
bool parseTimeOfDay(const std::string& text, std::int64_t& ns)
{
    std::uint64_t parts[3] = {0, 0, 0};
    std::size_t count = 0, start = 0;
    while (count < 3) {
        const std::size_t colon = text.find(':', start);
        const std::string part =
            text.substr(start, colon == std::string::npos ? colon : colon - start);
        if (part.size() != 2 ||
            !roamnode::tools::parseDecimal(part, count == 0 ? 23 : 59, parts[count]))
            return false;
        ++count;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    if (count < 2 || start > text.size())
        return false;
    ns = static_cast<std::int64_t>(parts[0] * 3600 + parts[1] * 60 + parts[2]) * kSecondNs;
    return true;
}

bool parseTest(const Json::Value& entry, const std::string& folder, ScheduledTest& test,
               std::string& error)
{
    if (!entry.isObject() || !entry["name"].isString() || entry["name"].asString().empty()) {
        error = "every test needs a \"name\"";
        return false;
    }
    test.name = entry["name"].asString();
    const Json::Value& scenario = entry["scenario"];
    if (scenario.isString()) {
        const std::string file = scenario.asString();
        if (!hubrun::readJsonFile(!file.empty() && file[0] == '/' ? file : folder + file,
                                  test.scenario, error))
            return false;
    } else {
        test.scenario = scenario;
    }
    if (!test.scenario.isObject()) {
        error = "\"scenario\" is neither a scenario object nor the name of its file";
        return false;
    }
    const Json::Value& endpoints = entry["endpoints"];
    if (endpoints.isString())
        test.endpoints.push_back(endpoints.asString());
    for (const Json::Value& e : endpoints.isArray() ? endpoints : Json::Value(Json::arrayValue))
        if (e.isString() && !e.asString().empty())
            test.endpoints.push_back(e.asString());
    if (test.endpoints.empty()) {
        error = "\"endpoints\" names no endpoint (device ids, names or \"all\")";
        return false;
    }
    const bool every = entry.isMember("every"), at = entry.isMember("at");
    if (every == at) {
        error = "give either \"every\" or \"at\"";
        return false;
    }
    if (every) {
        if (!entry["every"].isString() || !parseInterval(entry["every"].asString(), test.everyNs) ||
            test.everyNs <= 0) {
            error = "\"every\" is a number with s, m or h, such as \"10m\"";
            return false;
        }
        if (entry.isMember("offset") &&
            (!entry["offset"].isString() ||
             !parseInterval(entry["offset"].asString(), test.offsetNs) ||
             test.offsetNs >= test.everyNs)) {
            error = "\"offset\" is a number with s, m or h, shorter than \"every\"";
            return false;
        }
        return true;
    }
    const Json::Value& times = entry["at"];
    for (const Json::Value& t : times.isArray() ? times : Json::Value(Json::arrayValue)) {
        std::int64_t ns = 0;
        if (!t.isString() || !parseTimeOfDay(t.asString(), ns)) {
            error = "\"at\" lists times of day (UTC) such as \"06:00\"";
            return false;
        }
        test.timesOfDayNs.push_back(ns);
    }
    if (test.timesOfDayNs.empty()) {
        error = "\"at\" lists no time";
        return false;
    }
    std::sort(test.timesOfDayNs.begin(), test.timesOfDayNs.end());
    return true;
}

} // namespace

bool parseInterval(const std::string& text, std::int64_t& ns)
{
    if (text.size() < 2)
        return false;
    const char unit = text.back();
    const std::int64_t scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 0;
    std::uint64_t number = 0;
    // Up to a year: anything longer is a mistake, and the product stays far from overflow.
    if (scale == 0 ||
        !roamnode::tools::parseDecimal(text.substr(0, text.size() - 1),
                                       static_cast<std::uint64_t>(366 * 86400 / scale), number))
        return false;
    ns = static_cast<std::int64_t>(number) * scale * kSecondNs;
    return true;
}

bool parseSchedule(const Json::Value& schedule, const std::string& folder,
                   std::vector<ScheduledTest>& tests, std::string& error)
{
    if (!schedule.isObject() || !schedule["tests"].isArray()) {
        error = "expected {\"tests\": [...]}";
        return false;
    }
    std::vector<ScheduledTest> parsed;
    std::set<std::string> names;
    for (const Json::Value& entry : schedule["tests"]) {
        ScheduledTest test;
        if (!parseTest(entry, folder, test, error)) {
            if (!test.name.empty())
                error = "test \"" + test.name + "\": " + error;
            return false;
        }
        if (!names.insert(test.name).second) {
            error = "two tests are named \"" + test.name + "\"";
            return false;
        }
        parsed.push_back(std::move(test));
    }
    tests = std::move(parsed);
    return true;
}

bool readSchedule(const std::string& path, std::vector<ScheduledTest>& tests, std::string& error)
{
    Json::Value schedule;
    if (!hubrun::readJsonFile(path, schedule, error))
        return false;
    const std::size_t slash = path.rfind('/');
    if (!parseSchedule(schedule, slash == std::string::npos ? "" : path.substr(0, slash + 1), tests,
                       error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::int64_t nextSlot(const ScheduledTest& test, std::int64_t afterNs)
{
    if (test.everyNs > 0) {
        const std::int64_t since = afterNs - test.offsetNs;
        const std::int64_t floor =
            (since >= 0 ? since / test.everyNs : (since - test.everyNs + 1) / test.everyNs);
        return (floor + 1) * test.everyNs + test.offsetNs;
    }
    const std::int64_t day = afterNs / kDayNs * kDayNs;
    for (const std::int64_t t : test.timesOfDayNs)
        if (day + t > afterNs)
            return day + t;
    return day + kDayNs + test.timesOfDayNs.front();
}

} // namespace hubserve

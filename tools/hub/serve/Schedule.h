#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hubserve {

// One test of a schedule file: a scenario, the endpoints it runs on, and when.
struct ScheduledTest
{
    std::string name;
    Json::Value scenario;
    // Device ids, given names, or "all" (every endpoint registered at the time).
    std::vector<std::string> endpoints;
    // Every `everyNs`, at the multiples of it since 1970-01-01 00:00 UTC plus `offsetNs`...
    std::int64_t everyNs = 0;
    std::int64_t offsetNs = 0;
    // ...or at these times of the day (ns after midnight UTC).
    std::vector<std::int64_t> timesOfDayNs;
};

// A schedule file: JSON (comments allowed) of the form
//   {"tests": [{"name": "voice", "scenario": {...} or "voice.json",
//               "endpoints": ["all"], "every": "10m", "offset": "2m"},
//              {"name": "night", "scenario": "bulk.json", "endpoints": ["lab-3"],
//               "at": ["02:00", "14:30"]}]}
// Scenario file names are taken from the schedule's folder. False, with the file and the test
// in `error`, on anything it cannot use.
bool readSchedule(const std::string& path, std::vector<ScheduledTest>& tests, std::string& error);
bool parseSchedule(const Json::Value& schedule, const std::string& folder,
                   std::vector<ScheduledTest>& tests, std::string& error);

// "30s", "10m", "2h" (a whole number and its unit) in ns; false otherwise.
bool parseInterval(const std::string& text, std::int64_t& ns);

// The test's first time strictly after `afterNs` (ns since the epoch, UTC).
std::int64_t nextSlot(const ScheduledTest& test, std::int64_t afterNs);

} // namespace hubserve

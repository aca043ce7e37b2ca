#include "Schedule.h"
#include "bus/JsonRead.h"

#include <gtest/gtest.h>

namespace {

using hubserve::ScheduledTest;

constexpr std::int64_t kS = 1000000000;
// 2026-12-07 00:00:00 UTC
constexpr std::int64_t kMidnight = 1796601600 * kS;

std::string parse(const std::string& text, std::vector<ScheduledTest>& tests)
{
    Json::Value value;
    std::string error;
    if (!roamnode::parseJson(text, value, &error))
        return "json: " + error;
    return hubserve::parseSchedule(value, "", tests, error) ? std::string() : error;
}

TEST(HubSchedule, TestsRunAtTheirSlots)
{
    std::vector<ScheduledTest> tests;
    ASSERT_EQ(parse(R"(// comments are allowed
        {"tests": [
          {"name": "e", "scenario": {"scenarioid": 1}, "endpoints": ["all"], "every": "10m",
           "offset": "2m"},
          {"name": "a", "scenario": {"scenarioid": 2}, "endpoints": "lab-3",
           "at": ["18:30", "06:00:30"]}]})",
                    tests),
              "");
    ASSERT_EQ(tests.size(), 2u);
    EXPECT_EQ(tests[1].endpoints, std::vector<std::string>{"lab-3"});
    // Each case: the test, a time, and its next slot after that time.
    const std::tuple<std::size_t, std::int64_t, std::int64_t> cases[] = {
        {0, kMidnight, kMidnight + 120 * kS},            // offset from the hour
        {0, kMidnight + 120 * kS, kMidnight + 720 * kS}, // strictly after
        {0, kMidnight + 719 * kS, kMidnight + 720 * kS},
        {1, kMidnight, kMidnight + 21630 * kS},                           // 06:00:30, times sorted
        {1, kMidnight + 21630 * kS, kMidnight + 66600 * kS},              // then 18:30
        {1, kMidnight + 70000 * kS, kMidnight + 86400 * kS + 21630 * kS}, // tomorrow
    };
    for (const auto& [test, after, next] : cases)
        EXPECT_EQ(hubserve::nextSlot(tests[test], after), next)
            << tests[test].name << " after +" << (after - kMidnight) / kS << " s";
}

TEST(HubSchedule, RefusesWhatItCannotUse)
{
    // One test named "x" for every endpoint, of an empty scenario, with `rest` added.
    const auto one = [](const std::string& rest) {
        return R"({"tests": [{"name": "x", "scenario": {}, "endpoints": ["all"])" + rest + "}]}";
    };
    const std::pair<std::string, const char*> cases[] = {
        {R"({"test": []})", "expected {\"tests\": [...]}"},
        {R"({"tests": [{"scenario": {}, "endpoints": ["all"], "every": "1m"}]})", "\"name\""},
        {R"({"tests": [{"name": "x", "scenario": 3, "endpoints": ["all"], "every": "1m"}]})",
         "test \"x\": \"scenario\""},
        {R"({"tests": [{"name": "x", "scenario": {}, "endpoints": [], "every": "1m"}]})",
         "names no endpoint"},
        {one(""), "either"},
        {one(R"(, "every": "10")"), "\"every\""},
        {one(R"(, "every": "-1m")"), "\"every\""},
        {one(R"(, "every": "0s")"), "\"every\""},
        {one(R"(, "every": "1m", "offset": "1m")"), "\"offset\""},
        {one(R"(, "at": ["24:00"])"), "\"at\""},
        {one(R"(, "at": ["6:00"])"), "\"at\""},
        {R"({"tests": [{"name": "x", "scenario": "/nonexistent.json", "endpoints": ["all"],
             "at": ["06:00"]}]})",
         "cannot read /nonexistent.json"},
        {R"({"tests": [{"name": "x", "scenario": {}, "endpoints": ["all"], "every": "1m"},
                       {"name": "x", "scenario": {}, "endpoints": ["all"], "every": "1m"}]})",
         "two tests are named"},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<ScheduledTest> tests;
        const std::string error = parse(text, tests);
        EXPECT_NE(error.find(expected), std::string::npos) << text << "\n-> " << error;
        EXPECT_TRUE(tests.empty());
    }
}

} // namespace

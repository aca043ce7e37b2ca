// The scenario manager on the bus: its answers, codes 46 to 48, the result list and its reset.
#include "ScenarioTestSupport.h"
#include "scenario/PXScenarioResult.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using scenariotest::waitFor;

namespace {

const char* emptyScenario = "{\"scenarioid\": 21, \"duration\": 0, \"flows\": []}";

class ManagerTest : public scenariotest::ManagerOnBus
{
protected:
    // The manager's own notification carries a number; the hub's request carries text.
    int notifications() const
    {
        int n = 0;
        for (const auto& entry : recorder.events)
            n += entry.id == SET_SCENARIO_START_TIME && entry.text.empty() ? 1 : 0;
        return n;
    }
};

} // namespace

TEST_F(ManagerTest, StartTimeWithoutDescriptionIs46AndInThePastIs47)
{
    const std::string later = std::to_string(roamnode::nowNanoseconds() + 1000000000);
    EXPECT_EQ(set(SET_SCENARIO_START_TIME, later, SCENARIO_START_TIME_SET), 46);
    EXPECT_EQ(set(SET_SCENARIO_START_TIME, "abc", SCENARIO_START_TIME_SET), 46);
    EXPECT_EQ(set(SET_ABORT_DETECTION_INTERVAL, "5", ABORT_DETECTION_INTERVAL_SET), 48);

    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    EXPECT_EQ(set(SET_SCENARIO_START_TIME, "abc", SCENARIO_START_TIME_SET), 47);
    EXPECT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(roamnode::nowNanoseconds() - 1000000),
                  SCENARIO_START_TIME_SET),
              47);
    EXPECT_EQ(notifications(), 0);
    EXPECT_FALSE(manager->worker().scheduled());
}

TEST_F(ManagerTest, AcceptedStartTimeIsNotifiedBeforeTheReplyAndTruncated)
{
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    const std::int64_t value = roamnode::nowNanoseconds() + 3600000000000LL + 123;
    EXPECT_EQ(
        set(SET_SCENARIO_START_TIME, " " + std::to_string(value) + "xyz", SCENARIO_START_TIME_SET),
        0);
    ASSERT_EQ(notifications(), 1);
    std::size_t notifiedAt = 0;
    std::size_t repliedAt = 0;
    for (std::size_t i = 0; i < recorder.events.size(); ++i) {
        const auto& entry = recorder.events[i];
        if (entry.id == SET_SCENARIO_START_TIME && entry.text.empty()) {
            notifiedAt = i;
            EXPECT_EQ(entry.number, static_cast<unsigned long>(value));
        }
        if (entry.id == SCENARIO_START_TIME_SET)
            repliedAt = i;
    }
    EXPECT_LT(notifiedAt, repliedAt);
    EXPECT_EQ(manager->worker().startTime(), value / 1000 * 1000);
    EXPECT_TRUE(manager->worker().scheduled());

    bus->publish(GET_SCENARIO_START_TIME);
    EXPECT_EQ(recorder.last(SCENARIO_START_TIME)->number,
              static_cast<unsigned long>(value / 1000 * 1000));
}

TEST_F(ManagerTest, StartTimeSentAsJsonStringIsAccepted)
{
    // {"command": "set", "scenariostarttime": "1700..."} reaches the manager with its quotes.
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    const std::int64_t value = roamnode::nowNanoseconds() + 3600000000000LL;
    EXPECT_EQ(
        set(SET_SCENARIO_START_TIME, "\"" + std::to_string(value) + "\"", SCENARIO_START_TIME_SET),
        0);
    EXPECT_EQ(manager->worker().startTime(), value / 1000 * 1000);
    EXPECT_EQ(set(SET_ABORT_DETECTION_INTERVAL, "\"250\"", ABORT_DETECTION_INTERVAL_SET), 0);
    bus->publish(GET_ABORT_DETECTION_INTERVAL);
    EXPECT_EQ(recorder.last(ABORT_DETECTION_INTERVAL)->number, 250u);
}

TEST_F(ManagerTest, StartTimeIsZeroBeforeAnyAndOnceItHasPassed)
{
    bus->publish(GET_SCENARIO_START_TIME);
    EXPECT_EQ(recorder.last(SCENARIO_START_TIME)->number, 0u);
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    ASSERT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(roamnode::nowNanoseconds() + 5000000),
                  SCENARIO_START_TIME_SET),
              0);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_STARTING) == 1; }, 1000ms));
    bus->publish(GET_SCENARIO_START_TIME);
    EXPECT_EQ(recorder.last(SCENARIO_START_TIME)->number, 0u);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 2000ms));
}

TEST_F(ManagerTest, AbortDetectionIntervalBelongsToTheDescription)
{
    const auto interval = [&] {
        bus->publish(GET_ABORT_DETECTION_INTERVAL);
        return recorder.last(ABORT_DETECTION_INTERVAL)->number;
    };
    EXPECT_EQ(interval(), 0u);
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    EXPECT_EQ(set(SET_ABORT_DETECTION_INTERVAL, "5000000000", ABORT_DETECTION_INTERVAL_SET), 0);
    EXPECT_EQ(interval(), 5000000000u);
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    EXPECT_EQ(interval(), 0u);
}

TEST_F(ManagerTest, RefusedDescriptionLeavesNothingToArm)
{
    // One "set" of a refused description and a valid start time must not arm the scenario
    // stored before it.
    const std::string later = std::to_string(roamnode::nowNanoseconds() + 3600000000000LL);
    for (const char* refused : {"{\"scenarioid\": 1}", "[]", "nonsense",
                                "{\"scenarioid\": 1, \"duration\": -1, \"flows\": []}"}) {
        SCOPED_TRACE(refused);
        ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
        EXPECT_NE(set(SET_SCENARIO_DESCRIPTION, refused, SCENARIO_DESCRIPTION_SET), 0);
        EXPECT_EQ(manager->currentScenario(), nullptr);
        EXPECT_EQ(set(SET_ABORT_DETECTION_INTERVAL, "5", ABORT_DETECTION_INTERVAL_SET), 48);
        EXPECT_EQ(set(SET_SCENARIO_START_TIME, later, SCENARIO_START_TIME_SET), 46);
        EXPECT_FALSE(manager->worker().scheduled());
    }
    EXPECT_EQ(notifications(), 0);
}

TEST_F(ManagerTest, DescriptionIsAnsweredAsCompactText)
{
    bus->publish(GET_SCENARIO_DESCRIPTION);
    ASSERT_NE(recorder.last(SCENARIO_DESCRIPTION), nullptr);
    EXPECT_EQ(recorder.last(SCENARIO_DESCRIPTION)->text, "\"\"");
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION,
                  "{ \"scenarioid\": 21, /* note */ \"duration\": 0, \"flows\": [] }",
                  SCENARIO_DESCRIPTION_SET),
              0);
    bus->publish(GET_SCENARIO_DESCRIPTION);
    EXPECT_EQ(recorder.last(SCENARIO_DESCRIPTION)->text,
              "{\"duration\":0,\"flows\":[],\"scenarioid\":21}");
}

TEST_F(ManagerTest, RunEndsAndResultListResets)
{
    EXPECT_EQ(resultList(), "[]");
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    const std::int64_t start = roamnode::nowNanoseconds() + 2000000;
    ASSERT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(start), SCENARIO_START_TIME_SET), 0);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 2000ms));
    EXPECT_EQ(recorder.count(SCENARIO_STARTING), 1);
    const std::string expected =
        "[{\"scenarioid\": 21, \"timestamp\": " + std::to_string(start / 1000 * 1000) +
        ", \"flows\":[]}]";
    EXPECT_EQ(resultList(), expected);

    // The same stored scenario again: a record of its own; the first one stays as it was.
    const std::int64_t again = roamnode::nowNanoseconds() + 2000000;
    ASSERT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(again), SCENARIO_START_TIME_SET), 0);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 2; }, 2000ms));
    ASSERT_EQ(manager->resultList().size(), 2u);
    EXPECT_NE(manager->resultList()[0], manager->resultList()[1]);
    EXPECT_EQ(resultList().substr(0, expected.size() - 1), expected.substr(0, expected.size() - 1));

    EXPECT_EQ(set(SET_RESULT_LIST, "anything", RESULT_LIST_SET), 0);
    EXPECT_EQ(resultList(), "[]");
}

TEST_F(ManagerTest, NewDescriptionDuringARunDoesNotLoseTheRun)
{
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION,
                  "{\"scenarioid\": 30, \"duration\": 100000000, \"flows\": []}",
                  SCENARIO_DESCRIPTION_SET),
              0);
    ASSERT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(roamnode::nowNanoseconds() + 1000000),
                  SCENARIO_START_TIME_SET),
              0);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_STARTING) == 1; }, 1000ms));
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 2000ms));
    ASSERT_EQ(manager->resultList().size(), 1u);
    EXPECT_EQ(manager->resultList()[0]->id(), 30);
}

TEST_F(ManagerTest, OtherEventsAreIgnored)
{
    const auto before = recorder.events.size();
    manager->handleEvent(SCENARIO_ENDED, std::string("x"));
    manager->handleEvent(RX_SPEED, PXEmptyEventContents{});
    EXPECT_EQ(recorder.events.size(), before);
}

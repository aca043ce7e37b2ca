#include "BusRecorder.h"
#include "bus/PXEventType.h"
#include "scenario/PXScenarioManager.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

const char* emptyScenario = "{\"scenarioid\": 21, \"duration\": 0, \"flows\": []}";

class ManagerTest : public ::testing::Test
{
protected:
    ManagerTest() { manager.start(); }

    // Publishes `value` on `id` and gives the status of the last `reply`; -1 when none came.
    int set(int id, const std::string& value, int reply)
    {
        bus->publish(id, value);
        return std::stoi(recorder.last(reply).value_or("-1"));
    }

    // The last answer on `id` to the request `request`.
    std::string answer(int request, int id)
    {
        bus->publish(request);
        return recorder.lastText(id);
    }

    std::shared_ptr<PXEventBus> bus = std::make_shared<PXEventBus>();
    testsupport::BusRecorder recorder{
        *bus,
        {SCENARIO_DESCRIPTION_SET, SCENARIO_START_TIME, SET_SCENARIO_START_TIME,
         SCENARIO_START_TIME_SET, ABORT_DETECTION_INTERVAL, ABORT_DETECTION_INTERVAL_SET,
         RESULT_LIST, RESULT_LIST_SET, SCENARIO_STARTING, SCENARIO_ENDED, SCENARIO_DESCRIPTION}};
    PXScenarioManager manager{bus};
};

} // namespace

// Without a stored description (none yet, or the last one refused) there is nothing to arm: a
// "set" of a refused description and a valid start time must not arm the one stored before it.
// The description is answered as stored ("" before any); the abort detection interval belongs to
// it and starts again from 0 with the next. Then a start time, plain, padded with trailing text,
// or quoted as a JSON string ({"scenariostarttime": "17..."} reaches the manager with its quotes),
// is read, truncated to microseconds, and republished before the reply.
TEST_F(ManagerTest, WithoutDescriptionStartTimeIs46ThenTheStoredOneAnswersAndArmsTruncated)
{
    EXPECT_EQ(answer(GET_SCENARIO_DESCRIPTION, SCENARIO_DESCRIPTION), "\"\"");
    EXPECT_EQ(answer(GET_ABORT_DETECTION_INTERVAL, ABORT_DETECTION_INTERVAL), "0");
    const std::string later = std::to_string(roamnode::nowNanoseconds() + 3600000000000LL);
    for (const char* refused : {"", "{\"scenarioid\": 1}", "[]", "nonsense",
                                "{\"scenarioid\": 1, \"duration\": -1, \"flows\": []}"}) {
        SCOPED_TRACE(refused);
        if (*refused) {
            ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
            EXPECT_NE(set(SET_SCENARIO_DESCRIPTION, refused, SCENARIO_DESCRIPTION_SET), 0);
        }
        EXPECT_EQ(manager.currentScenario(), nullptr);
        EXPECT_EQ(set(SET_ABORT_DETECTION_INTERVAL, "5", ABORT_DETECTION_INTERVAL_SET), 48);
        EXPECT_EQ(set(SET_SCENARIO_START_TIME, later, SCENARIO_START_TIME_SET), 46);
        EXPECT_EQ(set(SET_SCENARIO_START_TIME, "abc", SCENARIO_START_TIME_SET), 46);
        EXPECT_FALSE(manager.worker().scheduled());
    }
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    EXPECT_EQ(set(SET_SCENARIO_START_TIME, "abc", SCENARIO_START_TIME_SET), 47);
    EXPECT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(roamnode::nowNanoseconds() - 1000000),
                  SCENARIO_START_TIME_SET),
              47);
    EXPECT_EQ(recorder.count(SET_SCENARIO_START_TIME), 12); // the test's own: none republished
    EXPECT_FALSE(manager.worker().scheduled());

    EXPECT_EQ(answer(GET_SCENARIO_DESCRIPTION, SCENARIO_DESCRIPTION),
              "{\"duration\":0,\"flows\":[],\"scenarioid\":21}");
    EXPECT_EQ(set(SET_ABORT_DETECTION_INTERVAL, "\"5000000000\"", ABORT_DETECTION_INTERVAL_SET), 0);
    EXPECT_EQ(answer(GET_ABORT_DETECTION_INTERVAL, ABORT_DETECTION_INTERVAL), "5000000000");
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    EXPECT_EQ(answer(GET_ABORT_DETECTION_INTERVAL, ABORT_DETECTION_INTERVAL), "0");

    const std::int64_t value = roamnode::nowNanoseconds() + 3600000000000LL + 123;
    for (const std::string& text :
         {" " + std::to_string(value) + "xyz", "\"" + std::to_string(value) + "\""}) {
        recorder.entries.clear();
        EXPECT_EQ(set(SET_SCENARIO_START_TIME, text, SCENARIO_START_TIME_SET), 0) << text;
        // The request, the manager's republication, the reply.
        ASSERT_EQ(recorder.ids(),
                  (std::vector<int>{SET_SCENARIO_START_TIME, SET_SCENARIO_START_TIME,
                                    SCENARIO_START_TIME_SET}));
        EXPECT_EQ(recorder.entries[1].text, std::to_string(value));
        EXPECT_EQ(manager.worker().startTime(), value / 1000 * 1000);
        EXPECT_TRUE(manager.worker().scheduled());
        EXPECT_EQ(answer(GET_SCENARIO_START_TIME, SCENARIO_START_TIME),
                  std::to_string(value / 1000 * 1000));
    }
}

// The start time reads 0 before any and once it has passed; a new description during the run
// does not lose it: the run's record joins the result list, which a "set" empties.
TEST_F(ManagerTest, RunEndsAndResultListResets)
{
    EXPECT_EQ(answer(GET_RESULT_LIST, RESULT_LIST), "[]");
    EXPECT_EQ(answer(GET_SCENARIO_START_TIME, SCENARIO_START_TIME), "0");
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION,
                  "{\"scenarioid\": 30, \"duration\": 100000000, \"flows\": []}",
                  SCENARIO_DESCRIPTION_SET),
              0);
    const std::int64_t start = roamnode::nowNanoseconds() + 5000000;
    ASSERT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(start), SCENARIO_START_TIME_SET), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count(SCENARIO_STARTING) == 1; }, 1000));
    EXPECT_EQ(answer(GET_SCENARIO_START_TIME, SCENARIO_START_TIME), "0");
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, emptyScenario, SCENARIO_DESCRIPTION_SET), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 2000));
    EXPECT_EQ(recorder.count(SCENARIO_STARTING), 1);
    EXPECT_EQ(answer(GET_RESULT_LIST, RESULT_LIST),
              "[{\"scenarioid\": 30, \"timestamp\": " + std::to_string(start / 1000 * 1000) +
                  ", \"flows\":[]}]");
    EXPECT_EQ(set(SET_RESULT_LIST, "anything", RESULT_LIST_SET), 0);
    EXPECT_EQ(answer(GET_RESULT_LIST, RESULT_LIST), "[]");
}

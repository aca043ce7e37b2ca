#include "device/PXNetworkInfoMonitorResultSet.h"
#include "scenario/PXScenarioResult.h"

#include <gtest/gtest.h>

constexpr std::int64_t s = 1000000000;

// Samples of one second share an entry; a late sample, whose second is before the newest
// entry's, counts in the newest; the entries grow beyond what was reserved for them.
TEST(FlowResultTest, SamplesCountInTheirSecondOrTheNewest)
{
    PXFlowResult result(1);
    result.addSample(100, 10 * s + 200000000);
    result.addSample(50, 10 * s + 900000000);
    result.addSample(10, 12 * s + 5);
    result.addSample(10, 11 * s);
    result.addSample(10, 9 * s);
    auto entries = result.countEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::make_tuple(entries[0].time, entries[0].samples, entries[0].bytes),
              std::make_tuple(10 * s + 200000000, 2ul, 150ul));
    EXPECT_EQ(std::make_tuple(entries[1].time, entries[1].samples, entries[1].bytes),
              std::make_tuple(12 * s + 5, 3ul, 30ul));
    EXPECT_EQ(std::make_pair(result.firstTime(), result.lastTime()),
              std::make_pair(10 * s + 200000000, 9 * s));

    for (std::int64_t i = 13; i < 500; ++i)
        result.addSample(1, i * s, 10);
    EXPECT_EQ(result.countEntries().size(), 489u);
    EXPECT_EQ(result.latencyEntries().size(), 487u);
}

// 60 s either way is the limit; a rejected latency is still a frame, and is counted. A second
// whose every latency was rejected has none to show.
TEST(FlowResultTest, LatencyOfSixtySecondsIsTheLimit)
{
    PXFlowResult result(1);
    result.addSample(1, 10 * s, 60 * s);
    result.addSample(1, 10 * s, 60 * s + 1);
    result.addSample(1, 10 * s, -60 * s - 1);
    result.addSample(1, 10 * s, -60 * s);
    result.addSample(1, 11 * s, 61 * s);
    const auto entries = result.latencyEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(
        std::make_tuple(entries[0].count, entries[0].rejected, entries[0].min, entries[0].max),
        std::make_tuple(2ul, 2ul, -60 * s, 60 * s));
    EXPECT_EQ(result.countEntries()[0].samples, 4u);
    EXPECT_NE(result.json().find("}, {}]"), std::string::npos) << result.json();
}

TEST(FlowResultTest, LatencyEntriesFollowTheSecondsWithWelfordsMeanAndDeviation)
{
    PXFlowResult result(1);
    result.addLatencyEntry(9 * s);
    result.addSample(1, 9 * s + 5, 100);
    for (std::int64_t v : {2, 4, 4, 4, 5, 5, 7})
        result.addSample(1, 10 * s, v * 1000);
    result.addSample(1, 9 * s + 7, 9000); // late: goes to the newest entry
    const auto entries = result.latencyEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::make_tuple(entries[0].time, entries[0].count), std::make_tuple(9 * s, 1ul));
    const auto& entry = entries[1];
    EXPECT_EQ(std::make_tuple(entry.count, entry.min, entry.max),
              std::make_tuple(8ul, 2000l, 9000l));
    EXPECT_DOUBLE_EQ(entry.mean, 5000.0);
    EXPECT_NEAR(entry.squaredDeviations, 32e6, 1e-3);
    // One latency has no jitter.
    EXPECT_NE(result.json().find("[{\"latencymin\": 100, \"latencymax\": 100, \"latencyavg\": "
                                 "100, \"jitter\": 0}, "),
              std::string::npos)
        << result.json();
}

TEST(ResultListJsonTest, ExactTextOfAFullRecord)
{
    auto first = std::make_shared<PXScenarioResult>(12);
    first->setTimestamp(10 * s);
    auto stream = first->createFlowResult(1);
    stream->addSample(106, 10 * s + 200000000);
    stream->addSample(106, 10 * s + 900000000);
    stream->addSample(106, 11 * s + 1);
    stream->setSuccess();
    auto trigger = first->createFlowResult(2);
    trigger->addLatencyEntry(10 * s);
    trigger->addSample(106, 10 * s + 300000000, 1000);
    trigger->addSample(106, 10 * s + 400000000, 3000);
    trigger->setError("bind: \"port\"\tbusy");
    auto info = std::make_shared<PXNetworkInfoMonitorResultSet>(4);
    first->addMonitorResult(info);
    auto other = std::make_shared<PXMonitorResultSet>(5, "custom");
    other->status = 7;
    other->errorMessage = "none";
    first->addMonitorResult(other);
    auto second = std::make_shared<PXScenarioResult>(13);
    second->createFlowResult(-1);

    const std::string expected =
        "[{\"scenarioid\": 12, \"timestamp\": 10000000000, \"flows\":["
        "{\"id\": 1, \"status\": \"success\", \"errormsg\": \"\", "
        "\"timestamparray\": [10000000000, 11000000000], \"packetcountarray\": [2, 1], "
        "\"bytecountarray\": [212, 106],\"timestampfirst\": 10200000000, "
        "\"timestamplast\": 11000000001}, "
        "{\"id\": 2, \"status\": \"error\", \"errormsg\": \"bind: \\\"port\\\"\\tbusy\", "
        "\"timestamparray\": [10000000000], \"packetcountarray\": [2], "
        "\"bytecountarray\": [212],\"timestampfirst\": 10300000000, "
        "\"timestamplast\": 10400000000, \"latencyarray\": [{\"latencymin\": 1000, "
        "\"latencymax\": 3000, \"latencyavg\": 2000, \"jitter\": 1414}]}], "
        "\"monitors\":[{\"id\":4, \"type\":\"networkinfo\", \"status\":\"success\", "
        "\"errormsg\":\"\", \"monitorresult\":" +
        info->resultJson() +
        "}, {\"id\":5, \"type\":\"custom\", \"status\":\"unknown\", \"errormsg\":\"none\", "
        "\"monitorresult\":{}}]}, "
        "{\"scenarioid\": 13, \"timestamp\": 0, \"flows\":[{\"id\": -1, \"status\": \"\", "
        "\"errormsg\": \"\", \"timestamparray\": [], \"packetcountarray\": [], "
        "\"bytecountarray\": []}]}]";
    EXPECT_EQ(resultListJson({first, second}), expected);
    EXPECT_EQ(resultListJson({}), "[]");

    first->clear();
    EXPECT_EQ(resultListJson({first}),
              "[{\"scenarioid\": 12, \"timestamp\": 10000000000, \"flows\":[]}]");
    // A monitor that failed says "error".
    other->status = 1;
    second->addMonitorResult(other);
    EXPECT_NE(resultListJson({second}).find("\"status\":\"error\""), std::string::npos);
}

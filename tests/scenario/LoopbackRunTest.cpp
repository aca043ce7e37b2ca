// A real run through the manager on loopback: streams of this endpoint into triggers of this
// endpoint, with the time tag written by one and read by the other.
#include "JsonParse.h"
#include "LoopbackPort.h"
#include "ScenarioTestSupport.h"

#include <json/writer.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using scenariotest::waitFor;
using testsupport::unusedLoopbackPort;

namespace {

// Flows `id` and `id` + 1: 100 time-tagged frames of 64 bytes from a stream into a trigger
// measuring latency.
std::string streamIntoTrigger(bool v6, int id)
{
    const std::string family = v6 ? "v6" : "v4";
    const std::string address = v6 ? "::1" : "127.0.0.1";
    const std::string ports =
        "\"srcport\": " + std::to_string(unusedLoopbackPort(SOCK_DGRAM, v6)) +
        ", \"dstport\": " + std::to_string(unusedLoopbackPort(SOCK_DGRAM, v6));
    std::string frame;
    for (int i = 0; i < 64; ++i)
        frame += "a5";
    return "{\"id\": " + std::to_string(id) + ", \"flowtype\": \"stream" + family +
           "\", \"flow\": {\"initialtimetowait\": 100000000, " + ports + ", \"dstip" + family +
           "\": \"" + address + "\", \"interframegap\": 10000000, \"numberofframes\": 100, " +
           "\"contentlist\": [\"" + frame +
           "\"], \"timetags\": [{\"position\": 8, \"timeoffset\": 0}]}}, {\"id\": " +
           std::to_string(id + 1) + ", \"flowtype\": \"trigger" + family + "\", \"flow\": {" +
           ports + ", \"srcip" + family + "\": \"" + address +
           "\", \"latency\": {\"type\": \"average\", \"position\": 8, \"timeoffset\": 0}}}";
}

std::uint64_t sum(const Json::Value& array)
{
    std::uint64_t total = 0;
    for (const auto& value : array)
        total += value.asUInt64();
    return total;
}

using LoopbackRunTest = scenariotest::ManagerOnBus;

} // namespace

TEST_F(LoopbackRunTest, StreamsIntoTriggersOnIpv4AndIpv6)
{
    const bool v6 = unusedLoopbackPort(SOCK_DGRAM, true) != 0;
    const std::string description = "{\"scenarioid\": 77, \"duration\": 1300000000, \"flows\": [" +
                                    streamIntoTrigger(false, 1) +
                                    (v6 ? ", " + streamIntoTrigger(true, 3) : "") + "]}";
    ASSERT_EQ(set(SET_SCENARIO_DESCRIPTION, description, SCENARIO_DESCRIPTION_SET), 0);
    ASSERT_EQ(set(SET_SCENARIO_START_TIME, std::to_string(roamnode::nowNanoseconds() + 20000000),
                  SCENARIO_START_TIME_SET),
              0);
    ASSERT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 5000ms));
    const std::string text = resultList();
    const auto list = testsupport::parsed(text);
    ASSERT_TRUE(list) << text;
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0]["scenarioid"].asInt(), 77);
    const Json::Value& flows = (*list)[0]["flows"];
    ASSERT_EQ(flows.size(), v6 ? 4u : 2u);
    for (Json::ArrayIndex i = 0; i < flows.size(); ++i) {
        const Json::Value& flow = flows[i];
        EXPECT_EQ(flow["id"].asUInt(), i + 1);
        for (const auto& value : flow["timestamparray"])
            EXPECT_EQ(value.asInt64() % 1000000000, 0);
        // Every frame counted, with 42 bytes of Ethernet, IPv4 and UDP headers, 62 with IPv6.
        EXPECT_EQ(sum(flow["packetcountarray"]), 100u) << flow;
        EXPECT_EQ(sum(flow["bytecountarray"]), 100u * (64 + (i < 2 ? 42 : 62))) << flow;
        EXPECT_EQ(flow["status"].asString(), "success");
        EXPECT_TRUE(flow.isMember("timestampfirst"));
        const bool trigger = i % 2 == 1;
        EXPECT_EQ(flow.isMember("latencyarray"), trigger);
        if (!trigger)
            continue;
        // On loopback a frame takes microseconds; a busy machine can hold a thread for a few
        // milliseconds now and then, so one quiet second is asked for, not every one.
        int measured = 0;
        int subMillisecond = 0;
        for (const auto& entry : flow["latencyarray"]) {
            if (!entry.isMember("latencyavg"))
                continue;
            ++measured;
            EXPECT_GE(entry["latencymin"].asInt64(), 0) << entry;
            EXPECT_LT(entry["latencymin"].asInt64(), 1000000) << entry;
            subMillisecond += entry["latencyavg"].asInt64() < 1000000 ? 1 : 0;
        }
        EXPECT_GE(measured, 1);
        EXPECT_GE(subMillisecond, 1) << flow["latencyarray"];
    }
}

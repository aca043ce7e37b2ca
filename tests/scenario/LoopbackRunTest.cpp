// A real run on loopback: a stream of this endpoint into a trigger of this endpoint, with the
// time tag written by one and read by the other.
#include "JsonParse.h"
#include "LoopbackPort.h"
#include "ScenarioTestSupport.h"
#include "scenario/PXScenarioResult.h"

#include <boost/asio/ip/udp.hpp>

#include <json/writer.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using scenariotest::waitFor;
using testsupport::unusedLoopbackPort;

namespace {

// 100 frames of 64 bytes, time-tagged, from a stream into a trigger measuring latency.
std::string loopbackDescription(bool v6, const std::string& extraFlows = {})
{
    const std::string family = v6 ? "v6" : "v4";
    const std::string address = v6 ? "::1" : "127.0.0.1";
    const std::string streamPort = std::to_string(unusedLoopbackPort(SOCK_DGRAM, v6));
    const std::string triggerPort = std::to_string(unusedLoopbackPort(SOCK_DGRAM, v6));
    std::string frame;
    for (int i = 0; i < 64; ++i)
        frame += "a5";
    return "{\"scenarioid\": 77, \"duration\": 1300000000, \"flows\": [{\"id\": 1, \"flowtype\": "
           "\"stream" +
           family + "\", \"flow\": {\"initialtimetowait\": 100000000, \"srcport\": " + streamPort +
           ", \"dstport\": " + triggerPort + ", \"dstip" + family + "\": \"" + address +
           "\", \"interframegap\": 10000000, \"numberofframes\": 100, \"contentlist\": [\"" +
           frame +
           "\"], \"timetags\": [{\"position\": 8, \"timeoffset\": 0}]}}, {\"id\": 2, "
           "\"flowtype\": \"trigger" +
           family + "\", \"flow\": {\"srcport\": " + streamPort + ", \"dstport\": " + triggerPort +
           ", \"srcip" + family + "\": \"" + address +
           "\", \"latency\": {\"type\": \"average\", \"position\": 8, \"timeoffset\": 0}}}" +
           extraFlows + "]}";
}

std::uint64_t sum(const Json::Value& array)
{
    std::uint64_t total = 0;
    for (const auto& value : array)
        total += value.asUInt64();
    return total;
}

class LoopbackRunTest : public scenariotest::ManagerOnBus
{
protected:
    // Runs the description now and returns the parsed result list.
    Json::Value run(const std::string& description)
    {
        EXPECT_EQ(set(SET_SCENARIO_DESCRIPTION, description, SCENARIO_DESCRIPTION_SET), 0);
        EXPECT_EQ(set(SET_SCENARIO_START_TIME,
                      std::to_string(roamnode::nowNanoseconds() + 20000000),
                      SCENARIO_START_TIME_SET),
                  0);
        EXPECT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 5000ms));
        const std::string text = resultList();
        const auto list = testsupport::parsed(text);
        EXPECT_TRUE(list) << text;
        return list.value_or(Json::Value());
    }

    // Every frame counted, with 42 bytes of Ethernet, IPv4 and UDP headers each.
    void expectFullCount(const Json::Value& flow, bool latency)
    {
        for (const auto& value : flow["timestamparray"])
            EXPECT_EQ(value.asInt64() % 1000000000, 0);
        EXPECT_EQ(sum(flow["packetcountarray"]), 100u) << flow;
        EXPECT_EQ(sum(flow["bytecountarray"]), 100u * (64 + 42)) << flow;
        EXPECT_EQ(flow["status"].asString(), "success");
        EXPECT_TRUE(flow.isMember("timestampfirst"));
        EXPECT_EQ(flow.isMember("latencyarray"), latency);
        if (!latency)
            return;
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
};

} // namespace

// Flows that cannot start beside them leave an "error" result each; the others run and the run
// ends.
TEST_F(LoopbackRunTest, StreamIntoTriggerOnIpv4BesideFlowsThatCannotStart)
{
    boost::asio::io_context context;
    boost::asio::ip::udp::socket holder(
        context, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), 0));
    const std::uint16_t busyPort = holder.local_endpoint().port();
    const std::string broken =
        ", {\"id\": 3, \"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 0, "
        "\"srcport\": " +
        std::to_string(busyPort) +
        ", \"dstport\": 9, \"dstipv4\": \"127.0.0.1\", \"interframegap\": 1000000, "
        "\"numberofframes\": 5, \"contentlist\": [\"00\"]}}, {\"id\": 4, \"flowtype\": "
        "\"triggerv4\", \"flow\": {\"srcport\": 1, \"dstport\": " +
        std::to_string(unusedLoopbackPort(SOCK_DGRAM)) + ", \"srcipv4\": \"999.1.1.1\"}}";
    const Json::Value list = run(loopbackDescription(false, broken));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["scenarioid"].asInt(), 77);
    ASSERT_EQ(list[0]["flows"].size(), 4u);
    EXPECT_EQ(list[0]["flows"][0]["id"].asInt(), 1);
    expectFullCount(list[0]["flows"][0], false);
    expectFullCount(list[0]["flows"][1], true);
    EXPECT_GE(recorder.count(SCENARIO_STARTING), 1);
    const Json::Value& busy = list[0]["flows"][2];
    EXPECT_EQ(busy["status"].asString(), "error");
    EXPECT_NE(busy["errormsg"].asString().find("bind"), std::string::npos) << busy;
    EXPECT_NE(busy["errormsg"].asString().find(std::to_string(busyPort)), std::string::npos);
    const Json::Value& badAddress = list[0]["flows"][3];
    EXPECT_EQ(badAddress["status"].asString(), "error");
    EXPECT_NE(badAddress["errormsg"].asString().find("999.1.1.1"), std::string::npos) << badAddress;
}

TEST_F(LoopbackRunTest, StreamIntoTriggerOnIpv6)
{
    if (unusedLoopbackPort(SOCK_DGRAM, true) == 0)
        GTEST_SKIP() << "no IPv6 loopback here";
    const Json::Value list = run(loopbackDescription(true));
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]["flows"].size(), 2u);
    // 64 bytes plus 62 of Ethernet, IPv6 and UDP headers.
    EXPECT_EQ(sum(list[0]["flows"][0]["bytecountarray"]), 100u * 126u);
    EXPECT_EQ(sum(list[0]["flows"][1]["packetcountarray"]), 100u);
}

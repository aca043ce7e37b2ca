// A real run on loopback: a stream of this endpoint into a trigger of this endpoint, with the
// time tag written by one and read by the other.
#include "ScenarioTestSupport.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "scenario/PXScenarioManager.h"
#include "scenario/PXScenarioResult.h"

#include <json/reader.h>
#include <json/writer.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using scenariotest::EventRecorder;
using scenariotest::freeUdpPort;
using scenariotest::waitFor;

namespace {

bool ipv6LoopbackWorks()
{
    try {
        boost::asio::io_context context;
        boost::asio::ip::udp::socket socket(
            context, boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("::1"), 0));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string loopbackDescription(bool v6, std::uint16_t streamPort, std::uint16_t triggerPort,
                                const std::string& extraFlow = {})
{
    const std::string family = v6 ? "v6" : "v4";
    const std::string address = v6 ? "::1" : "127.0.0.1";
    std::string frame;
    for (int i = 0; i < 64; ++i)
        frame += "a5";
    return "{\"scenarioid\": 77, \"duration\": 1300000000, \"flows\": ["
           "{\"id\": 1, \"flowtype\": \"stream" +
           family +
           "\", \"flow\": {"
           "\"initialtimetowait\": 100000000, \"srcport\": " +
           std::to_string(streamPort) + ", \"dstport\": " + std::to_string(triggerPort) +
           ", \"dstip" + family + "\": \"" + address +
           "\", \"interframegap\": 10000000, \"numberofframes\": 100, "
           "\"contentlist\": [\"" +
           frame +
           "\"], "
           "\"timetags\": [{\"position\": 8, \"timeoffset\": 0}]}}, "
           "{\"id\": 2, \"flowtype\": \"trigger" +
           family +
           "\", \"flow\": {"
           "\"srcport\": " +
           std::to_string(streamPort) + ", \"dstport\": " + std::to_string(triggerPort) +
           ", \"srcip" + family + "\": \"" + address +
           "\", \"latency\": {\"type\": \"average\", \"position\": 8, \"timeoffset\": 0}}}" +
           extraFlow + "]}";
}

class LoopbackRunTest : public ::testing::Test
{
protected:
    LoopbackRunTest()
    {
        manager = std::make_unique<PXScenarioManager>(bus);
        for (int id : {SCENARIO_DESCRIPTION_SET, SCENARIO_START_TIME_SET, SCENARIO_STARTING,
                       SCENARIO_ENDED, RESULT_LIST, TX_SPEED, RX_SPEED})
            bus->subscribe(id, &recorder);
        manager->start();
    }
    ~LoopbackRunTest() override
    {
        manager->stop();
        manager.reset();
        bus->unsubscribe(&recorder);
    }

    // Runs the description now and returns the parsed result list.
    Json::Value run(const std::string& description)
    {
        bus->publish(SET_SCENARIO_DESCRIPTION, description);
        EXPECT_EQ(recorder.last(SCENARIO_DESCRIPTION_SET)->status, 0);
        bus->publish(SET_SCENARIO_START_TIME,
                     std::to_string(roamnode::nowNanoseconds() + 20000000));
        EXPECT_EQ(recorder.last(SCENARIO_START_TIME_SET)->status, 0);
        EXPECT_TRUE(waitFor([&] { return recorder.count(SCENARIO_ENDED) == 1; }, 5000ms));
        bus->publish(GET_RESULT_LIST);
        Json::Value list;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        const std::string text = recorder.last(RESULT_LIST)->text;
        std::string errors;
        EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &list, &errors)) << text;
        return list;
    }

    void expectFullCount(const Json::Value& flow, bool latency)
    {
        std::uint64_t packets = 0;
        std::uint64_t bytes = 0;
        for (const auto& value : flow["packetcountarray"])
            packets += value.asUInt64();
        for (const auto& value : flow["bytecountarray"])
            bytes += value.asUInt64();
        for (const auto& value : flow["timestamparray"])
            EXPECT_EQ(value.asInt64() % 1000000000, 0);
        EXPECT_EQ(packets, 100u) << flow;
        EXPECT_EQ(bytes, 100u * 106u) << flow;
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

    std::shared_ptr<PXEventBus> bus = std::make_shared<PXEventBus>();
    EventRecorder recorder;
    std::unique_ptr<PXScenarioManager> manager;
};

} // namespace

TEST_F(LoopbackRunTest, StreamIntoTriggerOnIpv4)
{
    const std::uint16_t streamPort = freeUdpPort(false);
    const std::uint16_t triggerPort = freeUdpPort(false);
    const Json::Value list = run(loopbackDescription(false, streamPort, triggerPort));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["scenarioid"].asInt(), 77);
    ASSERT_EQ(list[0]["flows"].size(), 2u);
    EXPECT_EQ(list[0]["flows"][0]["id"].asInt(), 1);
    expectFullCount(list[0]["flows"][0], false);
    expectFullCount(list[0]["flows"][1], true);
    EXPECT_GE(recorder.count(SCENARIO_STARTING), 1);
}

TEST_F(LoopbackRunTest, StreamIntoTriggerOnIpv6)
{
    if (!ipv6LoopbackWorks())
        GTEST_SKIP() << "no IPv6 loopback here";
    const std::uint16_t streamPort = freeUdpPort(true);
    const std::uint16_t triggerPort = freeUdpPort(true);
    const Json::Value list = run(loopbackDescription(true, streamPort, triggerPort));
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]["flows"].size(), 2u);
    // 64 bytes plus 62 of Ethernet, IPv6 and UDP headers.
    const Json::Value& stream = list[0]["flows"][0];
    std::uint64_t bytes = 0;
    for (const auto& value : stream["bytecountarray"])
        bytes += value.asUInt64();
    EXPECT_EQ(bytes, 100u * 126u);
    std::uint64_t received = 0;
    for (const auto& value : list[0]["flows"][1]["packetcountarray"])
        received += value.asUInt64();
    EXPECT_EQ(received, 100u);
}

// A flow that cannot start leaves an "error" result; the others run and the run ends.
TEST_F(LoopbackRunTest, FlowThatCannotStartDoesNotStopTheRun)
{
    boost::asio::io_context context;
    boost::asio::ip::udp::socket holder(
        context, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), 0));
    const std::uint16_t busyPort = holder.local_endpoint().port();
    const std::string broken =
        ", {\"id\": 3, \"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 0, "
        "\"srcport\": " +
        std::to_string(busyPort) +
        ", \"dstport\": 9, \"dstipv4\": "
        "\"127.0.0.1\", \"interframegap\": 1000000, \"numberofframes\": 5, "
        "\"contentlist\": [\"00\"]}}, "
        "{\"id\": 4, \"flowtype\": \"triggerv4\", \"flow\": {\"srcport\": 1, \"dstport\": " +
        std::to_string(freeUdpPort(false)) + ", \"srcipv4\": \"999.1.1.1\"}}";
    const std::uint16_t streamPort = freeUdpPort(false);
    const std::uint16_t triggerPort = freeUdpPort(false);
    const Json::Value list = run(loopbackDescription(false, streamPort, triggerPort, broken));
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]["flows"].size(), 4u);
    expectFullCount(list[0]["flows"][0], false);
    expectFullCount(list[0]["flows"][1], true);
    const Json::Value& busy = list[0]["flows"][2];
    EXPECT_EQ(busy["status"].asString(), "error");
    EXPECT_NE(busy["errormsg"].asString().find("bind"), std::string::npos) << busy;
    EXPECT_NE(busy["errormsg"].asString().find(std::to_string(busyPort)), std::string::npos);
    const Json::Value& badAddress = list[0]["flows"][3];
    EXPECT_EQ(badAddress["status"].asString(), "error");
    EXPECT_NE(badAddress["errormsg"].asString().find("999.1.1.1"), std::string::npos) << badAddress;
}

#include "JsonParse.h"
#include "LoopbackPort.h"
#include "RealProcesses.h"
#include "bus/TimePoint.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <json/writer.h>

#include <csignal>
#include <map>

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

Json::Value scenario(std::int64_t duration)
{
    return *testsupport::parsed("{\"scenarioid\": 42, \"duration\": " + std::to_string(duration) +
                                ", \"flows\": []}");
}

// A trigger (`id`) and a stream (`id` + 1) into it, added to `scenario`, both of this endpoint
// and on ports the system just handed out. The trigger is listed first and the stream waits
// 100 ms, so the trigger's socket is bound before the first frame. The stream tags its frames
// with their send time, and the trigger measures the latency from the tag.
void addStreamIntoTrigger(Json::Value& scenario, int id, bool v6, std::int64_t interFrameGap,
                          std::uint64_t frames)
{
    const std::string family = v6 ? "v6" : "v4";
    Json::Value trigger = *testsupport::parsed(
        R"({"flow": {"latency": {"type": "average", "position": 8, "timeoffset": 0}}})");
    Json::Value stream = *testsupport::parsed(R"({"flow": {"initialtimetowait": 100000000,
        "timetags": [{"position": 8, "timeoffset": 0}]}})");
    trigger["id"] = id;
    stream["id"] = id + 1;
    trigger["flowtype"] = "trigger" + family;
    stream["flowtype"] = "stream" + family;
    trigger["flow"]["srcport"] = stream["flow"]["srcport"] = unusedLoopbackPort(SOCK_DGRAM, v6);
    trigger["flow"]["dstport"] = stream["flow"]["dstport"] = unusedLoopbackPort(SOCK_DGRAM, v6);
    trigger["flow"]["srcip" + family] = stream["flow"]["dstip" + family] = v6 ? "::1" : "127.0.0.1";
    stream["flow"]["interframegap"] = Json::Int64(interFrameGap);
    stream["flow"]["numberofframes"] = Json::UInt64(frames);
    stream["flow"]["contentlist"].append(std::string(128, 'a'));
    scenario["flows"].append(trigger);
    scenario["flows"].append(stream);
}

std::string setScenario(const Json::Value& description, std::int64_t startTime)
{
    return "{\"command\": \"set\", \"scenariodescription\": " + description.toStyledString() +
           ", \"scenariostarttime\": " + std::to_string(startTime) + "}";
}

std::uint64_t sum(const Json::Value& array)
{
    std::uint64_t total = 0;
    for (const auto& value : array)
        total += value.asUInt64();
    return total;
}

} // namespace

// A description and its start time in one "set" arm a run of streams into triggers of this
// endpoint over IPv4 and IPv6, whose counts and latencies "resultlist" reports, and which a set of
// "resultlist" empties. Failures show as failures too: an HTTP flow whose server refuses the
// connection ends with "error" and a message (it once ended as "success" with 0 bytes). Then a
// stop signal in the middle of a busy UDP run ends the run, joins its thread and releases its
// sockets before the process takes itself apart: a clean exit with status 0, nothing on stderr
// from the allocator or a sanitizer.
TEST(HubRunTest, SetRunReadAndResetTheResultListThenStopDuringARun)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    // 100 frames of 64 bytes from 100 ms to 1.09 s into a run of 1.5 s over IPv4 and IPv6 (where
    // the loopback has it), a GET nobody answers and a monitor sampling twice a second.
    const bool v6 = unusedLoopbackPort(SOCK_DGRAM, true) != 0;
    Json::Value description = scenario(1500000000);
    addStreamIntoTrigger(description, 1, false, 10000000, 100);
    description["monitors"].append(*testsupport::parsed(
        R"({"monitortype": "wifi", "id": 9, "monitor": {"resultinterval": 500000000}})"));
    Json::Value http = *testsupport::parsed(R"({"id": 3, "flowtype": "tcpv4", "flow": {
        "requestmethod": "get", "initialtimetowait": 0, "url": "/refused", "srcport": 0,
        "duration": 500000000, "dstipv4": "127.0.0.1"}})");
    http["flow"]["dstport"] = unusedLoopbackPort();
    description["flows"].append(http);
    if (v6)
        addStreamIntoTrigger(description, 4, true, 10000000, 100);
    // The start time leaves room for the endpoint's start on a busy machine.
    const std::int64_t startTime = roamnode::nowNanoseconds() + 3000000000;
    const std::string get = "{\"command\": \"get\", \"resultlist\": \"\"}";
    std::vector<std::string> requests = {"{\"command\": \"set\", \"heartbeatinterval\": \"200\", "
                                         "\"max-heartbeatfailcount\": \"100\"}",
                                         setScenario(description, startTime)};
    requests.insert(requests.end(), 100, get);
    auto hub = startHub(0, requests);
    const auto hubPort = static_cast<std::uint16_t>(testsupport::listeningPort(*hub, 5s));
    ASSERT_NE(hubPort, 0);
    const auto endpoint = testsupport::startEndpoint(home.path().toStdString(),
                                                     {"127.0.0.1:" + std::to_string(hubPort)});
    ASSERT_TRUE(endpoint->started());
    EXPECT_NE(nextReply(*hub, 30s).find("\"success\""), std::string::npos) << "never registered";
    EXPECT_EQ(nextReply(*hub, 10s), "{\"status\": \"success\"}");

    const std::string filled = nextReply(*hub, 15s, [](const std::string& reply) {
        return reply.find("\"resultlist\": [{") != std::string::npos;
    });
    ASSERT_FALSE(filled.empty()) << "no result list after the run";
    const Json::Value list = testsupport::parsed(filled).value_or(Json::Value())["resultlist"];
    ASSERT_EQ(list.size(), 1u) << filled;
    EXPECT_EQ(list[0]["scenarioid"].asInt(), 42);
    EXPECT_EQ(list[0]["timestamp"].asInt64(), startTime / 1000 * 1000);
    std::map<int, Json::Value> flows;
    for (const Json::Value& flow : list[0]["flows"])
        flows[flow["id"].asInt()] = flow;
    ASSERT_EQ(flows.size(), v6 ? 5u : 3u) << filled;
    for (const int id : {1, 2, 4, 5}) {
        if (id > 3 && !v6)
            break;
        const Json::Value& flow = flows[id];
        EXPECT_EQ(flow["status"].asString(), "success") << flow;
        for (const auto& value : flow["timestamparray"])
            EXPECT_EQ(value.asInt64() % 1000000000, 0);
        // Every frame counted, with 42 bytes of Ethernet, IPv4 and UDP headers, 62 with IPv6.
        EXPECT_EQ(sum(flow["packetcountarray"]), 100u) << flow;
        EXPECT_EQ(sum(flow["bytecountarray"]), 100u * (64 + (id < 3 ? 42 : 62))) << flow;
        EXPECT_EQ(flow.isMember("latencyarray"), id % 3 == 1);
        // On loopback a frame takes microseconds; a busy machine can hold a thread for a few
        // milliseconds now and then, so one quiet second is asked for, not every one.
        int subMillisecond = 0;
        for (const auto& entry : flow["latencyarray"]) {
            if (!entry.isMember("latencyavg"))
                continue;
            EXPECT_GE(entry["latencymin"].asInt64(), 0) << entry;
            EXPECT_LT(entry["latencymin"].asInt64(), 1000000) << entry;
            subMillisecond += entry["latencyavg"].asInt64() < 1000000 ? 1 : 0;
        }
        EXPECT_EQ(subMillisecond >= 1, id % 3 == 1) << flow;
    }
    // The monitor's samples, each with the loopback interface among this host's.
    const Json::Value& samples = list[0]["monitors"][0]["monitorresult"];
    EXPECT_GE(samples.size(), 2u) << filled;
    for (const auto& sample : samples)
        EXPECT_NE(sample["interfaces"].toStyledString().find("\"name\" : \"lo\""),
                  std::string::npos)
            << sample;
    EXPECT_EQ(flows[3]["status"].asString(), "error") << flows[3];
    EXPECT_FALSE(flows[3]["errormsg"].asString().empty()) << flows[3];

    // Setting the list empties it; then a minute of 20,000 frames a second, still running when
    // the signal comes. The running hub goes first: the next one needs its port.
    hub.reset();
    description = scenario(60000000000);
    addStreamIntoTrigger(description, 1, false, 50000, 1200000);
    requests = {"{\"command\": \"set\", \"resultlist\": \"\"}", get,
                setScenario(description, roamnode::nowNanoseconds() + 3000000000)};
    requests.insert(requests.end(), 100, get);
    hub = startHub(hubPort, requests);
    EXPECT_EQ(nextReply(*hub, 15s), "{\"status\": \"success\"}");
    EXPECT_EQ(nextReply(*hub, 5s), "{\"resultlist\": [], \"status\": \"success\"}");
    EXPECT_EQ(nextReply(*hub, 5s), "{\"status\": \"success\"}");

    // Two speed reports of the busy run (the first one sent well under 1 Mbit/s): the stream has
    // been sending for a second or more.
    int seen = 0;
    const auto sending = [&seen](const std::string& line) {
        const auto tx = line.find("Tx:");
        return line.find("Running") != std::string::npos && tx != std::string::npos &&
               std::stod(line.substr(tx + 3)) >= 1.0 && ++seen >= 2;
    };
    ASSERT_TRUE(endpoint->waitForLine(sending, 20s));
    // SIGINT takes the same way out; the command line test stops with both.
    EXPECT_EQ(endpoint->signalAndWait(SIGTERM, 5s), 0);
    const std::string errors = endpoint->errText();
    EXPECT_EQ(errors.find("free"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
}

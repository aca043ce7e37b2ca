// `roamnode-hub run` against real endpoints: the hub, roamnode-httpd and the endpoints run as
// separate processes on loopback, each endpoint with its own HOME (so its own device id) and
// working folder.

#include "ChildProcess.h"
#include "JsonParse.h"
#include "LoopbackPort.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::listeningPort;

namespace {

struct HubRun
{
    int exitCode = -1;
    std::string output; // standard output, then standard error
};

std::uint64_t packets(const Json::Value& flow)
{
    std::uint64_t total = 0;
    for (const Json::Value& count : flow["packetcountarray"])
        total += count.asUInt64();
    return total;
}

// The flow of `id` in a result list's scenario or a summary.
const Json::Value& flowOf(const Json::Value& scenario, int id)
{
    for (const Json::Value& flow : scenario["flows"])
        if (flow["id"].asInt() == id)
            return flow;
    static const Json::Value none;
    return none;
}

// A stream of `frames` frames of 16 bytes, 10 ms apart, from 100 ms into the run.
std::string streamFlow(int frames, int srcPort, int dstPort)
{
    return "{\"id\": 1, \"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 100000000, "
           "\"srcport\": " +
           std::to_string(srcPort) +
           ", \"dstipv4\": \"127.0.0.1\", \"dstport\": " + std::to_string(dstPort) +
           ", \"interframegap\": 10000000, \"numberofframes\": " + std::to_string(frames) +
           ", \"contentlist\": [\"000102030405060708090a0b0c0d0e0f\"]}}";
}

// An HTTP flow of one second at 500,000 bytes per second to /t/`name`.
std::string httpFlow(int id, const std::string& method, const std::string& name, int port)
{
    return "{\"id\": " + std::to_string(id) +
           ", \"flowtype\": \"tcpv4\", \"flow\": {\"requestmethod\": \"" + method +
           "\", \"initialtimetowait\": 0, \"url\": \"/t/" + name +
           "\", \"srcport\": 0, \"dstipv4\": \"127.0.0.1\", \"dstport\": " + std::to_string(port) +
           ", \"duration\": 1000000000, \"ratelimit\": 500000}}";
}

class HubRunEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string path(const std::string& name) const
    {
        return m_dir.path().toStdString() + "/" + name;
    }

    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path(name)) << text;
        return path(name);
    }

    Json::Value readResults() const
    {
        std::ifstream file(path("out/results.json"));
        const auto results = testsupport::parsed(
            std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
        EXPECT_TRUE(results);
        return results.value_or(Json::Value());
    }

    // Runs the hub with `arguments` and `endpoints` endpoints, each with a HOME of its own (so a
    // device id of its own, the same in every run of the test), until the hub ends (bounded).
    // `silentPeer`: also a connection that never says hello, as a hung endpoint's would.
    HubRun run(const std::vector<std::string>& arguments, int endpoints, bool silentPeer = false)
    {
        std::vector<std::string> all = {"run",       "--port", "0",         "--bind",
                                        "127.0.0.1", "--out",  path("out"), "--register-timeout",
                                        "30"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        ChildProcess hub(ROAMNODE_HUB_BINARY, all);
        HubRun result;
        const int port = listeningPort(hub);
        EXPECT_NE(port, 0) << hub.allOutput();
        if (port == 0)
            return result;
        const int silent = silentPeer ? ::socket(AF_INET, SOCK_STREAM, 0) : -1;
        if (silent >= 0) {
            sockaddr_in hubAddress{};
            hubAddress.sin_family = AF_INET;
            hubAddress.sin_port = htons(static_cast<std::uint16_t>(port));
            hubAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            EXPECT_EQ(
                ::connect(silent, reinterpret_cast<sockaddr*>(&hubAddress), sizeof hubAddress), 0);
        }
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (int i = 0; i < endpoints; ++i) {
            const std::string home = path("endpoint-" + std::to_string(i));
            QDir().mkpath(QString::fromStdString(home + "/data"));
            children.push_back(std::make_unique<ChildProcess>(
                ROAMNODE_BINARY, std::vector<std::string>{"127.0.0.1:" + std::to_string(port)},
                testsupport::homeIn(home), home));
        }
        const auto status = hub.waitForExit(90s);
        if (silent >= 0)
            ::close(silent);
        result.output = hub.outText() + hub.errText();
        EXPECT_TRUE(status) << result.output;
        result.exitCode = status.value_or(-1);
        return result;
    }

    QTemporaryDir m_dir;
};

// Two runs against one roamnode-httpd and its one statistics file. First three endpoints run the
// same scenario at once: each streams 40 frames to one open socket, and their HTTP flows from
// one address cannot be told apart by the server, which the hub says instead of giving each the
// sum. Then one endpoint's HTTP flows get the server's counts of this run only, and its GET to a
// port where nothing listens fails.
TEST_F(HubRunEndToEnd, SameScenarioOnThreeEndpointsThenTheHttpServersCounts)
{
    const std::string stats = path("httpd-stats.jsonl");
    ChildProcess httpd(ROAMNODE_HTTPD_BINARY,
                       {"--port", "0", "--bind", "127.0.0.1", "--stats", stats});
    const int httpPort = listeningPort(httpd);
    ASSERT_NE(httpPort, 0) << httpd.allOutput();
    const std::vector<std::string> options = {"--rewrite-port", "8080=" + std::to_string(httpPort),
                                              "--httpd-stats",  stats,
                                              "--start-in",     "2"};
    const auto with = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    };

    // Every frame arrives at an open socket.
    struct Sink
    {
        ~Sink() { ::close(fd); }
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    } sink;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(sink.fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(sink.fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string scenario =
        "// three endpoints, one stream each\n{\"scenarioid\": 7, \"duration\": 1200000000, "
        "\"flows\": [" +
        streamFlow(40, 0, ntohs(address.sin_port)) + ", " + httpFlow(2, "get", "get", 8080) + ", " +
        httpFlow(3, "put", "put", 8080) + "]}";
    const HubRun same = run(
        with({write("scenario.json", scenario), "--endpoints", "3", "--clock-samples", "2"}), 3);
    ASSERT_EQ(same.exitCode, 0) << same.output;
    EXPECT_NE(same.output.find("clock offset"), std::string::npos) << same.output;
    EXPECT_NE(same.output.find("report: "), std::string::npos) << same.output;
    Json::Value results = readResults();
    ASSERT_EQ(results["endpoints"].size(), 3u) << same.output;
    std::set<std::string> devices;
    for (const Json::Value& endpoint : results["endpoints"]) {
        devices.insert(endpoint["deviceid"].asString());
        EXPECT_EQ(endpoint["status"].asString(), "done");
        EXPECT_TRUE(endpoint["clockoffsetns"].isIntegral());
        EXPECT_EQ(endpoint["info"]["app-version"].asString(), "2.12.3.0");
        const Json::Value& list = endpoint["resultlist"];
        ASSERT_EQ(list.size(), 1u) << same.output;
        EXPECT_EQ(list[0]["scenarioid"].asInt(), 7);
        ASSERT_EQ(list[0]["flows"].size(), 3u);
        EXPECT_EQ(flowOf(list[0], 1)["status"].asString(), "success");
        EXPECT_EQ(packets(flowOf(list[0], 1)), 40u);
    }
    EXPECT_EQ(devices.size(), 3u);
    ASSERT_EQ(results["summary"].size(), 3u);
    for (const Json::Value& summary : results["summary"])
        for (const int id : {2, 3}) {
            EXPECT_EQ(flowOf(summary, id)["servermatch"].asString(), "ambiguous") << same.output;
            EXPECT_EQ(flowOf(summary, id)["bytes"].asUInt64(), 0u);
        }
    EXPECT_TRUE(QFile::exists(QString::fromStdString(path("out/report.html"))));

    // The HTTP flows of one endpoint alone, and a GET to a port where nothing listens.
    const int deadPort = testsupport::unusedLoopbackPort();
    const HubRun alone =
        run(with({write("http.json", "{\"scenarioid\": 8, \"duration\": 1200000000, \"flows\": [" +
                                         httpFlow(2, "get", "get", 8080) + ", " +
                                         httpFlow(3, "put", "put", 8080) + ", " +
                                         httpFlow(4, "get", "dead", deadPort) + "]}"),
                  "--clock-samples", "1"}),
            1);
    const std::string& output = alone.output;
    EXPECT_EQ(alone.exitCode, 3) << output;
    EXPECT_NE(output.find("* measured by the HTTP server"), std::string::npos) << output;
    results = readResults();
    ASSERT_EQ(results["summary"][0]["flows"].size(), 3u) << output;
    for (const int id : {2, 3, 4}) {
        const Json::Value& flow = flowOf(results["summary"][0], id);
        EXPECT_EQ(flow["measuredby"].asString(), "server") << output;
        if (id == 4) {
            // Nothing reached the server: the endpoint says so, and the server's count agrees.
            EXPECT_EQ(flow["status"].asString(), "error") << output;
            EXPECT_EQ(flow["bytes"].asUInt64(), 0u) << output;
            EXPECT_TRUE(flow["failed"].asBool()) << output;
            continue;
        }
        // About 500,000 bytes in about a second (not the first run's as well): 4 Mbit/s, give
        // or take start-up and pacing.
        EXPECT_EQ(flow["status"].asString(), "success") << output;
        EXPECT_GT(flow["bytes"].asUInt64(), 200000u) << output;
        EXPECT_LT(flow["bytes"].asUInt64(), 800000u) << output;
        EXPECT_GT(flow["meanmbps"].asDouble(), 1.5) << output;
        EXPECT_LT(flow["meanmbps"].asDouble(), 8.0) << output;
        EXPECT_FALSE(flow["failed"].asBool()) << output;
    }
    EXPECT_FALSE(results["allflowssucceeded"].asBool());
}

TEST_F(HubRunEndToEnd, AMapGivesEachEndpointItsOwnScenarioWithOneStart)
{
    // A first run that drives nobody lists the device ids of the two endpoints.
    const HubRun listing =
        run({write("none.json", "{\"scenarioid\": 1, \"duration\": 1, \"flows\": []}"), "--device",
             "nobody", "--register-timeout", "3"},
            2);
    EXPECT_EQ(listing.exitCode, 1) << listing.output;
    std::vector<std::string> ids;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("endpoint ", 0) == 0 &&
            line.find("registered; not part of this run") != std::string::npos) {
            ids.push_back(line.substr(9, line.find(' ', 9) - 9));
            // Who it is: the id, then its name and addresses.
            EXPECT_EQ(line.substr(9 + ids.back().size(), 3), " (\"") << line;
        }
    ASSERT_EQ(ids.size(), 2u) << listing.output;

    // Endpoint 0 streams to endpoint 1's trigger, which listens for a quarter of the stream's
    // half second: the hub pairs them across the endpoints and gives the loss.
    const std::string src = std::to_string(testsupport::unusedLoopbackPort(SOCK_DGRAM));
    const std::string dst = std::to_string(testsupport::unusedLoopbackPort(SOCK_DGRAM));
    write("receiver.json", "{\"scenarioid\": 22, \"duration\": 200000000, \"flows\": [{\"id\": 2, "
                           "\"flowtype\": \"triggerv4\", \"flow\": {\"srcipv4\": \"127.0.0.1\", "
                           "\"srcport\": " +
                               src + ", \"dstport\": " + dst + "}}]}");
    const std::string map = "// sender and receiver\n{\"" + ids[0] +
                            "\": {\"scenarioid\": 21, \"duration\": 1000000000, \"flows\": [" +
                            streamFlow(50, std::stoi(src), std::stoi(dst)) + "]}, \"" + ids[1] +
                            "\": \"receiver.json\"}";
    const HubRun mapped =
        run({"--map", write("map.json", map), "--start-in", "2", "--clock-samples", "1"}, 2);
    const std::string& output = mapped.output;
    ASSERT_EQ(mapped.exitCode, 0) << output;
    const Json::Value results = readResults();
    ASSERT_EQ(results["endpoints"].size(), 2u);
    std::set<Json::Int64> starts;
    Json::UInt64 sent = 0, received = 0;
    for (const Json::Value& endpoint : results["endpoints"]) {
        starts.insert(endpoint["hubstarttime"].asInt64());
        const Json::Value& scenario = endpoint["resultlist"][0];
        const bool sender = endpoint["deviceid"].asString() == ids[0];
        EXPECT_EQ(scenario["scenarioid"].asInt(), sender ? 21 : 22);
        (sender ? sent : received) += packets(scenario["flows"][0]);
        EXPECT_TRUE(endpoint["clockafter"]["errorns"].isIntegral());
    }
    EXPECT_EQ(starts.size(), 1u) << "one start for both";
    EXPECT_EQ(sent, 50u);
    EXPECT_GT(sent, received);
    const Json::Value* trigger = nullptr;
    for (const Json::Value& scenario : results["summary"])
        if (scenario["scenarioid"].asInt() == 22)
            trigger = &scenario["flows"][0];
    ASSERT_TRUE(trigger) << output;
    EXPECT_EQ((*trigger)["pairing"].asString(), "paired") << output;
    EXPECT_EQ((*trigger)["lostpackets"].asInt64(), static_cast<Json::Int64>(sent - received));
    EXPECT_NE(output.find(std::to_string(sent - received) + " ("), std::string::npos) << output;
}

TEST_F(HubRunEndToEnd, ARefusedScenarioEndsWithTheEndpointsMessage)
{
    const HubRun result = run(
        {write("no-duration.json", "{\"scenarioid\": 3, \"flows\": []}"), "--clock-samples", "1"},
        1);
    const std::string& output = result.output;
    EXPECT_EQ(result.exitCode, 1) << output;
    EXPECT_NE(output.find("Error in <scenariodescription>: No <scenarioduration> value"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("(variable-error)"), std::string::npos) << output;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("out/results.json"))));
}

// Also while a connection that never says hello is still being waited for: the hub ends with
// that exchange pending and leaves nothing behind (a leak there once changed its status).
TEST_F(HubRunEndToEnd, NoEndpointEndsAfterTheRegisterTimeout)
{
    QElapsedTimer timer;
    timer.start();
    const HubRun result =
        run({write("s.json", "{\"scenarioid\": 3, \"duration\": 1, \"flows\": []}"),
             "--register-timeout", "0.5"},
            0, true);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(result.output.find("Sanitizer"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("0 of 1 endpoint(s) registered"), std::string::npos)
        << result.output;
    EXPECT_LT(timer.elapsed(), 10000);
}

} // namespace

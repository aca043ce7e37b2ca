// `roamnode-hub run` against real endpoints: the hub and the endpoints run as separate
// processes on loopback, each endpoint with its own HOME (so its own device id) and working
// folder.

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
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::listeningPort;

namespace {

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    return bool(file);
}

struct HubRun
{
    int exitCode = -1;
    std::string output; // standard output, then standard error
};

class HubRunEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string path(const std::string& name) const
    {
        return m_dir.path().toStdString() + "/" + name;
    }

    Json::Value readResults() const
    {
        QFile file(QString::fromStdString(path("out/results.json")));
        const auto results = file.open(QIODevice::ReadOnly)
                                 ? testsupport::parsed(file.readAll().toStdString())
                                 : std::nullopt;
        EXPECT_TRUE(results);
        return results.value_or(Json::Value());
    }

    // Runs the hub with `arguments` and `endpoints` endpoints, each with a HOME of its own (so a
    // device id of its own), until the hub ends (bounded).
    HubRun run(const std::vector<std::string>& arguments, int endpoints)
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
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (int i = 0; i < endpoints; ++i) {
            const std::string home = path("endpoint-" + std::to_string(i));
            QDir().mkpath(QString::fromStdString(home + "/data"));
            children.push_back(std::make_unique<ChildProcess>(
                ROAMNODE_BINARY, std::vector<std::string>{"127.0.0.1:" + std::to_string(port)},
                testsupport::homeIn(home), home));
        }
        const auto status = hub.waitForExit(90s);
        result.output = hub.outText() + hub.errText();
        EXPECT_TRUE(status) << result.output;
        result.exitCode = status.value_or(-1);
        return result;
    }

    QTemporaryDir m_dir;
};

TEST_F(HubRunEndToEnd, ThreeEndpointsRunTheSameScenarioAtOnce)
{
    // Each endpoint streams 40 frames from a port of its own choosing to one open socket.
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
        "// three endpoints, one stream each\n"
        "{\"scenarioid\": 7, \"duration\": 1000000000, \"flows\": [{\"id\": 1, \"flowtype\": "
        "\"streamv4\", \"flow\": {\"initialtimetowait\": 100000000, \"srcport\": 0, "
        "\"dstipv4\": \"127.0.0.1\", \"dstport\": " +
        std::to_string(ntohs(address.sin_port)) +
        ", \"interframegap\": 10000000, \"numberofframes\": 40, \"contentlist\": "
        "[\"000102030405060708090a0b0c0d0e0f\"]}}]}";
    ASSERT_TRUE(writeText(path("scenario.json"), scenario));

    const HubRun result = run(
        {path("scenario.json"), "--endpoints", "3", "--start-in", "2", "--clock-samples", "2"}, 3);
    const std::string& output = result.output;
    ASSERT_EQ(result.exitCode, 0) << output;
    EXPECT_NE(output.find("clock offset"), std::string::npos) << output;
    EXPECT_NE(output.find("report: "), std::string::npos) << output;

    const Json::Value results = readResults();
    ASSERT_EQ(results["endpoints"].size(), 3u) << output;
    std::set<std::string> devices;
    for (const Json::Value& endpoint : results["endpoints"]) {
        devices.insert(endpoint["deviceid"].asString());
        EXPECT_EQ(endpoint["status"].asString(), "done");
        EXPECT_TRUE(endpoint["clockoffsetns"].isIntegral());
        EXPECT_EQ(endpoint["info"]["app-version"].asString(), "2.12.3.0");
        const Json::Value& list = endpoint["resultlist"];
        ASSERT_EQ(list.size(), 1u) << output;
        EXPECT_EQ(list[0]["scenarioid"].asInt(), 7);
        ASSERT_EQ(list[0]["flows"].size(), 1u);
        const Json::Value& flow = list[0]["flows"][0];
        EXPECT_EQ(flow["status"].asString(), "success");
        Json::UInt64 packets = 0;
        for (const Json::Value& count : flow["packetcountarray"])
            packets += count.asUInt64();
        EXPECT_EQ(packets, 40u);
    }
    EXPECT_EQ(devices.size(), 3u);
    EXPECT_EQ(results["summary"].size(), 3u);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(path("out/report.html"))));
}

TEST_F(HubRunEndToEnd, AMapGivesEachEndpointItsOwnScenarioWithOneStart)
{
    // A first run that drives nobody lists the device ids of the two endpoints.
    ASSERT_TRUE(
        writeText(path("none.json"), "{\"scenarioid\": 1, \"duration\": 1, \"flows\": []}"));
    const HubRun listing =
        run({path("none.json"), "--device", "nobody", "--register-timeout", "3"}, 2);
    EXPECT_EQ(listing.exitCode, 1) << listing.output;
    std::vector<std::string> ids;
    const std::string marker = "registered; not part of this run";
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("endpoint ", 0) == 0 && line.find(marker) != std::string::npos) {
            ids.push_back(line.substr(9, line.find(' ', 9) - 9));
            // Who it is: the id, then its name and addresses.
            EXPECT_EQ(line.substr(9 + ids.back().size(), 3), " (\"") << line;
        }
    ASSERT_EQ(ids.size(), 2u) << listing.output;

    // Endpoint 0 streams to endpoint 1's trigger, which listens for a quarter of the stream's
    // half second: the hub pairs them across the endpoints and gives the loss.
    const std::string src = std::to_string(testsupport::unusedLoopbackPort(SOCK_DGRAM));
    const std::string dst = std::to_string(testsupport::unusedLoopbackPort(SOCK_DGRAM));
    const std::string map =
        "// sender and receiver\n{\"" + ids[0] +
        "\": {\"scenarioid\": 21, \"duration\": 1000000000, \"flows\": [{\"id\": 1, "
        "\"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 100000000, "
        "\"srcport\": " +
        src + ", \"dstipv4\": \"127.0.0.1\", \"dstport\": " + dst +
        ", \"interframegap\": 10000000, \"numberofframes\": 50, \"contentlist\": "
        "[\"000102030405060708090a0b0c0d0e0f\"]}}]}, \"" +
        ids[1] + "\": \"receiver.json\"}";
    const std::string receiver =
        "{\"scenarioid\": 22, \"duration\": 200000000, \"flows\": [{\"id\": 2, "
        "\"flowtype\": \"triggerv4\", \"flow\": {\"srcipv4\": \"127.0.0.1\", \"srcport\": " +
        src + ", \"dstport\": " + dst + "}}]}";
    ASSERT_TRUE(writeText(path("map.json"), map));
    ASSERT_TRUE(writeText(path("receiver.json"), receiver));

    const HubRun result =
        run({"--map", path("map.json"), "--start-in", "2", "--clock-samples", "1"}, 2);
    const std::string& output = result.output;
    ASSERT_EQ(result.exitCode, 0) << output;
    const Json::Value results = readResults();
    ASSERT_EQ(results["endpoints"].size(), 2u);
    std::set<Json::Int64> starts;
    Json::UInt64 sent = 0, received = 0;
    for (const Json::Value& endpoint : results["endpoints"]) {
        starts.insert(endpoint["hubstarttime"].asInt64());
        const Json::Value& scenario = endpoint["resultlist"][0];
        const bool sender = endpoint["deviceid"].asString() == ids[0];
        EXPECT_EQ(scenario["scenarioid"].asInt(), sender ? 21 : 22);
        for (const Json::Value& count : scenario["flows"][0]["packetcountarray"])
            (sender ? sent : received) += count.asUInt64();
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

#ifdef ROAMNODE_HTTPD_BINARY
TEST_F(HubRunEndToEnd, TheHttpServersCountsGiveHttpFlowsTheirThroughput)
{
    const std::string stats = path("httpd-stats.jsonl");
    ChildProcess httpd(ROAMNODE_HTTPD_BINARY,
                       {"--port", "0", "--bind", "127.0.0.1", "--stats", stats});
    const int httpPort = listeningPort(httpd);
    ASSERT_NE(httpPort, 0) << httpd.allOutput();

    // A GET and a PUT at 500,000 bytes per second for one second; the scenario says port 8080.
    // The second run adds a GET to a port where nothing listens.
    const int deadPort = testsupport::unusedLoopbackPort();
    ASSERT_NE(deadPort, 0);
    auto scenario = [&](bool withDeadFlow) {
        std::string flows;
        for (const char* method : {"get", "put", "dead"}) {
            const bool dead = method[0] == 'd';
            if (dead && !withDeadFlow)
                continue;
            flows += std::string(flows.empty() ? "" : ", ") + "{\"id\": " +
                     (method[0] == 'g' ? "1"
                      : dead           ? "3"
                                       : "2") +
                     ", \"flowtype\": \"tcpv4\", \"flow\": {\"requestmethod\": \"" +
                     (dead ? "get" : method) + "\", \"initialtimetowait\": 0, \"url\": \"/t/" +
                     method + "\", \"srcport\": 0, \"dstipv4\": \"127.0.0.1\", \"dstport\": " +
                     (dead ? std::to_string(deadPort) : "8080") +
                     ", \"duration\": 1000000000, \"ratelimit\": 500000}}";
        }
        return "{\"scenarioid\": 8, \"duration\": 1200000000, \"flows\": [" + flows + "]}";
    };
    const std::vector<std::string> options = {"--rewrite-port",  "8080=" + std::to_string(httpPort),
                                              "--httpd-stats",   stats,
                                              "--start-in",      "2",
                                              "--clock-samples", "1"};
    const auto with = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    };

    // Two endpoints on one host run the same flows from the same address: the server cannot
    // tell their connections apart, and the hub says so instead of giving each the sum.
    ASSERT_TRUE(writeText(path("http.json"), scenario(false)));
    const HubRun both = run(with({path("http.json"), "--endpoints", "2"}), 2);
    ASSERT_EQ(both.exitCode, 0) << both.output;
    Json::Value results = readResults();
    ASSERT_EQ(results["summary"].size(), 2u);
    for (const Json::Value& summary : results["summary"])
        for (const Json::Value& flow : summary["flows"]) {
            EXPECT_EQ(flow["servermatch"].asString(), "ambiguous") << both.output;
            EXPECT_EQ(flow["bytes"].asUInt64(), 0u);
        }

    // A second run against the same server and file counts only its own connections.
    ASSERT_TRUE(writeText(path("http.json"), scenario(true)));
    const HubRun result = run(with({path("http.json")}), 1);
    const std::string& output = result.output;
    EXPECT_EQ(result.exitCode, 3) << output;
    EXPECT_NE(output.find("* measured by the HTTP server"), std::string::npos) << output;
    results = readResults();
    const Json::Value& summaryFlows = results["summary"][0]["flows"];
    ASSERT_EQ(summaryFlows.size(), 3u) << output;
    for (const Json::Value& flow : summaryFlows) {
        EXPECT_EQ(flow["measuredby"].asString(), "server") << output;
        if (flow["id"].asInt() == 3) {
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
#endif

TEST_F(HubRunEndToEnd, ARefusedScenarioEndsWithTheEndpointsMessage)
{
    ASSERT_TRUE(writeText(path("no-duration.json"), "{\"scenarioid\": 3, \"flows\": []}"));
    const HubRun result = run({path("no-duration.json"), "--clock-samples", "1"}, 1);
    const std::string& output = result.output;
    EXPECT_EQ(result.exitCode, 1) << output;
    EXPECT_NE(output.find("Error in <scenariodescription>: No <scenarioduration> value"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("(variable-error)"), std::string::npos) << output;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("out/results.json"))));
}

TEST_F(HubRunEndToEnd, NoEndpointEndsAfterTheRegisterTimeout)
{
    ASSERT_TRUE(writeText(path("s.json"), "{\"scenarioid\": 3, \"duration\": 1, \"flows\": []}"));
    QElapsedTimer timer;
    timer.start();
    const HubRun result = run({path("s.json"), "--register-timeout", "0.5"}, 0);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("0 of 1 endpoint(s) registered"), std::string::npos)
        << result.output;
    EXPECT_LT(timer.elapsed(), 10000);
}

} // namespace

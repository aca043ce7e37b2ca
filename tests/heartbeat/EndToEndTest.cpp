// The real program against the real hub tool, each in its own process, on loopback.

#include "ChildProcess.h"
#include "FakeHub.h"
#include "JsonParse.h"
#include "device/HostInterfaceSystem.h"
#include "device/InterfaceReader.h"
#include "device/PXMobileManager.h"
#include "heartbeat/HeartbeatFrame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::ChildProcess;

namespace {

// The hub tool on a port of the system's choice (or `port`), handing out `requests`.
std::unique_ptr<ChildProcess> startHub(const QTemporaryDir& dir,
                                       const std::vector<std::string>& requests,
                                       const std::string& port = "0")
{
    std::vector<std::string> arguments = {"--port", port, "--bind", "127.0.0.1"};
    arguments.insert(arguments.end(), requests.begin(), requests.end());
    return std::make_unique<ChildProcess>(ROAMNODE_HUB_BINARY, arguments,
                                          testsupport::homeIn(dir.path().toStdString()),
                                          dir.path().toStdString());
}

ChildProcess startEndpoint(const QTemporaryDir& dir, const std::string& port)
{
    return ChildProcess(ROAMNODE_BINARY, {"127.0.0.1:" + port},
                        testsupport::homeIn(dir.path().toStdString()), dir.path().toStdString());
}

// One exchange as an endpoint does it, with blocking calls: hello out, request in, reply out.
// Returns the request's payload, or "<failed>".
std::string exchangeWithHub(std::uint16_t port, const std::string& hello, const std::string& reply)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string request = "<failed>";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string helloFrame = roamnode::frameMessage(hello);
        const std::string replyFrame = roamnode::frameMessage(reply);
        if (::send(fd, helloFrame.data(), helloFrame.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(helloFrame.size()) &&
            readFrameFrom(fd, 3000, request)) {
            ::send(fd, replyFrame.data(), replyFrame.size(), MSG_NOSIGNAL);
        }
    }
    ::close(fd);
    return request;
}

// The device variables as this host has them, and every JSON text among them parses.
void expectDeviceVariables(const std::string& reply)
{
    const auto parsed = testsupport::parsed(reply);
    ASSERT_TRUE(parsed) << reply;
    const Json::Value& value = *parsed;
    EXPECT_EQ(value["status"].asString(), "success") << reply;
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(value["device-os"].asString(), names.sysname);
    EXPECT_EQ(value["device-givenname"].asString(), names.nodename);
    EXPECT_EQ(value["device-type"].asString(), "Desktop");
    EXPECT_EQ(value["device-os-version"].asString(), PXMobileManager::osVersion());
    EXPECT_DOUBLE_EQ(value["batterylevel"].asDouble(), -1.0);
    EXPECT_TRUE(value["ssid"].isString());
    EXPECT_EQ(value["device-ipv4"].asString(),
              PXMobileManager::usableIpv4(readInterfaces(hostInterfaceSystem())));
    EXPECT_TRUE(value["device-ipv6"].isArray()) << reply;

    const Json::Value& interfaces = value["interfaces"];
    ASSERT_TRUE(interfaces.isArray()) << reply;
    bool loopback = false;
    for (const Json::Value& record : interfaces) {
        if (record["name"].asString() == "lo") {
            loopback = true;
            EXPECT_EQ(record["type"].asString(), "loopback");
            EXPECT_EQ(record["ipv4"][0].asString(), "127.0.0.1");
        }
    }
    EXPECT_TRUE(loopback) << reply;

    const Json::Value& network = value["networkinfo"];
    ASSERT_TRUE(network.isObject()) << reply;
    EXPECT_TRUE(network["interfaces"].isArray());
    EXPECT_TRUE(network["ssid"].isString());
    EXPECT_TRUE(network["bssid"].isString());
}

} // namespace

// With --timings each reply line is followed by "exchange-ns N", the nanoseconds from the
// request's write to the reply's read as the hub sees them.
TEST(HubTool, HandsOutRequestsInOrderThenNopAndEndsByItself)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string requestFile = dir.filePath("requests.txt").toStdString();
    std::ofstream(requestFile) << "# set first, then read back\n\n"
                               << "{\"command\": \"set\", \"heartbeatinterval\": 2000000000}\n";
    auto hub = startHub(dir, {"--requests", requestFile, "--exit-after-replies", "3", "--timings",
                              "{\"command\": \"get\", \"ssid\": 1}"});
    const auto port = static_cast<std::uint16_t>(testsupport::listeningPort(*hub));
    ASSERT_NE(port, 0) << hub->allOutput();

    const auto firstExchange = std::chrono::steady_clock::now();
    EXPECT_EQ(exchangeWithHub(port, "{\"heartbeatcount\": 0}", "{\"status\": \"success\"}"),
              "{\"command\": \"get\", \"ssid\": 1}");
    EXPECT_EQ(exchangeWithHub(port, "{\"heartbeatcount\": 1}", "{\"status\": \"success\"}"),
              "{\"command\": \"set\", \"heartbeatinterval\": 2000000000}");
    EXPECT_EQ(exchangeWithHub(port, "{\"heartbeatcount\": 2}", "{\"line\": \"a\\nb\"}"),
              "{\"command\": \"nop\"}");

    ASSERT_EQ(hub->waitForExit(5s), 0) << hub->allOutput();
    // Every timed span lies within the three exchanges, and no exchange over loopback takes less
    // than a microsecond: a count in another unit or from another clock falls outside.
    const auto spanNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now() - firstExchange)
                            .count();
    const std::regex timing("exchange-ns ([0-9]+)");
    for (const std::string hello : {"0", "1", "2"}) {
        ASSERT_TRUE(hub->waitForLine("hello {\"heartbeatcount\": " + hello + "}", 1s))
            << hub->allOutput();
        const auto reply = hub->waitForLine("reply ", 1s);
        ASSERT_TRUE(reply) << hub->allOutput();
        EXPECT_EQ(*reply,
                  hello == "2" ? "reply {\"line\": \"a\\nb\"}" : "reply {\"status\": \"success\"}");
        // The very next line.
        const auto line = hub->waitForLine("", 1s);
        ASSERT_TRUE(line) << hub->allOutput();
        std::smatch match;
        ASSERT_TRUE(std::regex_match(*line, match, timing)) << *line;
        EXPECT_GT(std::stoll(match[1]), 1000) << *line;
        EXPECT_LT(std::stoll(match[1]), spanNs) << *line;
    }
}

TEST(HubTool, RejectsBadArguments)
{
    for (const auto& arguments : {std::vector<std::string>{"--port", "70000"},
                                  {"--requests", "/nonexistent/requests.txt"}}) {
        ChildProcess hub(ROAMNODE_HUB_BINARY, arguments);
        const auto status = hub.waitForExit(5s);
        ASSERT_TRUE(status) << arguments[0];
        EXPECT_GT(*status, 0) << arguments[0];
    }
}

// The endpoint registers and answers what the hub reads, the device variables among them, at the
// log level the hub set; the hub goes away and comes back on the same port: registered again. A
// stop signal ends the endpoint with 0, its log on disk.
TEST(EndToEnd, RegistersAnswersAndRegistersAgainAfterTheHubReturns)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto hub = startHub(
        dir, {"{\"command\": \"get\", \"app-version\": 1, \"capabilities\": 1, "
              "\"heartbeatinterval\": 1, \"batterylevel\": \"\", \"device-os\": \"\", "
              "\"device-os-version\": \"\", \"device-givenname\": \"\", \"device-type\": \"\", "
              "\"device-ipv4\": \"\", \"device-ipv6\": \"\", \"ssid\": \"\", \"interfaces\": \"\", "
              "\"networkinfo\": \"\"}",
              "{\"command\": \"set\", \"debuglevel\": \"debug\"}"});
    const std::string port = std::to_string(testsupport::listeningPort(*hub));
    ASSERT_NE(port, "0") << hub->allOutput();
    ChildProcess endpoint = startEndpoint(dir, port);

    const auto hello = hub->waitForLine("hello ", 10s);
    ASSERT_TRUE(hello) << hub->allOutput();
    EXPECT_NE(hello->find("\"heartbeatcount\": 0, \"state\": \"try-contact-rvp\""),
              std::string::npos)
        << *hello;
    const auto reply = hub->waitForLine("reply ", 10s);
    ASSERT_TRUE(reply) << hub->allOutput();
    // Members in byte order of their names, each written as the hub expects it.
    for (const char* member :
         {"reply {\"app-version\": \"2.12.3.0\", \"batterylevel\": ",
          ", \"capabilities\": {\"ipv4\": true, \"streamv4\": 1, \"triggerv4\": 1, \"tcpv4\": 1, "
          "\"ipv6\": true, \"streamv6\": 1, \"triggerv6\": 1, \"tcpv6\": 1, \"latency\": "
          "{\"stream\": true, \"trigger\": [\"average\"]}, \"tcprestart\": true, \"monitor\": "
          "{\"networkinfo\": true}}, \"device-givenname\": ",
          ", \"heartbeatinterval\": 1000000000, \"interfaces\": [", ", \"status\": \"success\"}"})
        EXPECT_NE(reply->find(member), std::string::npos) << member << "\nin " << *reply;
    expectDeviceVariables(reply->substr(6));
    ASSERT_TRUE(endpoint.waitForLine("Registered", 10s)) << endpoint.allOutput();
    ASSERT_TRUE(hub->waitForLine("\"state\": \"registered\"", 5s)) << hub->allOutput();
    ASSERT_TRUE(hub->waitForLine("reply {\"status\": \"success\"}", 5s)) << hub->allOutput();

    // The hub goes away: two failed exchanges later the endpoint is contacting again.
    hub->kill();
    hub.reset();
    ASSERT_TRUE(endpoint.waitForLine("Contacting", 8s)) << endpoint.allOutput();

    // Back, it reads a variable: the request is logged at the level the first hub set.
    hub = startHub(dir, {"{\"command\": \"get\", \"batterylevel\": \"\"}"}, port);
    ASSERT_TRUE(hub->waitForLine("listening on 127.0.0.1:" + port, 5s)) << hub->allOutput();
    ASSERT_TRUE(hub->waitForLine("reply {\"batterylevel\": -1", 10s)) << hub->allOutput();
    ASSERT_TRUE(endpoint.waitForLine("Registered", 10s)) << endpoint.allOutput();

    ASSERT_EQ(endpoint.signalAndWait(SIGTERM, 5s), 0) << endpoint.allOutput();
    std::ifstream file(dir.filePath("pxlog.txt").toStdString());
    std::stringstream log;
    log << file.rdbuf();
    EXPECT_NE(log.str().find("Received heartbeat request for \"BatteryLevel\" parameter"),
              std::string::npos)
        << log.str();
}

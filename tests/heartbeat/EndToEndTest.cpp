#include "JsonParse.h"
#include "RealProcesses.h"

#include <sys/utsname.h>

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// Ends by itself with a failure status (still running after 5 s reads as -1).
TEST(HubTool, RejectsBadArguments)
{
    for (const auto& arguments : {std::vector<std::string>{"--port", "70000"},
                                  {"--requests", "/nonexistent/requests.txt"}}) {
        testsupport::ChildProcess hub(ROAMNODE_HUB_BINARY, arguments);
        EXPECT_GT(hub.waitForExit(5s).value_or(-1), 0) << arguments[0];
    }
}

// The hub hands out its requests (those on the command line, then the file's, then nop), prints
// after each reply how long the exchange took, and ends by itself after the replies asked for. The
// endpoint registers and answers what the hub reads, the device variables among them, at the log
// level the hub set; once the hub is back on the same port it registers again. A stop signal
// ends the endpoint with 0, its log on disk.
TEST(EndToEnd, RegistersAnswersAndRegistersAgainAfterTheHubReturns)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string requestFile = dir.filePath("requests.txt").toStdString();
    // A shorter interval brings the nop, after the second hub's request, sooner.
    const std::string set =
        "{\"command\": \"set\", \"debuglevel\": \"debug\", \"heartbeatinterval\": 200000000}";
    std::ofstream(requestFile) << "# the log level, after the variables\n\n" << set << "\n";
    const std::vector<std::string> requests = {
        "{\"command\": \"get\", \"app-version\": 1, \"capabilities\": 1, "
        "\"heartbeatinterval\": 1, \"batterylevel\": \"\", \"device-os\": \"\", "
        "\"device-os-version\": \"\", \"device-givenname\": \"\", \"device-type\": \"\", "
        "\"device-ipv4\": \"\", \"device-ipv6\": \"\", \"ssid\": \"\", \"interfaces\": \"\", "
        "\"networkinfo\": \"\"}",
        set};
    auto hub = testsupport::startHub(
        0, {"--requests", requestFile, "--exit-after-replies", "2", "--timings", requests[0]});
    const int port = testsupport::listeningPort(*hub);
    ASSERT_NE(port, 0) << hub->allOutput();
    const auto started = std::chrono::steady_clock::now();
    const auto endpoint =
        testsupport::startEndpoint(dir.path().toStdString(), {"127.0.0.1:" + std::to_string(port)});

    const std::regex timing("exchange-ns ([0-9]+)");
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        const auto hello = hub->waitForLine("hello ", 10s);
        ASSERT_TRUE(hello) << hub->allOutput();
        EXPECT_NE(hello->find(i == 0 ? "\"heartbeatcount\": 0, \"state\": \"try-contact-rvp\""
                                     : "\"state\": \"registered\""),
                  std::string::npos)
            << *hello;
        EXPECT_EQ(hub->waitForLine("request ", 1s), "request " + requests[i]) << hub->allOutput();
        const auto reply = hub->waitForLine("reply ", 10s);
        ASSERT_TRUE(reply) << hub->allOutput();
        if (i == 0) {
            // Each variable comes from its owner (whose tests pin the values, as the parser's
            // pin how the reply is written): all are there, the host's own system among them.
            const auto parsed = testsupport::parsed(reply->substr(6));
            ASSERT_TRUE(parsed) << *reply;
            for (const char* name :
                 {"app-version", "capabilities", "heartbeatinterval", "batterylevel", "device-os",
                  "device-os-version", "device-givenname", "device-type", "device-ipv4",
                  "device-ipv6", "ssid", "interfaces", "networkinfo"})
                EXPECT_TRUE(parsed->isMember(name)) << name;
            utsname names{};
            ASSERT_EQ(uname(&names), 0);
            EXPECT_EQ((*parsed)["device-os"].asString(), names.sysname);
            EXPECT_TRUE((*parsed)["networkinfo"].isObject()) << *reply;
            EXPECT_EQ((*parsed)["status"], "success");
        } else {
            EXPECT_EQ(*reply, "reply {\"status\": \"success\"}");
        }
        // The very next line. Every timed span lies within the run, and no exchange over
        // loopback takes less than a microsecond: a count in another unit or from another clock
        // falls outside.
        const auto line = hub->waitForLine("", 1s);
        ASSERT_TRUE(line) << hub->allOutput();
        std::smatch match;
        ASSERT_TRUE(std::regex_match(*line, match, timing)) << *line;
        EXPECT_GT(std::stoll(match[1]), 1000) << *line;
        EXPECT_LT(std::stoll(match[1]), std::chrono::duration_cast<std::chrono::nanoseconds>(
                                            std::chrono::steady_clock::now() - started)
                                            .count())
            << *line;
    }
    ASSERT_EQ(hub->waitForExit(5s), 0) << hub->allOutput();
    ASSERT_TRUE(endpoint->waitForLine("Registered", 10s)) << endpoint->allOutput();

    // The hub has gone: two failed exchanges later the endpoint is contacting again.
    hub.reset();
    ASSERT_TRUE(endpoint->waitForLine("Contacting", 8s)) << endpoint->allOutput();

    // Back, it reads a variable (the request is logged at the level the first hub set), then it
    // has nothing left to ask.
    hub = testsupport::startHub(port, {"{\"command\": \"get\", \"batterylevel\": \"\"}"});
    ASSERT_TRUE(hub->waitForLine("listening on 127.0.0.1:" + std::to_string(port), 5s))
        << hub->allOutput();
    ASSERT_TRUE(hub->waitForLine("reply {\"batterylevel\": -1", 10s)) << hub->allOutput();
    ASSERT_TRUE(endpoint->waitForLine("Registered", 10s)) << endpoint->allOutput();
    EXPECT_EQ(hub->waitForLine("request ", 5s), "request {\"command\": \"nop\"}");
    EXPECT_EQ(hub->waitForLine("reply ", 5s), "reply {\"status\": \"success\"}");

    ASSERT_EQ(endpoint->signalAndWait(SIGTERM, 5s), 0) << endpoint->allOutput();
    std::ifstream file(dir.filePath("pxlog.txt").toStdString());
    const std::string log{std::istreambuf_iterator<char>(file), {}};
    EXPECT_NE(log.find("Received heartbeat request for \"BatteryLevel\" parameter"),
              std::string::npos)
        << log;
}

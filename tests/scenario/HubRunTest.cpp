// End to end on loopback: the real endpoint registers with the real hub tool, receives a
// description and a start time in one "set", arms, runs a stream into a trigger of its own,
// reports the counts in "resultlist" and empties the list when the hub sets it.
#include "ChildProcess.h"
#include "ScenarioTestSupport.h"
#include "bus/TimePoint.h"

#include <QTemporaryDir>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include <json/reader.h>
#include <json/writer.h>

#include <gtest/gtest.h>

#include <csignal>
#include <map>

using namespace std::chrono_literals;

namespace {

// One roamnode-hub process and the lines it prints.
class Hub
{
public:
    Hub(std::uint16_t port, const std::vector<std::string>& requests, int exitAfterReplies)
        : m_process(ROAMNODE_HUB_BINARY, arguments(port, requests, exitAfterReplies))
    {
    }

    // The first line whose start is `prefix` and which satisfies `accept`, or "" at the timeout.
    template <typename Accept>
    std::string waitForLine(const std::string& prefix, Accept accept,
                            std::chrono::milliseconds timeout)
    {
        const auto line = m_process.waitForLine(
            [&](const std::string& l) {
                return l.rfind(prefix, 0) == 0 && accept(l.substr(prefix.size()));
            },
            timeout);
        return line ? line->substr(prefix.size()) : std::string();
    }

    // The first reply with a result list that is not empty, or "" at the timeout.
    std::string waitForResultList(std::chrono::milliseconds timeout)
    {
        return waitForLine(
            "reply ",
            [](const std::string& reply) {
                return reply.find("\"resultlist\": [{") != std::string::npos;
            },
            timeout);
    }

    std::uint16_t port() { return std::uint16_t(testsupport::listeningPort(m_process, 5000ms)); }
    bool finish(std::chrono::milliseconds timeout)
    {
        return m_process.waitForExit(timeout).has_value();
    }
    const std::vector<std::string>& lines() { return m_process.lines(); }

private:
    static std::vector<std::string>
    arguments(std::uint16_t port, const std::vector<std::string>& requests, int exitAfterReplies)
    {
        std::vector<std::string> arguments = {"--port", std::to_string(port), "--bind",
                                              "127.0.0.1"};
        if (exitAfterReplies > 0)
            arguments.insert(arguments.end(),
                             {"--exit-after-replies", std::to_string(exitAfterReplies)});
        arguments.insert(arguments.end(), requests.begin(), requests.end());
        return arguments;
    }

    testsupport::ChildProcess m_process;
};

// The real endpoint, at home in `home`, registering with the hub on `hubPort`. Ends however the
// test leaves: asked first, killed if it does not listen.
struct Endpoint
{
    Endpoint(const QString& home, std::uint16_t hubPort)
        : process(ROAMNODE_BINARY, {"127.0.0.1:" + std::to_string(hubPort)},
                  testsupport::homeIn(home.toStdString()), home.toStdString())
    {
    }

    // Counts console lines that satisfy `accept` until `count` have come or the timeout passes.
    template <typename Accept>
    bool waitForConsoleLines(Accept accept, int count, std::chrono::milliseconds timeout)
    {
        int seen = 0;
        return process
            .waitForLine([&](const std::string& line) { return accept(line) && ++seen >= count; },
                         timeout)
            .has_value();
    }

    testsupport::ChildProcess process;
};

// A stream into a trigger of the same endpoint, both on ports the system just handed out.
std::string streamIntoTrigger(std::int64_t duration, std::int64_t interFrameGap,
                              std::uint64_t frames)
{
    const std::string streamPort = std::to_string(scenariotest::freeUdpPort(false));
    const std::string triggerPort = std::to_string(scenariotest::freeUdpPort(false));
    // The trigger is listed first and the stream waits 100 ms, so the trigger's socket is bound
    // before the first frame.
    return "{\"scenarioid\": 42, \"duration\": " + std::to_string(duration) +
           ", \"flows\": ["
           "{\"id\": 2, \"flowtype\": \"triggerv4\", \"flow\": {\"srcport\": " +
           streamPort + ", \"dstport\": " + triggerPort +
           ", \"srcipv4\": \"127.0.0.1\"}}, "
           "{\"id\": 1, \"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": "
           "100000000, \"srcport\": " +
           streamPort + ", \"dstport\": " + triggerPort +
           ", \"dstipv4\": \"127.0.0.1\", \"interframegap\": " + std::to_string(interFrameGap) +
           ", \"numberofframes\": " + std::to_string(frames) +
           ", \"contentlist\": "
           "[\"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\"]}}]}";
}

Json::Value parseJson(const std::string& text)
{
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    return value;
}

std::uint64_t sum(const Json::Value& array)
{
    std::uint64_t total = 0;
    for (const auto& value : array)
        total += value.asUInt64();
    return total;
}

} // namespace

TEST(HubRunTest, SetRunReadAndResetTheResultList)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());

    // 1. A hub that only quickens the heartbeat and lets the endpoint register.
    auto hub = std::make_unique<Hub>(
        0,
        std::vector<std::string>{"{\"command\": \"set\", \"heartbeatinterval\": \"200\", "
                                 "\"max-heartbeatfailcount\": \"100\"}"},
        1);
    const std::uint16_t hubPort = hub->port();
    ASSERT_NE(hubPort, 0);

    Endpoint endpoint(home.path(), hubPort);
    ASSERT_TRUE(endpoint.process.started());
    ASSERT_TRUE(hub->finish(30000ms)) << "the endpoint never registered";
    EXPECT_NE(hub->waitForLine(
                     "reply ", [](const std::string&) { return true; }, 100ms)
                  .find("\"success\""),
              std::string::npos);

    // 2. Description and start time in one "set"; then the result list until it fills.
    const std::string description = streamIntoTrigger(700000000, 20000000, 20);
    // The endpoint finds the new hub at its next heartbeat after a few refused ones; the start
    // time leaves room for that on a busy machine.
    const std::int64_t startTime = roamnode::nowNanoseconds() + 3000000000;
    std::vector<std::string> requests = {
        "{\"command\": \"set\", \"scenariodescription\": " + description +
        ", \"scenariostarttime\": " + std::to_string(startTime) + "}"};
    for (int i = 0; i < 100; ++i)
        requests.push_back("{\"command\": \"get\", \"resultlist\": \"\"}");
    hub = std::make_unique<Hub>(hubPort, requests, 0);

    const std::string accepted = hub->waitForLine(
        "reply ", [](const std::string&) { return true; }, 10000ms);
    EXPECT_EQ(accepted, "{\"status\": \"success\"}");
    const std::string filled = hub->waitForResultList(15000ms);
    ASSERT_FALSE(filled.empty()) << "no result list after the run";
    const Json::Value list = parseJson(filled)["resultlist"];
    ASSERT_EQ(list.size(), 1u) << filled;
    EXPECT_EQ(list[0]["scenarioid"].asInt(), 42);
    EXPECT_EQ(list[0]["timestamp"].asInt64(), startTime / 1000 * 1000);
    ASSERT_EQ(list[0]["flows"].size(), 2u);
    for (const Json::Value& flow : list[0]["flows"]) {
        EXPECT_EQ(flow["status"].asString(), "success") << flow;
        EXPECT_EQ(sum(flow["packetcountarray"]), 20u) << flow;
        EXPECT_EQ(sum(flow["bytecountarray"]), 20u * (32 + 42)) << flow;
    }

    // 3. Setting the list empties it. The running hub goes first: the next one needs its port.
    hub.reset();
    hub = std::make_unique<Hub>(
        hubPort,
        std::vector<std::string>{"{\"command\": \"set\", \"resultlist\": \"\"}",
                                 "{\"command\": \"get\", \"resultlist\": \"\"}"},
        2);
    ASSERT_TRUE(hub->finish(15000ms));
    std::vector<std::string> replies;
    for (const auto& line : hub->lines()) {
        if (line.rfind("reply ", 0) == 0)
            replies.push_back(line.substr(6));
    }
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], "{\"status\": \"success\"}");
    EXPECT_EQ(replies[1], "{\"resultlist\": [], \"status\": \"success\"}");
}

// Failures show as failures: an HTTP flow whose server refuses the connection ends with "error"
// and a message, and empty datagrams sent at a trigger are passed over while it goes on counting.
TEST(HubRunTest, ARefusedHttpFlowIsAnErrorAndEmptyDatagramsDoNotStopATrigger)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    boost::asio::io_context io;
    const std::uint16_t closedTcpPort = [&io] {
        boost::asio::ip::tcp::acceptor acceptor(
            io, boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        return acceptor.local_endpoint().port();
    }();

    // 40 frames from 100 ms to 880 ms into a run of 1.5 s, and a GET nobody answers.
    Json::Value description = parseJson(streamIntoTrigger(1500000000, 20000000, 40));
    Json::Value http = parseJson(R"({"id": 3, "flowtype": "tcpv4", "flow": {
        "requestmethod": "get", "initialtimetowait": 0, "url": "/refused", "srcport": 0,
        "duration": 500000000, "dstipv4": "127.0.0.1"}})");
    http["flow"]["dstport"] = closedTcpPort;
    description["flows"].append(http);
    const auto triggerPort =
        static_cast<std::uint16_t>(description["flows"][0]["flow"]["dstport"].asUInt());
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";

    const std::int64_t startTime = roamnode::nowNanoseconds() + 3000000000;
    std::vector<std::string> requests = {
        "{\"command\": \"set\", \"heartbeatinterval\": \"200\"}",
        "{\"command\": \"set\", \"scenariodescription\": " +
            Json::writeString(writer, description) +
            ", \"scenariostarttime\": " + std::to_string(startTime) + "}"};
    for (int i = 0; i < 100; ++i)
        requests.push_back("{\"command\": \"get\", \"resultlist\": \"\"}");
    Hub hub(0, requests, 0);
    const std::uint16_t hubPort = hub.port();
    ASSERT_NE(hubPort, 0);
    Endpoint endpoint(home.path(), hubPort);
    ASSERT_TRUE(endpoint.process.started());

    // Empty datagrams from another port, 300 ms into the run, while frames are still due.
    ASSERT_TRUE(
        scenariotest::waitFor([&] { return roamnode::nowNanoseconds() > startTime + 300000000; },
                              std::chrono::milliseconds(8000)));
    boost::asio::ip::udp::socket sender(io, boost::asio::ip::udp::v4());
    const boost::asio::ip::udp::endpoint trigger(boost::asio::ip::address_v4::loopback(),
                                                 triggerPort);
    for (int i = 0; i < 50; ++i)
        sender.send_to(boost::asio::buffer("", 0), trigger);

    const std::string filled = hub.waitForResultList(15000ms);
    ASSERT_FALSE(filled.empty()) << "no result list after the run";
    const Json::Value list = parseJson(filled)["resultlist"];
    std::map<int, Json::Value> flows;
    for (const Json::Value& flow : list[0]["flows"])
        flows[flow["id"].asInt()] = flow;
    ASSERT_EQ(flows.size(), 3u) << filled;
    for (const int id : {1, 2}) {
        EXPECT_EQ(flows[id]["status"].asString(), "success") << flows[id];
        EXPECT_EQ(sum(flows[id]["packetcountarray"]), 40u) << flows[id];
    }
    EXPECT_EQ(flows[3]["status"].asString(), "error") << flows[3];
    EXPECT_FALSE(flows[3]["errormsg"].asString().empty()) << flows[3];
}

// A stop signal in the middle of a busy UDP run ends the run, joins its thread and releases its
// sockets before the process takes itself apart: a clean exit with status 0, nothing on stderr
// from the allocator or a sanitizer.
TEST(HubRunTest, AStopSignalDuringAUdpRunEndsItAndExitsZero)
{
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        // A minute of 20,000 frames a second: still running when the signal comes.
        const std::int64_t startTime = roamnode::nowNanoseconds() + 1500000000;
        Hub hub(0,
                {"{\"command\": \"set\", \"heartbeatinterval\": \"200\"}",
                 "{\"command\": \"set\", \"scenariodescription\": " +
                     streamIntoTrigger(60000000000, 50000, 1200000) +
                     ", \"scenariostarttime\": " + std::to_string(startTime) + "}"},
                0);
        const std::uint16_t hubPort = hub.port();
        ASSERT_NE(hubPort, 0);
        Endpoint endpoint(home.path(), hubPort);
        ASSERT_TRUE(endpoint.process.started());

        // Two speed reports while running: the stream has been sending for a second or more.
        const auto sending = [](const std::string& line) {
            return line.find("Running") != std::string::npos &&
                   line.find("Tx:   0.00") == std::string::npos;
        };
        ASSERT_TRUE(endpoint.waitForConsoleLines(sending, 2, 20000ms));

        EXPECT_EQ(endpoint.process.signalAndWait(signalNumber, 5000ms), 0)
            << "no clean exit after signal " << signalNumber;
        const std::string errors = endpoint.process.errText();
        EXPECT_EQ(errors.find("free"), std::string::npos) << errors;
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
}

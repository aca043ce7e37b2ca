#include "flows/MultiConnect.h"

#include "ChildProcess.h"
#include "LoopbackPort.h"
#include "TcpRecorder.h"
#include "TcpTestPeer.h"

#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <future>
#include <set>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

MultiConnect::Config flowConfig(std::uint16_t port, std::int64_t duration, bool restart = false)
{
    MultiConnect::Config config;
    config.destination = "127.0.0.1";
    config.url = "/dir/name/more";
    config.dstPort = port;
    config.duration = duration;
    config.restart = restart;
    return config;
}

// A flow from its start to its own end (bounded), then stopped. A second start or stop adds
// nothing: the callers check that the flow reported its end once.
std::shared_ptr<TcpRecorder> runToEnd(const MultiConnect::Config& config,
                                      std::chrono::milliseconds bound = 3s)
{
    auto recorder = std::make_shared<TcpRecorder>();
    auto engine = std::make_shared<MultiConnect>(recorder, config);
    engine->start();
    engine->start();
    EXPECT_TRUE(recorder->waitFinished(bound));
    engine->stop(); // the thread has ended on its own
    engine->stop();
    return recorder;
}

std::string requestLine(const std::string& request)
{
    return request.substr(0, request.find("\r\n"));
}

// Stops itself from the engine thread right after a connection ended, while the step that would
// start the next connection is queued.
class StopAfterFirstConnection : public MultiConnect
{
public:
    using MultiConnect::MultiConnect;

    void onClientFinished() override
    {
        MultiConnect::onClientFinished();
        stop();
        stopped.set_value();
    }

    std::promise<void> stopped;
};

// Owns its engine and lets go of it from onFinished, on the engine thread itself.
struct ReleasingListener : MultiConnect::Listener
{
    void onBytes(std::size_t, roamnode::time_point) override {}
    void onFinished() override
    {
        engine.reset();
        released.set_value();
    }

    std::shared_ptr<MultiConnect> engine;
    std::promise<void> released;
};

} // namespace

// The path name keeps the URL's first two segments; a destination that is no address throws
// from the constructor.
TEST(MultiConnectSetup, PathNameAndDestination)
{
    const std::pair<const char*, const char*> cases[] = {{"/dir/name/more", "dir/name"},
                                                         {"/abc", "abc"},
                                                         {"/a/b/c/d", "a/b"},
                                                         {"/a/b", "a/b"},
                                                         {"abc", "abc"},
                                                         {"", ""},
                                                         {"/", ""},
                                                         {"x/y/z", "y/z"}};
    auto recorder = std::make_shared<TcpRecorder>();
    MultiConnect::Config config = flowConfig(80, 0);
    for (const auto& [url, pathName] : cases) {
        config.url = url;
        EXPECT_EQ(MultiConnect(recorder, config).pathName(), pathName) << url;
    }
    for (const char* destination : {"foo", "", "1.2.3.4.5", "example.com", "::1::2"}) {
        config.destination = destination;
        try {
            MultiConnect engine(recorder, config);
            ADD_FAILURE() << "no error for '" << destination << "'";
        } catch (const boost::system::system_error& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("invalid destination address '") +
                                                 destination + "'"),
                      std::string::npos)
                << e.what();
        }
    }
    config.destination = "fe80::1%lo";
    EXPECT_NO_THROW(MultiConnect(recorder, config));
}

// Flows that end with their first connection: without restart; with restart when half a second
// or less remains; with restart when the server refused the request, as it would only refuse
// again, as fast as it answers.
TEST(MultiConnectRestart, FlowsThatEndWithTheirFirstConnection)
{
    const struct
    {
        const char* name;
        TcpTestPeer::Reply reply;
        std::int64_t duration;
        bool restart;
        std::string requestLine;
        std::string failure;
    } cases[] = {
        // No "-1" without restart, and no rate part for a rate limit of -1.
        {"off", TcpTestPeer::ok(0, 100ms), 1000000000, false,
         "GET /dir/name/?ns=1000000000 HTTP/1.1", ""},
        {"on, 400 ms left", TcpTestPeer::ok(0, 300ms), 700000000, true,
         "GET /dir/name-1/?ns=700000000 HTTP/1.1", ""},
        {"on, refused", TcpTestPeer::Reply{"HTTP/1.1 404 Not Found\r\n\r\n", 0, {}}, 2000000000,
         true, "GET /dir/name-1/?ns=2000000000 HTTP/1.1",
         "the HTTP server answered \"HTTP/1.1 404 Not Found\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcpTestPeer peer([&](std::size_t) { return c.reply; });
        const std::int64_t begin = roamnode::nowNanoseconds();
        const auto recorder = runToEnd(flowConfig(peer.port(), c.duration, c.restart));
        EXPECT_LT(recorder->finishedAt() - begin, 650000000);
        EXPECT_EQ(recorder->finishedCount(), 1);
        EXPECT_EQ(recorder->failure(), c.failure);
        const auto connections = peer.connections();
        ASSERT_EQ(connections.size(), 1u);
        EXPECT_EQ(requestLine(connections[0].request), c.requestLine);
    }
}

TEST(MultiConnectRestart, OnStartsTheNextConnectionWithTheRemainingTime)
{
    const std::uint16_t sourcePort = testsupport::unusedLoopbackPort();
    // The first connection is closed by the server after 200 ms; the second runs until the
    // client's duration ends it.
    TcpTestPeer peer([](std::size_t index) {
        return index == 0 ? TcpTestPeer::ok(0, 200ms) : TcpTestPeer::ok();
    });
    MultiConnect::Config config = flowConfig(peer.port(), 1200000000, true);
    config.srcPort = sourcePort;
    const auto recorder = runToEnd(config, 4s);

    const auto connections = peer.connections();
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(requestLine(connections[0].request), "GET /dir/name-1/?ns=1200000000 HTTP/1.1");
    EXPECT_EQ(connections[0].peerPort, sourcePort);
    EXPECT_EQ(requestLine(connections[1].request).compare(0, 20, "GET /dir/name-2/?ns="), 0);
    const std::int64_t remaining = std::stoll(connections[1].request.substr(20));
    EXPECT_GT(remaining, 800000000);
    EXPECT_LE(remaining, 1000000000);
    EXPECT_NE(connections[1].peerPort, sourcePort);
    EXPECT_EQ(recorder->finishedCount(), 1);
}

// Stopped before its start time, or during a transfer: the stop is prompt, reports the end once
// (a second stop adds nothing) and leaves no connection open.
TEST(MultiConnectStop, BeforeTheStartOrDuringATransferReportsOnce)
{
    for (const bool connected : {false, true}) {
        SCOPED_TRACE(connected ? "during a transfer" : "before the start time");
        TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(); });
        auto recorder = std::make_shared<TcpRecorder>();
        MultiConnect::Config config = flowConfig(peer.port(), 10000000000, true);
        config.initialTimeToWait = connected ? 0 : 10000000000;
        auto engine = std::make_shared<MultiConnect>(recorder, config);
        engine->start();
        ASSERT_EQ(peer.waitForConnections(1, connected ? 2s : 200ms), connected);
        const auto begin = Clock::now();
        engine->stop();
        EXPECT_LT(Clock::now() - begin, 1s);
        EXPECT_EQ(recorder->finishedCount(), 1);
        EXPECT_TRUE(!connected || peer.waitForEnded(1, 1s));
        engine->stop();
        EXPECT_EQ(recorder->finishedCount(), 1);
        EXPECT_EQ(peer.connections().size(), connected ? 1u : 0u);
    }
}

TEST(MultiConnectStop, BetweenTwoConnectionsReportsNothing)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(0, 100ms); });
    auto recorder = std::make_shared<TcpRecorder>();
    auto engine = std::make_shared<StopAfterFirstConnection>(
        recorder, flowConfig(peer.port(), 3000000000, true));
    std::future<void> stopped = engine->stopped.get_future();
    engine->start();
    ASSERT_EQ(stopped.wait_for(2s), std::future_status::ready);
    engine->stop(); // joins: the queued step has run by now
    EXPECT_EQ(recorder->finishedCount(), 0);
    EXPECT_EQ(peer.connections().size(), 1u);
}

TEST(MultiConnectStop, StopIsSafeBeforeStartWithoutAListenerAndFromItsOwnThread)
{
    auto recorder = std::make_shared<TcpRecorder>();
    {
        auto engine = std::make_shared<MultiConnect>(recorder, flowConfig(9, 1000000));
        engine->stop();
        engine->stop();
        engine->start(); // after stop: nothing starts
        engine->stop();
        EXPECT_EQ(recorder->finishedCount(), 0);
    }
    {
        // Released while connected, without stop: the destructor ends the thread.
        TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(); });
        auto engine = std::make_shared<MultiConnect>(recorder, flowConfig(peer.port(), 5000000000));
        engine->start();
        ASSERT_TRUE(peer.waitForConnections(1, 2s));
    }
    {
        // The listener gone: the engine holds its flow only weakly, and ends cleanly.
        TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(300000); });
        auto gone = std::make_shared<TcpRecorder>();
        auto engine = std::make_shared<MultiConnect>(gone, flowConfig(peer.port(), 300000000));
        gone.reset();
        engine->start();
        ASSERT_TRUE(peer.waitForEnded(1, 2s));
        engine->stop();
    }
    {
        // Released by its listener from its own thread.
        TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(0, 0ms); });
        auto listener = std::make_shared<ReleasingListener>();
        listener->engine =
            std::make_shared<MultiConnect>(listener, flowConfig(peer.port(), 100000000));
        std::future<void> released = listener->released.get_future();
        listener->engine->start();
        ASSERT_EQ(released.wait_for(2s), std::future_status::ready);
        EXPECT_FALSE(listener->engine);
    }
}

// Two flows at once against one server: a limited PUT over IPv6, and a restarting GET whose body
// the server paces to 150,000 bytes per second (a 262,144-byte report every 1.7 s at most, so the
// 300 ms watchdog ends each connection and the restart rule opens the next ones).
TEST(MultiConnectHttpd, LimitedPutAndPacedRestartingGetAgainstTheTestServer)
{
    testsupport::ChildProcess httpd(ROAMNODE_HTTPD, {"--port", "0", "--verbose"});
    const auto port = static_cast<std::uint16_t>(testsupport::listeningPort(httpd));
    ASSERT_NE(port, 0) << httpd.allOutput();
    MultiConnect::Config put = flowConfig(port, 400000000);
    put.destination = "::1";
    put.ipv6 = 1;
    put.method = 1;
    put.rateLimit = 2000000;
    put.url = "/up";
    MultiConnect::Config paced = flowConfig(port, 1000000000, true);
    paced.rateLimit = 150000;
    paced.trafficTimeout = 300ms;
    std::vector<std::shared_ptr<TcpRecorder>> recorders;
    std::vector<std::shared_ptr<MultiConnect>> engines;
    for (const MultiConnect::Config& config : {put, paced}) {
        recorders.push_back(std::make_shared<TcpRecorder>());
        engines.push_back(std::make_shared<MultiConnect>(recorders.back(), config));
        engines.back()->start();
    }
    for (std::size_t i = 0; i < engines.size(); ++i) {
        ASSERT_TRUE(recorders[i]->waitFinished(3s)) << i;
        engines[i]->stop();
    }

    std::size_t uploaded = 0;
    for (const TcpReport& report : recorders[0]->frames())
        uploaded += report.bytes;
    EXPECT_GE(uploaded, 131072u);
    // The flow's limit reaches the client: no more than 2,000,000 B/s over the 400 ms.
    EXPECT_LE(uploaded, 800000u);
    EXPECT_TRUE(recorders[1]->frames().empty());
    const std::string restarted = "GET /dir/name-2/?ns=";
    // The verbose server prints the headers: the IPv6 flow names its destination as the host.
    std::set<std::string> requests = {"PUT /up/?ns=400000000&rate=2000000 HTTP/1.1", restarted,
                                      "  Host: ::1"};
    const auto served = [&](const std::string& line) {
        requests.erase(line.rfind(restarted, 0) == 0 ? restarted : line);
        return requests.empty();
    };
    EXPECT_TRUE(httpd.waitForLine(served, 2s)) << httpd.allOutput();
}

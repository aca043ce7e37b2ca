#include "TcpClient.h"

#include "TcpRecorder.h"
#include "TcpTestPeer.h"

#include <boost/asio/io_context.hpp>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kNotFound = "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n";

TcpClient::Config getConfig(std::uint16_t port, std::int64_t ns = 2000000000)
{
    TcpClient::Config config;
    config.host = "127.0.0.1";
    config.target = "/dir/name/?ns=" + std::to_string(ns);
    config.dstPort = port;
    config.ns = ns;
    return config;
}

// One client on an event loop driven by the test thread until the client has nothing left to
// do (or the bound passes).
struct ClientRun
{
    std::shared_ptr<TcpRecorder> recorder = std::make_shared<TcpRecorder>();
    Clock::duration elapsed{};

    void run(const TcpClient::Config& config, std::chrono::seconds bound = 5s)
    {
        boost::asio::io_context eventLoop;
        auto client = std::make_shared<TcpClient>(recorder, config, eventLoop);
        const auto begin = Clock::now();
        client->start();
        eventLoop.run_for(bound);
        elapsed =
            recorder->finishedCount() > 0 ? recorder->finishedAt() - begin : Clock::now() - begin;
    }
};

std::uint16_t closedPort()
{
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor acceptor(context,
                                            {boost::asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

} // namespace

TEST(TcpClientRequest, GetRequestBytesAreExact)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(1000); });
    ClientRun run;
    run.run(getConfig(peer.port(), 300000000));

    ASSERT_EQ(run.recorder->finishedCount(), 1);
    ASSERT_TRUE(peer.waitForConnections(1, 1s));
    EXPECT_EQ(peer.connections().at(0).request, "GET /dir/name/?ns=300000000 HTTP/1.1\r\n"
                                                "User Agent: Pellix WiFi App\r\n"
                                                "Host: 127.0.0.1\r\n"
                                                "Accept: */*\r\n"
                                                "Connection: close\r\n\r\n");
}

TEST(TcpClientRequest, PutSendsTheLetterBodyAfterTheStatusLine)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(0, 150ms); });
    TcpClient::Config config = getConfig(peer.port(), 300000000);
    config.method = 1;
    ClientRun run;
    run.run(config);

    ASSERT_EQ(run.recorder->finishedCount(), 1);
    ASSERT_TRUE(peer.waitForEnded(1, 1s));
    const TcpTestPeer::Connection connection = peer.connections().at(0);
    EXPECT_EQ(connection.request.compare(0, 33, "PUT /dir/name/?ns=300000000 HTTP/"), 0);
    EXPECT_EQ(connection.bodyStart.substr(0, 30), "abcdefghijklmnopqrstuvwxyz{|}~");
    // The first write is always one full 131,072-byte chunk.
    const auto reports = run.recorder->reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().bytes, 131072u);
    EXPECT_GE(connection.bytesReceived, 131072u);
}

TEST(TcpClientStatus, NotFoundEndsWithoutCountingBytes)
{
    TcpTestPeer peer([](std::size_t) {
        TcpTestPeer::Reply reply;
        reply.head = kNotFound;
        reply.bodyBytes = 300000;
        return reply;
    });
    ClientRun run;
    run.run(getConfig(peer.port()));
    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_TRUE(run.recorder->reports().empty());
    EXPECT_LT(run.elapsed, 1s);
}

TEST(TcpClientStatus, StatusLineThatIsNotHttpEndsTheClient)
{
    for (const char* head : {"FOO/1.1 200 OK\r\n\r\n", "HTTP/1.1 OK 200\r\n\r\n", "\r\n\r\n"}) {
        TcpTestPeer peer([head](std::size_t) {
            TcpTestPeer::Reply reply;
            reply.head = head;
            reply.bodyBytes = 300000;
            return reply;
        });
        ClientRun run;
        run.run(getConfig(peer.port()));
        EXPECT_EQ(run.recorder->finishedCount(), 1) << head;
        EXPECT_TRUE(run.recorder->reports().empty()) << head;
    }
}

TEST(TcpClientGet, ReportsEveryFullQuarterMegabyteOnly)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(300000); });
    ClientRun run;
    run.run(getConfig(peer.port()));

    ASSERT_EQ(run.recorder->finishedCount(), 1);
    const auto reports = run.recorder->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_GE(reports[0].bytes, 262144u);
    EXPECT_LT(reports[0].bytes, 300000u);
}

TEST(TcpClientWatchdog, SilentServerEndsAfterTheTrafficInterval)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::Reply{}; });
    TcpClient::Config config = getConfig(peer.port(), 10000000000);
    config.trafficTimeout = 300ms;
    ClientRun run;
    run.run(config);

    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_GE(run.elapsed, 300ms);
    EXPECT_LT(run.elapsed, 1500ms);
    ASSERT_TRUE(peer.waitForEnded(1, 1s));
}

TEST(TcpClientWatchdog, SilentServerEndsAfterTwoSecondsOfRealClock)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::Reply{}; });
    ClientRun run;
    run.run(getConfig(peer.port(), 10000000000));

    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_GE(run.elapsed, 2s);
    EXPECT_LT(run.elapsed, 3s);
}

TEST(TcpClientWatchdog, ProgressKeepsTheConnectionPastTheInterval)
{
    // Every completed write refreshes the 150 ms watchdog, so the duration ends this PUT.
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(0); });
    TcpClient::Config config = getConfig(peer.port(), 400000000);
    config.method = 1;
    config.trafficTimeout = 150ms;
    ClientRun run;
    run.run(config);

    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_GE(run.elapsed, 400ms);
    EXPECT_GT(run.recorder->reports().size(), 1u);
}

TEST(TcpClientWatchdog, SlowRateLimitEndsAPutWaitingToRepayItsChunk)
{
    // 131,072 bytes at 100,000 B/s take 1.3 s to repay: longer than the 300 ms watchdog.
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(); });
    TcpClient::Config config = getConfig(peer.port(), 5000000000);
    config.method = 1;
    config.rateLimit = 100000;
    config.trafficTimeout = 300ms;
    ClientRun run;
    run.run(config);

    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_LT(run.elapsed, 1200ms);
    const auto reports = run.recorder->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].bytes, 131072u);
}

TEST(TcpClientDuration, DurationEndsAnIdleTransfer)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(); });
    ClientRun run;
    run.run(getConfig(peer.port(), 300000000));

    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_GE(run.elapsed, 300ms);
    EXPECT_LT(run.elapsed, 1500ms);
    ASSERT_TRUE(peer.waitForEnded(1, 1s));
}

TEST(TcpClientFailure, RefusedConnectionFinishesAtOnce)
{
    ClientRun run;
    run.run(getConfig(closedPort()));
    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_LT(run.elapsed, 1s);
}

TEST(TcpClientFailure, HostThatIsNotAnAddressFinishesWithoutThrowing)
{
    TcpClient::Config config = getConfig(closedPort());
    config.host = "not-an-address";
    ClientRun run;
    EXPECT_NO_THROW(run.run(config));
    EXPECT_EQ(run.recorder->finishedCount(), 1);
}

TEST(TcpClientFailure, SourcePortInUseCountsAsFailureToOpen)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(1000); });
    TcpTestPeer holder([](std::size_t) { return TcpTestPeer::ok(); });
    TcpClient::Config config = getConfig(peer.port());
    config.srcPort = holder.port(); // a listening socket keeps it, address reuse or not
    ClientRun run;
    run.run(config);
    EXPECT_EQ(run.recorder->finishedCount(), 1);
    EXPECT_FALSE(peer.waitForConnections(1, 100ms));
}

TEST(TcpClientFailure, FamilyThatDoesNotMatchTheHostFinishes)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(1000); });
    TcpClient::Config config = getConfig(peer.port());
    config.ipv6 = 1;
    ClientRun run;
    run.run(config);
    EXPECT_EQ(run.recorder->finishedCount(), 1);
}

TEST(TcpClientFailure, FinishTwiceReportsOnce)
{
    TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(); });
    auto recorder = std::make_shared<TcpRecorder>();
    boost::asio::io_context eventLoop;
    auto client = std::make_shared<TcpClient>(recorder, getConfig(peer.port()), eventLoop);
    client->finish(); // before start: nothing to end
    client->start();
    client->finish();
    client->finish();
    eventLoop.run_for(2s);
    EXPECT_EQ(recorder->finishedCount(), 1);
}

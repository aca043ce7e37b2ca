#include "flows/TcpClient.h"

#include "LoopbackPort.h"
#include "TcpRecorder.h"
#include "TcpTestPeer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t kSecond = 1000000000;
constexpr std::size_t kMegabyte = 1048576;

// A GET, or a PUT when given a rate limit (-1: none).
TcpClient::Config clientConfig(std::uint16_t port, std::int64_t ns = 2 * kSecond,
                               std::optional<std::int64_t> putRate = std::nullopt)
{
    TcpClient::Config config;
    config.host = "127.0.0.1";
    config.target = "/dir/name/?ns=" + std::to_string(ns);
    config.dstPort = port;
    config.ns = ns;
    config.method = putRate ? 1 : 0;
    config.rateLimit = putRate.value_or(config.rateLimit);
    return config;
}

// One client on an event loop driven by the test thread until the client has nothing left to
// do (or the bound passes).
struct ClientRun
{
    std::shared_ptr<TcpRecorder> recorder = std::make_shared<TcpRecorder>();
    std::chrono::nanoseconds elapsed{0};
    // How long the event loop's thread could not run: a timer every millisecond notes how late it
    // fires, beyond a millisecond of slack. A loaded machine holds a paced sender back by that
    // much, which no bucket can make up.
    std::chrono::nanoseconds loopStalled{0};

    void run(const TcpClient::Config& config, std::chrono::seconds bound = 5s)
    {
        boost::asio::io_context eventLoop;
        auto client = std::make_shared<TcpClient>(recorder, config, eventLoop);
        boost::asio::steady_timer probe(eventLoop);
        std::function<void()> arm = [&] {
            const Clock::time_point due = Clock::now() + 1ms;
            probe.expires_at(due);
            probe.async_wait([&, due](const boost::system::error_code& error) {
                if (error == boost::asio::error::operation_aborted)
                    return;
                loopStalled += std::max<Clock::duration>(Clock::now() - due - 1ms, 0ms);
                if (recorder->finishedCount() == 0)
                    arm();
            });
        };
        arm();
        const std::int64_t begin = roamnode::nowNanoseconds();
        client->start();
        eventLoop.run_for(bound);
        elapsed = std::chrono::nanoseconds(
            (recorder->finishedCount() > 0 ? recorder->finishedAt() : roamnode::nowNanoseconds()) -
            begin);
    }
};

} // namespace

// The request goes out byte for byte as the server expects it; what comes back is reported in
// whole quarter megabytes only.
TEST(TcpClientGet, ReportsOnlyWholeQuarterMegabytesAndNotTheShortLastPiece)
{
    for (const std::size_t sent : {200000u, 300000u, 1000000u}) {
        TcpTestPeer peer([sent](std::size_t) { return TcpTestPeer::ok(sent); });
        ClientRun run;
        run.run(clientConfig(peer.port()));

        ASSERT_EQ(run.recorder->finishedCount(), 1) << sent;
        ASSERT_TRUE(peer.waitForConnections(1, 1s));
        EXPECT_EQ(peer.connections().at(0).request, "GET /dir/name/?ns=2000000000 HTTP/1.1\r\n"
                                                    "User Agent: Pellix WiFi App\r\n"
                                                    "Host: 127.0.0.1\r\n"
                                                    "Accept: */*\r\n"
                                                    "Connection: close\r\n\r\n");
        std::size_t reported = 0;
        for (const TcpReport& report : run.recorder->frames()) {
            EXPECT_GE(report.bytes, 262144u) << sent;
            reported += report.bytes;
        }
        EXPECT_LE(reported, sent);
        EXPECT_GT(reported + 262144, sent);
    }
}

// Without a limit (-1 or 0) a PUT writes megabytes back to back; with one, the limit holds within
// 1 % over a second. Either way the body is the letter pattern.
TEST(TcpClientPut, UnlimitedWritesMegabytesBackToBackAndALimitHoldsWithinOnePercent)
{
    for (const std::int64_t rate : {-1, 0, 1000000, 500000000}) {
        SCOPED_TRACE(testing::Message() << "rate " << rate);
        const bool limited = rate > 0;
        TcpTestPeer peer([](std::size_t) { return TcpTestPeer::ok(); });
        TcpClient::Config config = clientConfig(peer.port(), limited ? kSecond : 400000000, rate);
        // Every completed write refreshes the 150 ms watchdog, so the duration ends the PUT.
        config.trafficTimeout = limited ? config.trafficTimeout : 150ms;
        ClientRun run;
        const auto begin = std::chrono::system_clock::now();
        run.run(config);
        ASSERT_EQ(run.recorder->finishedCount(), 1);
        const auto reports = run.recorder->frames();
        ASSERT_GT(reports.size(), limited ? 0u : 1u);

        // Upper bound with a limit, whatever the machine does: each write is paid for before the
        // next, so the bytes before any write never exceed the limit times the time since the
        // first. Without: each write starts in the completion of the one before, ahead of its
        // report, never after a wait.
        const double limit = static_cast<double>(rate);
        double written = 0;
        std::chrono::nanoseconds socketStalled{0};
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const double seconds =
                std::chrono::duration<double>(reports[i].time - reports[0].time).count();
            EXPECT_TRUE(!limited || written <= limit * seconds + 1) << i;
            EXPECT_TRUE(limited || reports[i].bytes == kMegabyte) << i;
            EXPECT_TRUE(limited || i == 0 || reports[i].time <= reports[i - 1].calledAt) << i;
            written += static_cast<double>(reports[i].bytes);
            // A write the socket took longer than a millisecond to accept held the sender up.
            socketStalled += std::max<std::chrono::nanoseconds>(
                reports[i].calledAt - reports[i].time - 1ms, 0ms);
        }
        if (limited) {
            EXPECT_LE(written, limit);
            // Lower bound: 1 % short of the limit at most over the time the client could send,
            // from its first write to the end of its second, less the time that the socket or a
            // loaded machine held it up. A loaded machine only ever slows the sender.
            const auto sendable = begin + 1s - reports[0].time - run.loopStalled - socketStalled;
            EXPECT_GE(written, 0.99 * limit * std::chrono::duration<double>(sendable).count())
                << "loop stalled " << run.loopStalled.count() << " ns, socket "
                << socketStalled.count() << " ns";
        } else {
            EXPECT_GE(run.elapsed, 400ms);
        }

        ASSERT_TRUE(peer.waitForEnded(1, 1s));
        const TcpTestPeer::Connection connection = peer.connections().at(0);
        EXPECT_EQ(connection.request.rfind("PUT " + config.target + " HTTP/1.1\r\n", 0), 0u);
        EXPECT_GE(static_cast<double>(connection.bytesReceived), written);
        EXPECT_TRUE(connection.bodyIsLetterPattern);
    }
}

// Transfers that go quiet end long before their duration by the watchdog (a silent server; a
// PUT whose first 131,072-byte chunk, on credit, takes 1.3 s to repay at 100,000 B/s), or by
// their duration while the server sends nothing after its head.
TEST(TcpClientWatchdog, QuietTransfersEndInTime)
{
    const struct
    {
        const char* name;
        TcpTestPeer::Reply reply;
        std::int64_t ns;
        std::int64_t rateLimit; // 0: a GET
        std::chrono::milliseconds trafficTimeout;
        std::chrono::milliseconds atMost;
        std::vector<std::size_t> reports;
    } cases[] = {
        {"silent server", TcpTestPeer::Reply{}, 10 * kSecond, 0, 300ms, 1500ms, {}},
        {"repaying PUT", TcpTestPeer::ok(), 5 * kSecond, 100000, 300ms, 1200ms, {131072}},
        {"idle GET at its duration", TcpTestPeer::ok(), 300000000, 0, 2000ms, 1500ms, {}},
    };
    // A flow's server that goes quiet is given 2 s; the rows shorten the wait.
    EXPECT_EQ(MultiConnect::Config().trafficTimeout, 2s);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TcpTestPeer peer([&](std::size_t) { return c.reply; });
        TcpClient::Config config = clientConfig(
            peer.port(), c.ns, c.rateLimit > 0 ? std::optional(c.rateLimit) : std::nullopt);
        config.trafficTimeout = c.trafficTimeout;
        ClientRun run;
        run.run(config);

        EXPECT_EQ(run.recorder->finishedCount(), 1);
        EXPECT_GE(run.elapsed, 300ms);
        EXPECT_LT(run.elapsed, c.atMost);
        std::vector<std::size_t> reports;
        for (const TcpReport& report : run.recorder->frames())
            reports.push_back(report.bytes);
        EXPECT_EQ(reports, c.reports);
        ASSERT_TRUE(peer.waitForEnded(1, 1s));
    }
}

// The client ends at once, counts nothing and says why: a status line other than HTTP 200,
// quoted short and printable, or a connection that cannot be made (a source port that a listening
// socket keeps, address reuse or not, among them). However often it is finished, it reports once.
TEST(TcpClientFailure, AnythingButAnHttp200OrNoConnectionFinishesAtOnceAndFinishTwiceReportsOnce)
{
    const std::string longLine = "HTTP/1.1 500 " + std::string(300, 'x');
    const std::vector<std::pair<std::string, std::string>> heads = {
        {"HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"FOO/1.1 200 OK\r\n\r\n", "FOO/1.1 200 OK"},
        {"HTTP/1.1 OK 200\r\n\r\n", "HTTP/1.1 OK 200"},
        {"\r\n\r\n", ""},
        {"HTTP/1.1 403 \"no\"\x01\xff\r\n\r\n", "HTTP/1.1 403 ?no???"},
        {longLine + "\r\n\r\n", longLine.substr(0, 128)},
    };
    // The connections that are made get the heads in turn (the last client's, if any, silence).
    TcpTestPeer peer([&](std::size_t i) {
        return TcpTestPeer::Reply{i < heads.size() ? heads[i].first : "", 300000, {}};
    });
    const std::uint16_t unused = testsupport::unusedLoopbackPort();
    const std::string cannotConnect = "cannot connect to 127.0.0.1 port ";
    std::vector<std::pair<std::function<void(TcpClient::Config&)>, std::string>> failures = {
        {[&](TcpClient::Config& config) { config.srcPort = peer.port(); },
         "cannot open a socket: Address already in use"},
        {[&](TcpClient::Config& config) { config.dstPort = unused; },
         cannotConnect + std::to_string(unused) + ": Connection refused"},
        {[](TcpClient::Config& config) { config.host = "not-an-address"; },
         "\"not-an-address\" is not an address"},
        {[](TcpClient::Config& config) { config.ipv6 = 1; }, // the family does not match
         cannotConnect + std::to_string(peer.port()) + ": Invalid argument"},
    };
    for (const auto& [head, quoted] : heads)
        failures.emplace_back([](TcpClient::Config&) {},
                              "the HTTP server answered \"" + quoted + "\"");
    for (const auto& [change, reason] : failures) {
        TcpClient::Config config = clientConfig(peer.port());
        change(config);
        ClientRun run;
        EXPECT_NO_THROW(run.run(config)) << reason;
        EXPECT_EQ(run.recorder->finishedCount(), 1) << reason;
        EXPECT_EQ(run.recorder->failure(), reason);
        EXPECT_TRUE(run.recorder->frames().empty()) << reason;
        EXPECT_LT(run.elapsed, 1s) << reason;
    }
    EXPECT_EQ(peer.connections().size(), heads.size()); // none for the failed connections

    auto recorder = std::make_shared<TcpRecorder>();
    boost::asio::io_context eventLoop;
    auto client = std::make_shared<TcpClient>(recorder, clientConfig(peer.port()), eventLoop);
    client->finish(); // before start: nothing to end
    client->start();
    client->finish();
    client->finish();
    eventLoop.run_for(2s);
    EXPECT_EQ(recorder->finishedCount(), 1);
}

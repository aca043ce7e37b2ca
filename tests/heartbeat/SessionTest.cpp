#include "heartbeat/HeartbeatFrame.h"
#include "heartbeat/HeartbeatSession.h"

#include "FakeHub.h"
#include "LoopbackPort.h"

#include <QThread>

#include <gtest/gtest.h>

#include <QTest>

#include <atomic>
#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// Records what the session tells its parent; answers every request with a scripted reply. The
// session's thread calls it; the test sets it up before the session runs and reads the outcomes
// under the lock (the requests once the exchange has ended).
class TestParent : public HeartbeatSession::Parent
{
public:
    enum class Outcome { Failed, Done, Stopped };

    TestParent()
    {
        config.rvpHost = "127.0.0.1";
        config.connectTimeout = 300;
        config.readTimeout = 200;
        config.writeTimeout = 300;
    }

    HeartbeatSettings settings() const override { return config; }
    bool isActive() const override { return active; }
    std::int64_t currentInterval() const override { return interval; }
    void heartbeatDone(bool failed) override { record(failed ? Outcome::Failed : Outcome::Done); }
    void sessionStopped() override { record(Outcome::Stopped); }
    std::string processRequest(const std::string& request, roamnode::time_point) override
    {
        requests.push_back(request);
        active = active && !stopOnRequest;
        return roamnode::frameMessage(replyPayload);
    }
    std::vector<Outcome> outcomes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_outcomes;
    }

    HeartbeatSettings config;
    std::atomic<bool> active{true};
    std::atomic<std::int64_t> interval{1000};
    std::string replyPayload = "{\"status\": \"success\"}";
    bool stopOnRequest = false; // made inactive by the request
    std::vector<std::string> requests;

private:
    void record(Outcome outcome)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outcomes.push_back(outcome);
    }

    mutable std::mutex m_mutex;
    std::vector<Outcome> m_outcomes;
};

using Outcome = TestParent::Outcome;

// A session with `hub` on a thread of its own, ended and joined however the test leaves.
struct ThreadedSession
{
    ThreadedSession(TestParent& parent, const FakeHub& hub)
        : session(std::make_shared<HeartbeatSession>(&parent))
    {
        parent.config.rvpPort = hub.port();
        session->setHelloMessage(roamnode::frameMessage("{}"));
        session->moveToThread(&thread);
        thread.start();
    }
    ~ThreadedSession()
    {
        if (!end())
            thread.wait(5000);
    }
    bool end()
    {
        session->stop();
        session->abort();
        thread.quit();
        return thread.wait(2000);
    }

    QThread thread;
    std::shared_ptr<HeartbeatSession> session;
};

class SessionTest : public ::testing::Test
{
protected:
    SessionTest() : session(std::make_shared<HeartbeatSession>(&parent))
    {
        session->setHelloMessage(roamnode::frameMessage("{\"heartbeatcount\": 0}"));
    }

    // One exchange with `hub`, run synchronously on the test thread.
    Outcome exchangeOnce(const FakeHub& hub) { return exchangeOnce("127.0.0.1", hub.port()); }
    Outcome exchangeOnce(const std::string& host, std::uint16_t port)
    {
        parent.config.rvpHost = host;
        parent.config.rvpPort = port;
        const std::size_t before = parent.outcomes().size();
        session->on_heartbeat_timer();
        const auto outcomes = parent.outcomes();
        EXPECT_EQ(outcomes.size(), before + 1) << "exactly one outcome per exchange";
        return outcomes.empty() ? Outcome::Failed : outcomes.back();
    }

    TestParent parent;
    std::shared_ptr<HeartbeatSession> session;
};

} // namespace

// However the hub sends a request the endpoint can read, it answers with the whole reply, and the
// exchange is reported once the hub has read it and closed, or once the endpoint closed a
// connection that the hub left open. A hub that breaks the exchange (frames that never complete
// in time, are too large, or whose length reads as 0; a close after the hello) makes one failed
// outcome within its bound, no request reaches the parent and no reply goes out. Either way the
// next exchange with the hub is normal.
TEST_F(SessionTest, EachExchangeEndsInTimeAndTheNextIsNormal)
{
    const std::string request = "{\"command\": \"get\", \"ssid\": \"\"}";
    const std::string frame = roamnode::frameMessage(request);
    // Each byte well within the read deadline; the frame as a whole never in time.
    std::vector<std::string> bytes;
    for (const char c : frame)
        bytes.emplace_back(1, c);
    const std::vector<std::string> pieces = {frame.substr(0, 9), frame.substr(9, 8),
                                             frame.substr(17)};
    const std::string ok = "{\"status\": \"success\"}";
    const struct
    {
        const char* name;
        HubAction action;
        int readTimeout;
        int atLeastMs;
        int atMostMs;
        std::string reply; // empty: the exchange fails
        bool waitForHub;   // false: the hub has recorded the reply by the time the outcome comes
    } cases[] = {
        {"one frame", hubRequest(request), 200, 0, 1500, ok, false},
        {"in pieces", {pieces, 30}, 200, 0, 1500, ok, true},
        {"hub that does not close", {{frame}, 0, 3000, 5000}, 200, 0, 1500, ok, true},
        {"reply in several segments", hubRequest(request), 200, 0, 1500,
         std::string(150000 - 7, 'x'), true},
        {"over-announced", {{"0100#{\"command\": \"nop\"}"}}, 200, 180, 1500, "", true},
        {"trickling", {bytes, 100}, 300, 0, 1500, "", true},
        // A long read deadline shows that the cap, not the deadline, ends the exchange.
        {"oversized", {{"99999999999#{"}}, 5000, 0, 150, "", true},
        {"closed after the hello", {{}, 0, 0}, 200, 0, 1500, "", true},
        {"0000#", {{"0000#"}}, 200, 0, 1500, "", true},
        {"#", {{"#"}}, 200, 0, 1500, "", true},
        {"abc#", {{"abc#"}}, 200, 0, 1500, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        parent.requests.clear();
        parent.replyPayload = c.reply;
        FakeHub hub([&](int exchange, const std::string&) {
            return exchange == 0 ? c.action : hubRequest(request);
        });
        parent.config.readTimeout = c.readTimeout;
        parent.config.requestTimeout = 800;
        const auto started = Clock::now();
        EXPECT_EQ(exchangeOnce(hub), c.reply.empty() ? Outcome::Failed : Outcome::Done);
        const auto took = Clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(c.atLeastMs));
        EXPECT_LT(took, std::chrono::milliseconds(c.atMostMs));
        if (!c.waitForHub) {
            EXPECT_EQ(hub.replies().size(), 1u);
        }
        EXPECT_EQ(parent.requests,
                  c.reply.empty() ? std::vector<std::string>{} : std::vector<std::string>{request});

        parent.config.readTimeout = 2000;
        EXPECT_EQ(exchangeOnce(hub), Outcome::Done);
        ASSERT_TRUE(QTest::qWaitFor([&] { return hub.replies().size() >= 2; }, 8000));
        EXPECT_EQ(hub.hellos().at(0), "{\"heartbeatcount\": 0}");
        EXPECT_EQ(hub.replies().at(0), c.reply.empty() ? "<none>" : c.reply);
        // The endpoint closed, long before the hub would have.
        EXPECT_EQ(hub.closedByEndpoint(), c.action.holdAfterReplyMs > 0 ? 1 : 0);
    }
}

// Inactive once connected: no hello goes out. Made inactive by the request: the reply counts
// as a stop.
TEST_F(SessionTest, StoppedHeartbeatEndsTheExchangeAsStopped)
{
    for (const bool beforeTheHello : {true, false}) {
        SCOPED_TRACE(beforeTheHello);
        parent.active = !beforeTheHello;
        parent.stopOnRequest = true;
        FakeHub hub([](int, const std::string&) { return hubRequest("{}"); });
        EXPECT_EQ(exchangeOnce(hub), Outcome::Stopped);
        EXPECT_EQ(hub.hellos().size(), beforeTheHello ? 0u : 1u);
    }
}

// "localhost" may resolve to ::1 or 127.0.0.1 first; only the first is tried, so all that can be
// asserted there is one failed outcome and no hang.
TEST_F(SessionTest, UnreachableOrUnresolvableHubFailsWithinTheConnectTimeout)
{
    const std::uint16_t closed = testsupport::unusedLoopbackPort();
    for (const auto& [host, port] :
         std::vector<std::pair<std::string, std::uint16_t>>{{"127.0.0.1", closed},
                                                            {"localhost", closed},
                                                            {"nonexistent.invalid", 9100},
                                                            {"", 9100}}) {
        const auto started = Clock::now();
        EXPECT_EQ(exchangeOnce(host, port), Outcome::Failed) << host;
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(port == closed ? 1000 : 10000))
            << host;
    }
}

// The period is never below the minimum, nor beyond what the timer takes. A session with an
// interval of zero ticks at the minimum, and the ticks that pass during a long exchange collapse
// into one: the endpoint does not make up for lost time with a burst of connections.
TEST(SessionTimer, ZeroIntervalTicksAtTheMinimumAndMissedTicksCollapseIntoOne)
{
    for (const auto& [interval, period] : std::vector<std::pair<std::int64_t, int>>{
             {0, 100}, {-5000, 100}, {99, 100}, {1000, 1000}, {INT64_C(9223372036854), INT32_MAX}})
        EXPECT_EQ(HeartbeatSession::timerPeriod(interval), period) << interval;
    TestParent parent;
    parent.interval = 0;
    parent.config.readTimeout = parent.config.requestTimeout = 1000;
    // No request at first: the first exchange sits out its deadline while ten ticks pass.
    FakeHub hub([](int exchange, const std::string&) {
        return exchange == 0 ? HubAction{{}, 0, 1500} : hubRequest("{\"command\": \"nop\"}");
    });

    ThreadedSession running(parent, hub);
    running.session->start();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return parent.outcomes().size() >= 1; }, 3000));
    QTest::qWait(550);
    ASSERT_TRUE(running.end());

    // One catch-up exchange, then one per 100 ms: 6 or 7 at most, not ten more at once, and far
    // from thousands.
    EXPECT_GE(parent.outcomes().size(), 1u + 3u);
    EXPECT_LE(parent.outcomes().size(), 1u + 8u);
}

TEST(SessionAbort, EndsAWaitingExchangeAtOnce)
{
    TestParent parent;
    // Hello read, no request: the session sits in its read.
    FakeHub hub([](int, const std::string&) { return HubAction{{}, 0, 3000}; });
    parent.config.readTimeout = 5000;

    ThreadedSession running(parent, hub);
    QMetaObject::invokeMethod(running.session.get(), "on_heartbeat_timer", Qt::QueuedConnection);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !hub.hellos().empty(); }, 2000));

    const auto started = Clock::now();
    ASSERT_TRUE(running.end());
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_TRUE(parent.outcomes().empty()) << "an aborted exchange tells the parent nothing";
}

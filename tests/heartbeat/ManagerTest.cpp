#include "heartbeat/HeartbeatManager.h"

#include "BusRecorder.h"
#include "FakeHub.h"

#include "bus/PXEvent.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <QTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <vector>

namespace {

class ManagerTest : public ::testing::Test
{
protected:
    ManagerTest()
        : bus(std::make_shared<PXEventBus>()),
          recorder(*bus, {HEARTBEAT_STARTED, HEARTBEAT_STOPPED, HEARTBEAT_OK, HEARTBEAT_MISSED,
                          HEARTBEAT_FAILED, HEARTBEAT_CONNECTED, HEARTBEAT_INTERVAL,
                          MAX_HEARTBEAT_FAIL_COUNT, LOCAL_TIME, HEARTBEAT_INTERVAL_SET,
                          MAX_HEARTBEAT_FAIL_COUNT_SET}),
          // Answers the device id as the device manager would.
          deviceManager(*bus, {GET_DEVICE_ID},
                        [this](int) { bus->publish(DEVICE_ID, std::string("test-uuid")); })
    {
    }

    void configure(std::uint16_t port, std::int64_t interval = 100,
                   const std::function<void(HeartbeatSettings&)>& change = {})
    {
        HeartbeatSettings settings = manager->settings();
        settings.rvpHost = "127.0.0.1";
        settings.rvpPort = port;
        settings.interval = interval;
        settings.contactInterval = 100;
        settings.connectTimeout = 300;
        settings.readTimeout = 300;
        settings.writeTimeout = 300;
        if (change)
            change(settings);
        manager->setSettings(settings);
    }

    // A fresh manager, with nothing of the last one left, and no events recorded yet.
    void renewManager()
    {
        manager.reset();
        manager = std::make_unique<HeartbeatManager>(bus);
        recorder.entries.clear();
    }

    void contactHub()
    {
        manager->start();
        bus->publish(APP_STATE_CHANGED, TRY_CONTACT_RVP);
    }

    bool waitForEvent(int id, int count, int timeoutMs = 3000)
    {
        return QTest::qWaitFor([&]() { return recorder.count(id) >= count; }, timeoutMs);
    }

    std::shared_ptr<PXEventBus> bus;
    testsupport::BusRecorder recorder;
    testsupport::BusRecorder deviceManager;
    std::unique_ptr<HeartbeatManager> manager = std::make_unique<HeartbeatManager>(bus);
};

} // namespace

// Registered at the first exchange; after that, failures count since the registration, not
// in a row (fail, ok, ok, fail loses it); while contacting, failures are only misses; the hub
// back, registered again. The hub's request when back goes through the parser: what the manager
// owns is answered, what nobody answers is named after a bounded wait, and the session goes on.
TEST_F(ManagerTest, RegistersAndLosesTheRegistrationAtTheSecondFailureSinceIt)
{
    std::atomic<bool> armed{false};
    std::atomic<bool> back{false};
    std::atomic<int> from{-1};
    std::atomic<int> asked{-1};
    FakeHub hub([&](int index, const std::string&) {
        if (back && asked < 0) {
            asked = index;
            return hubRequest("{\"command\": \"get\", \"heartbeatinterval\": 1, \"ssid\": 1}");
        }
        if (armed && from < 0)
            from = index;
        const int step = from < 0 ? -1 : index - from;
        if (back || step < 0 || step == 1 || step == 2)
            return hubRequest("{\"command\": \"nop\"}");
        return HubAction{{}, 0, 0}; // closes right after the hello
    });
    configure(hub.port(), 100, [](HeartbeatSettings& settings) { settings.answerTimeout = 200; });
    contactHub();
    EXPECT_EQ(recorder.count(HEARTBEAT_STARTED), 1);
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);

    ASSERT_TRUE(waitForEvent(HEARTBEAT_OK, 2));
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Registered);
    const std::vector<int> events = recorder.ids();
    EXPECT_EQ(std::vector<int>(events.begin(), events.begin() + 3),
              (std::vector<int>{HEARTBEAT_STARTED, HEARTBEAT_CONNECTED, HEARTBEAT_OK}));
    const auto hellos = hub.hellos();
    EXPECT_EQ(hellos.at(0),
              "{\"heartbeatcount\": 0, \"state\": \"try-contact-rvp\", \"uuid\": \"test-uuid\"}");
    EXPECT_NE(hellos.at(1).find("\"heartbeatcount\": 1"), std::string::npos) << hellos[1];

    armed = true;
    ASSERT_TRUE(waitForEvent(HEARTBEAT_MISSED, 1));
    EXPECT_EQ(recorder.count(HEARTBEAT_FAILED), 0) << "one failure is only a miss";
    ASSERT_TRUE(waitForEvent(HEARTBEAT_FAILED, 1));
    EXPECT_EQ(recorder.count(HEARTBEAT_MISSED), 2);
    EXPECT_GE(recorder.count(HEARTBEAT_OK), 4);
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);
    const std::vector<int> later = recorder.ids();
    const auto failed = std::find(later.begin(), later.end(), HEARTBEAT_FAILED);
    ASSERT_NE(failed + 1, later.end());
    EXPECT_EQ(*(failed + 1), HEARTBEAT_MISSED);

    ASSERT_TRUE(waitForEvent(HEARTBEAT_MISSED, 4));
    EXPECT_EQ(recorder.count(HEARTBEAT_FAILED), 1);
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);

    back = true;
    ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 2));
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Registered);
    EXPECT_EQ(manager->failuresSinceRegistration(), 0u);
    // The manager answers on this thread's event loop, so the wait must keep it running.
    ASSERT_TRUE(
        QTest::qWaitFor([&]() { return asked >= 0 && hub.replies().size() >= asked + 2u; }, 5000));
    EXPECT_EQ(hub.replies().at(asked),
              "{\"errormessage\": \"No answer for: ssid\", "
              "\"heartbeatinterval\": 100000000, \"status\": \"variable-error\"}");
    EXPECT_EQ(hub.replies().at(asked + 1), "{\"status\": \"success\"}");
}

// What the hub sets is answered with a status, kept, and read back; the interval comes and goes
// in nanoseconds and is kept in milliseconds. The local time is read, too.
TEST_F(ManagerTest, VariablesKeepWhatWasSetAndTheLocalTimeIsTheRequests)
{
    const struct
    {
        int set;
        const char* value;
        const char* read;
        std::int64_t intervalMs;
    } cases[] = {
        {SET_HEARTBEAT_INTERVAL, "5000000000", "5000000000", 5000},
        {SET_HEARTBEAT_INTERVAL, "999999", "0", 0},
        // A quoted number counts as the number; text that is no number gives 0.
        {SET_HEARTBEAT_INTERVAL, "\"2000000000\"", "2000000000", 2000},
        {SET_HEARTBEAT_INTERVAL, "\"two\"", "0", 0},
        {SET_MAX_HEARTBEAT_FAIL_COUNT, "5", "5", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const bool interval = c.set == SET_HEARTBEAT_INTERVAL;
        recorder.entries.clear();
        bus->publish(c.set, std::string(c.value));
        EXPECT_EQ(
            recorder.lastText(interval ? HEARTBEAT_INTERVAL_SET : MAX_HEARTBEAT_FAIL_COUNT_SET),
            "0");
        bus->publish(interval ? GET_HEARTBEAT_INTERVAL : GET_MAX_HEARTBEAT_FAIL_COUNT);
        EXPECT_EQ(recorder.lastText(interval ? HEARTBEAT_INTERVAL : MAX_HEARTBEAT_FAIL_COUNT),
                  c.read);
        if (interval) {
            EXPECT_EQ(manager->settings().interval, c.intervalMs);
        }
    }
    const auto received = std::chrono::system_clock::now() - std::chrono::seconds(3);
    bus->publish(GET_LOCAL_TIME, PXEmptyEventContents(), received);
    EXPECT_EQ(recorder.lastText(LOCAL_TIME), std::to_string(roamnode::toNanoseconds(received)));
}

// A scenario starting stops the heartbeat at once, with an event, and nothing more goes to the
// hub. A start time within one interval stops it at once too; one further away, at the check
// after a result no earlier than one interval before it; either way it falls silent without an
// event. The end of the scenario brings it back; a stop ends it with an event.
TEST_F(ManagerTest, HeartbeatStopsForTheScenarioAndComesBackAfterIt)
{
    const struct
    {
        std::int64_t interval;
        std::int64_t startIn; // 0: the scenario starts now
        bool atOnce;
        int atLeastMs;
        int atMostMs;
    } cases[] = {
        {100, 0, true, 0, 100}, {1000, 500001234, true, 0, 100}, {200, 700000000, false, 400, 800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startIn);
        const int stopEvents = c.startIn == 0 ? 1 : 0;
        renewManager();
        FakeHub hub([](int, const std::string&) { return hubRequest("{\"command\": \"nop\"}"); });
        configure(hub.port(), c.interval);
        contactHub();
        ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 1));
        QElapsedTimer clock;
        clock.start();
        const auto start = roamnode::nowNanoseconds() + c.startIn;
        if (c.startIn == 0) {
            bus->publish(SCENARIO_STARTING);
        } else {
            bus->publish(SET_SCENARIO_START_TIME, static_cast<unsigned long>(start));
            EXPECT_EQ(manager->scenarioStartTime(), start / 1000 * 1000);
        }
        EXPECT_EQ(manager->heartbeatState() == HeartbeatManager::Stopped, c.atOnce);
        ASSERT_TRUE(QTest::qWaitFor(
            [&]() { return manager->heartbeatState() == HeartbeatManager::Stopped; }, 3000));
        EXPECT_GE(clock.elapsed(), c.atLeastMs);
        EXPECT_LE(clock.elapsed(), c.atMostMs);
        EXPECT_EQ(recorder.count(HEARTBEAT_STOPPED), stopEvents);
        if (c.startIn == 0) {
            // Let a tick that was already queued finish, then check that the endpoint does not
            // even connect any more.
            QTest::qWait(150);
            const int connections = hub.accepted();
            QTest::qWait(300);
            EXPECT_EQ(hub.accepted(), connections);
        }

        bus->publish(SCENARIO_ENDED);
        EXPECT_EQ(manager->scenarioStartTime(), HeartbeatManager::kNoStartTime);
        EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);
        EXPECT_EQ(recorder.count(HEARTBEAT_STARTED), 2);
        ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 2));
        manager->stop();
        EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Stopped);
        EXPECT_EQ(recorder.count(HEARTBEAT_STOPPED), stopEvents + 1);
    }
}

// The manager goes while its session sits in a read, or while a request waits for answers that
// would take ten seconds: it goes at once.
TEST_F(ManagerTest, DestructionIsPromptDuringAnExchangeAndWhileAnswersAreAwaited)
{
    for (const bool requestPending : {false, true}) {
        renewManager();
        FakeHub hub([&](int, const std::string&) {
            return requestPending ? hubRequest("{\"command\": \"get\", \"ssid\": 1}")
                                  : HubAction{{}, 0, 3000};
        });
        configure(hub.port(), 100, [](HeartbeatSettings& settings) {
            settings.readTimeout = 5000;
            settings.answerTimeout = 10000;
        });
        // The SSID is asked for on the bus once the request is read; nobody answers it.
        testsupport::BusRecorder asked(*bus, {GET_SSID});
        contactHub();
        ASSERT_TRUE(QTest::qWaitFor([&]() { return !hub.hellos().empty(); }, 2000));
        if (requestPending) {
            ASSERT_TRUE(QTest::qWaitFor([&]() { return asked.count(GET_SSID) > 0; }, 2000));
        }
        QElapsedTimer clock;
        clock.start();
        manager.reset();
        EXPECT_LT(clock.elapsed(), 1000) << requestPending;
    }
}

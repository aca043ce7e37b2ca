#include "heartbeat/HeartbeatFrame.h"
#include "heartbeat/HeartbeatManager.h"

#include "BusRecorder.h"
#include "FakeHub.h"
#include "LoopbackPort.h"
#include "TestSupport.h"

#include "bus/PXEvent.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <tuple>
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
        manager = std::make_unique<HeartbeatManager>(bus);
    }

    ~ManagerTest() override { manager.reset(); }

    void configure(std::uint16_t port, std::int64_t interval = 100)
    {
        HeartbeatSettings settings = manager->settings();
        settings.rvpHost = "127.0.0.1";
        settings.rvpPort = port;
        settings.interval = interval;
        settings.contactInterval = 100;
        settings.connectTimeout = 300;
        settings.readTimeout = 300;
        settings.writeTimeout = 300;
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
        return testsupport::waitUntil([&]() { return recorder.count(id) >= count; }, timeoutMs);
    }

    std::shared_ptr<PXEventBus> bus;
    testsupport::BusRecorder recorder;
    testsupport::BusRecorder deviceManager;
    std::unique_ptr<HeartbeatManager> manager;
};

// The manager answers on this thread's event loop, so the wait must keep it running.
bool waitForReplies(const FakeHub& hub, std::size_t count, int timeoutMs)
{
    return testsupport::waitUntil([&]() { return hub.replies().size() >= count; }, timeoutMs);
}

HubAction nop(int, const std::string&)
{
    return hubRequest("{\"command\": \"nop\"}");
}

} // namespace

TEST_F(ManagerTest, StartsStoppedWithTheDefaults)
{
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Stopped);
    const HeartbeatSettings s = HeartbeatManager(bus).settings();
    // Timeouts, segment, intervals in ms; failures; the hub's port and host.
    EXPECT_EQ(std::make_tuple(s.connectTimeout, s.readTimeout, s.writeTimeout, s.segmentSize,
                              s.interval, s.contactInterval, s.maxHeartbeatFailCount, s.rvpPort,
                              s.rvpHost),
              std::make_tuple(750, 500, 500, 65536u, 1000, 1000, 2u, 9100, std::string()));
}

TEST_F(ManagerTest, RegistersWithAReachableHub)
{
    FakeHub hub(nop);
    configure(hub.port());
    contactHub();
    EXPECT_EQ(recorder.count(HEARTBEAT_STARTED), 1);
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);

    ASSERT_TRUE(waitForEvent(HEARTBEAT_OK, 3));
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Registered);
    const std::vector<int> events = recorder.ids();
    const std::vector<int> firstEvents(events.begin(), events.begin() + 3);
    EXPECT_EQ(firstEvents,
              (std::vector<int>{HEARTBEAT_STARTED, HEARTBEAT_CONNECTED, HEARTBEAT_OK}));
    EXPECT_EQ(recorder.count(HEARTBEAT_CONNECTED), 1);
    EXPECT_GE(manager->heartbeatCount(), 3u);

    const auto hellos = hub.hellos();
    ASSERT_FALSE(hellos.empty());
    EXPECT_EQ(hellos[0],
              "{\"heartbeatcount\": 0, \"state\": \"try-contact-rvp\", \"uuid\": \"test-uuid\"}");
    EXPECT_NE(hellos[1].find("\"heartbeatcount\": 1"), std::string::npos) << hellos[1];
}

TEST_F(ManagerTest, LosesRegistrationAtTheSecondFailure)
{
    std::atomic<bool> refusing{false};
    std::atomic<int> refusals{0};
    FakeHub hub([&](int index, const std::string& hello) {
        if (refusing) {
            ++refusals;
            return hubRefusal();
        }
        return nop(index, hello);
    });
    configure(hub.port());
    contactHub();
    ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 1));

    refusing = true;
    ASSERT_TRUE(waitForEvent(HEARTBEAT_MISSED, 1));
    EXPECT_EQ(recorder.count(HEARTBEAT_FAILED), 0) << "one failure is only a miss";
    ASSERT_TRUE(waitForEvent(HEARTBEAT_FAILED, 1));
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);
    const std::vector<int> events = recorder.ids();
    const auto failed = std::find(events.begin(), events.end(), HEARTBEAT_FAILED);
    ASSERT_NE(failed + 1, events.end());
    EXPECT_EQ(*(failed + 1), HEARTBEAT_MISSED);

    // While contacting, failures never change the state.
    ASSERT_TRUE(waitForEvent(HEARTBEAT_MISSED, 4));
    EXPECT_EQ(recorder.count(HEARTBEAT_FAILED), 1);
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);

    // The hub comes back: registered again.
    refusing = false;
    ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 2));
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Registered);
    EXPECT_EQ(manager->failuresSinceRegistration(), 0u);
}

TEST_F(ManagerTest, FailuresCountSinceRegistrationNotConsecutively)
{
    // After registering: fail, ok, ok, fail -> the second failure loses the registration.
    std::atomic<int> registeredAt{-1};
    FakeHub hub([&](int index, const std::string& hello) {
        if (registeredAt < 0 && hello.find("\"registered\"") != std::string::npos)
            registeredAt = index;
        const int step = registeredAt < 0 ? -1 : index - registeredAt;
        if (step == 0 || step == 3)
            return hubRefusal();
        return nop(index, hello);
    });
    configure(hub.port());
    bus->publish(APP_STATE_CHANGED, TRY_CONTACT_RVP);
    ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 1));
    // The hello reports the application state; the application object would publish REGISTERED.
    bus->publish(APP_STATE_CHANGED, REGISTERED);
    ASSERT_TRUE(waitForEvent(HEARTBEAT_FAILED, 1, 5000));
    EXPECT_EQ(recorder.count(HEARTBEAT_MISSED), 2);
    EXPECT_GE(recorder.count(HEARTBEAT_OK), 3);
}

// The address is split into host and port; a hub nobody answers for, or no name lookup
// finds, only makes misses: the manager keeps contacting.
TEST_F(ManagerTest, UnreachableOrUnresolvableHubKeepsContacting)
{
    const std::uint16_t closed = testsupport::unusedLoopbackPort();
    const struct
    {
        std::string address;
        std::string host;
        std::uint16_t port;
        int misses;
        int timeoutMs;
    } cases[] = {{"127.0.0.1:" + std::to_string(closed), "127.0.0.1", closed, 3, 3000},
                 {"nonexistent.invalid", "nonexistent.invalid", 9100, 1, 10000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        renewManager();
        configure(0);
        manager->setRvpAddress(c.address);
        EXPECT_EQ(manager->settings().rvpHost, c.host);
        EXPECT_EQ(manager->settings().rvpPort, c.port);
        EXPECT_EQ(manager->rvpAddress(), c.address);
        contactHub();
        ASSERT_TRUE(waitForEvent(HEARTBEAT_MISSED, c.misses, c.timeoutMs));
        EXPECT_EQ(recorder.count(HEARTBEAT_CONNECTED), 0);
        EXPECT_EQ(recorder.count(HEARTBEAT_FAILED), 0);
        EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);
    }
}

TEST_F(ManagerTest, StopAndScenarioStartingStopTheHeartbeat)
{
    FakeHub hub(nop);
    configure(hub.port());
    contactHub();
    ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 1));
    bus->publish(SCENARIO_STARTING);
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Stopped);
    EXPECT_EQ(recorder.count(HEARTBEAT_STOPPED), 1);

    // Let a tick that was already queued finish, then check nothing more happens.
    testsupport::runEventsFor(150);
    const std::size_t exchanges = hub.replies().size();
    testsupport::runEventsFor(300);
    EXPECT_EQ(hub.replies().size(), exchanges);

    bus->publish(SCENARIO_ENDED);
    EXPECT_EQ(recorder.count(HEARTBEAT_STARTED), 2);
    ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 2));

    manager->stop();
    EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Stopped);
    EXPECT_EQ(recorder.count(HEARTBEAT_STOPPED), 2);
}

// What the hub sets is answered with a status, kept, and read back; the interval comes and goes
// in nanoseconds and is kept in milliseconds.
TEST_F(ManagerTest, VariablesKeepWhatWasSet)
{
    const struct
    {
        int set;
        const char* value;
        int get;
        int answer;
        const char* read;
        std::int64_t intervalMs; // -1: not the interval
    } cases[] = {
        {SET_HEARTBEAT_INTERVAL, "5000000000", GET_HEARTBEAT_INTERVAL, HEARTBEAT_INTERVAL,
         "5000000000", 5000},
        {SET_HEARTBEAT_INTERVAL, "999999", GET_HEARTBEAT_INTERVAL, HEARTBEAT_INTERVAL, "0", 0},
        // A quoted number counts as the number; text that is no number gives 0.
        {SET_HEARTBEAT_INTERVAL, "\"2000000000\"", GET_HEARTBEAT_INTERVAL, HEARTBEAT_INTERVAL,
         "2000000000", 2000},
        {SET_HEARTBEAT_INTERVAL, "\"two\"", GET_HEARTBEAT_INTERVAL, HEARTBEAT_INTERVAL, "0", 0},
        {SET_MAX_HEARTBEAT_FAIL_COUNT, "5", GET_MAX_HEARTBEAT_FAIL_COUNT, MAX_HEARTBEAT_FAIL_COUNT,
         "5", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        recorder.entries.clear();
        bus->publish(c.set, std::string(c.value));
        EXPECT_EQ(recorder.lastText(c.set == SET_HEARTBEAT_INTERVAL ? HEARTBEAT_INTERVAL_SET
                                                                    : MAX_HEARTBEAT_FAIL_COUNT_SET),
                  "0");
        bus->publish(c.get);
        EXPECT_EQ(recorder.lastText(c.answer), c.read);
        if (c.intervalMs >= 0) {
            EXPECT_EQ(manager->settings().interval, c.intervalMs);
        }
    }
}

TEST_F(ManagerTest, LocalTimeIsTheTimeOfTheRequest)
{
    const auto received = std::chrono::system_clock::now() - std::chrono::seconds(3);
    bus->publish(GET_LOCAL_TIME, PXEmptyEventContents(), received);
    EXPECT_EQ(recorder.lastText(LOCAL_TIME), std::to_string(roamnode::toNanoseconds(received)));
}

// The hub's request goes through the parser: what the manager owns is answered, what nobody
// answers is named after a bounded wait, and the session goes on.
TEST_F(ManagerTest, HubReadsItsVariablesAndAnUnansweredOneDoesNotBlock)
{
    std::atomic<bool> asked{false};
    FakeHub hub([&](int index, const std::string& hello) {
        if (!asked.exchange(true))
            return hubRequest("{\"command\": \"get\", \"heartbeatinterval\": 1, \"ssid\": 1, "
                              "\"max-heartbeatfailcount\": 1, \"localtime\": 1}");
        return nop(index, hello);
    });
    configure(hub.port());
    HeartbeatSettings settings = manager->settings();
    settings.answerTimeout = 200;
    manager->setSettings(settings);
    const auto before = roamnode::nowNanoseconds();
    contactHub();
    ASSERT_TRUE(waitForReplies(hub, 2, 5000)) << "the session goes on after the bounded wait";
    const std::string reply = hub.replies().at(0);
    EXPECT_EQ(reply.find("{\"errormessage\": \"No answer for: ssid\", \"heartbeatinterval\": "
                         "100000000, \"localtime\": "),
              0u)
        << reply;
    const auto localtime = std::stoll(reply.substr(reply.find("\"localtime\": ") + 13));
    EXPECT_GE(localtime, before);
    EXPECT_LE(localtime, roamnode::nowNanoseconds());
    EXPECT_NE(reply.find(", \"max-heartbeatfailcount\": 2, \"status\": \"variable-error\"}"),
              std::string::npos)
        << reply;
    EXPECT_EQ(hub.replies().at(1), "{\"status\": \"success\"}");
}

// A start time within one interval stops the heartbeat at once; one further away, at the check
// after a result no earlier than one interval before it. It falls silent without an event, and
// the end of the scenario brings it back.
TEST_F(ManagerTest, HeartbeatFallsSilentOneIntervalBeforeTheStart)
{
    const struct
    {
        std::int64_t interval;
        std::int64_t startIn;
        bool atOnce;
        int atLeastMs;
        int atMostMs;
    } cases[] = {{1000, 500001234, true, 0, 100}, {200, 700000000, false, 400, 800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        renewManager();
        FakeHub hub(nop);
        configure(hub.port(), c.interval);
        contactHub();
        ASSERT_TRUE(waitForEvent(HEARTBEAT_CONNECTED, 1));
        QElapsedTimer clock;
        clock.start();
        const auto start = roamnode::nowNanoseconds() + c.startIn;
        bus->publish(SET_SCENARIO_START_TIME, static_cast<unsigned long>(start));
        EXPECT_EQ(manager->heartbeatState() == HeartbeatManager::Stopped, c.atOnce);
        EXPECT_EQ(manager->scenarioStartTime(), start / 1000 * 1000);
        ASSERT_TRUE(testsupport::waitUntil(
            [&]() { return manager->heartbeatState() == HeartbeatManager::Stopped; }, 3000));
        EXPECT_GE(clock.elapsed(), c.atLeastMs);
        EXPECT_LE(clock.elapsed(), c.atMostMs);
        EXPECT_EQ(recorder.count(HEARTBEAT_STOPPED), 0) << "it falls silent without an event";

        bus->publish(SCENARIO_ENDED);
        EXPECT_EQ(manager->scenarioStartTime(), HeartbeatManager::kNoStartTime);
        EXPECT_EQ(manager->heartbeatState(), HeartbeatManager::Contacting);
    }
}

// The manager goes while its session sits in a read, or while a request waits for answers that
// would take ten seconds: it goes at once.
TEST(ManagerDestruction, IsPromptDuringAnExchangeAndWhileAnswersAreAwaited)
{
    for (const bool requestPending : {false, true}) {
        auto bus = std::make_shared<PXEventBus>();
        testsupport::BusRecorder deviceManager(
            *bus, {GET_DEVICE_ID}, [&](int) { bus->publish(DEVICE_ID, std::string("test-uuid")); });
        auto manager = std::make_unique<HeartbeatManager>(bus);
        FakeHub hub([&](int, const std::string&) {
            HubAction action = hubRequest("{\"command\": \"get\", \"ssid\": 1}");
            if (!requestPending) {
                action = HubAction{};
                action.replyWithinMs = 3000;
            }
            return action;
        });
        HeartbeatSettings settings = manager->settings();
        settings.rvpHost = "127.0.0.1";
        settings.rvpPort = hub.port();
        settings.readTimeout = 5000;
        settings.answerTimeout = 10000;
        manager->setSettings(settings);
        manager->start();
        bus->publish(APP_STATE_CHANGED, TRY_CONTACT_RVP);
        ASSERT_TRUE(testsupport::waitUntil([&]() { return !hub.hellos().empty(); }, 2000));
        if (requestPending)
            testsupport::runEventsFor(100);
        QElapsedTimer clock;
        clock.start();
        manager.reset();
        EXPECT_LT(clock.elapsed(), 1000) << requestPending;
    }
}

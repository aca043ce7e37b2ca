#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Records every delivery as "name:id:payload" and then does `also`, if set, with the bus.
class RecordingHandler : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;

    RecordingHandler(std::string name, std::vector<std::string>& log,
                     std::function<void(int id)> also = nullptr)
        : m_name(std::move(name)), m_log(log), m_also(std::move(also))
    {
    }

    void handleEvent(int id, PXEmptyEventContents) override { note(id, "empty"); }
    void handleEvent(int id, std::string value) override { note(id, value); }

    roamnode::time_point lastTime;

private:
    void note(int id, const std::string& payload)
    {
        lastTime = currentEvent->time;
        m_log.push_back(m_name + ":" + std::to_string(id) + ":" + payload);
        if (m_also)
            m_also(id);
    }

    std::string m_name;
    std::vector<std::string>& m_log;
    std::function<void(int)> m_also;
};

} // namespace

TEST(EventBus, DeliversInSubscriptionOrderAndDepthFirst)
{
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler first("first", log);
    RecordingHandler republisher("outer", log, [&](int) { bus.publish(GET_APP_VERSION); });
    RecordingHandler last("last", log);

    bus.subscribe(GET_CAPABILITIES, &first);
    bus.subscribe(GET_CAPABILITIES, &republisher);
    bus.subscribe(GET_CAPABILITIES, &last);
    bus.subscribe(GET_APP_VERSION, &last);
    bus.subscribe(GET_APP_VERSION, &first);

    bus.publish(GET_CAPABILITIES);

    // The inner event reaches all its handlers before the outer one reaches "last".
    const std::vector<std::string> expected = {"first:72:empty", "outer:72:empty", "last:70:empty",
                                               "first:70:empty", "last:72:empty"};
    EXPECT_EQ(log, expected);
}

// A handler subscribed twice hears an event once, none of the payload types it has no overload
// for, and the time the event was published at.
TEST(EventBus, DuplicateSubscriptionOtherPayloadTypesAndPublicationTime)
{
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler handler("h", log);
    bus.subscribe(DEVICE_ID, &handler);
    bus.subscribe(DEVICE_ID, &handler);
    const auto stamped = roamnode::fromNanoseconds(1234567890123456789LL);
    bus.publish(DEVICE_ID, std::string("abc"), stamped);
    EXPECT_EQ(log, std::vector<std::string>{"h:40:abc"});
    EXPECT_EQ(bus.registrationCount(), 1u);
    EXPECT_EQ(handler.lastTime, stamped);

    bus.publish(DEVICE_ID, 1.5f); // float: the handler has no float overload
    bus.publish(DEVICE_ID, PXStatus::Success);
    EXPECT_EQ(log.size(), 1u);
    const auto before = std::chrono::system_clock::now();
    bus.publish(DEVICE_ID);
    EXPECT_GE(handler.lastTime, before);
}

TEST(EventBus, SubscriptionsChangedDuringDeliveryAreSafe)
{
    PXEventBus bus;
    std::vector<std::string> log;
    // Unsubscribes itself at its first delivery: the one after it is still reached.
    RecordingHandler remover("remover", log, [&](int) { bus.unsubscribe(&remover); });
    RecordingHandler after("after", log);
    bus.subscribe(HEARTBEAT_OK, &remover);
    bus.subscribe(HEARTBEAT_OK, &after);
    bus.publish(HEARTBEAT_OK);
    bus.publish(HEARTBEAT_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"remover:3:empty", "after:3:empty", "after:3:empty"}));

    // A subscription made during the walk is reached in it.
    log.clear();
    RecordingHandler late("late", log);
    RecordingHandler subscriber("subscriber", log, [&](int id) { bus.subscribe(id, &late); });
    bus.subscribe(SCENARIO_ENDED, &subscriber);
    bus.publish(SCENARIO_ENDED);
    EXPECT_EQ(log, (std::vector<std::string>{"subscriber:35:empty", "late:35:empty"}));

    // Unsubscribed from every id, a handler that is gone is never called.
    log.clear();
    {
        RecordingHandler gone("gone", log);
        bus.subscribe(HEARTBEAT_MISSED, &gone);
        bus.subscribe(SCENARIO_ENDED, &gone);
        bus.unsubscribe(&gone);
    }
    bus.publish(HEARTBEAT_MISSED);
    bus.publish(SCENARIO_ENDED);
    EXPECT_EQ(log, (std::vector<std::string>{"subscriber:35:empty", "late:35:empty"}));
    EXPECT_EQ(bus.registrationCount(), 3u); // after, subscriber and late
}

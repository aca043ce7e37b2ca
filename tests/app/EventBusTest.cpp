#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every delivery as "name:id:payload".
class RecordingHandler : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;

    RecordingHandler(std::string name, std::vector<std::string>& log)
        : m_name(std::move(name)), m_log(log)
    {
    }

    void handleEvent(int id, PXEmptyEventContents) override { note(id, "empty"); }
    void handleEvent(int id, std::string value) override { note(id, value); }
    void handleEvent(int id, unsigned long value) override { note(id, std::to_string(value)); }

    roamnode::time_point lastTime;

private:
    void note(int id, const std::string& payload)
    {
        lastTime = currentEvent->time;
        m_log.push_back(m_name + ":" + std::to_string(id) + ":" + payload);
    }

    std::string m_name;
    std::vector<std::string>& m_log;
};

// Publishes a follow-up event from inside its handler.
class RepublishingHandler : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;

    RepublishingHandler(PXEventBus& bus, std::vector<std::string>& log) : m_bus(bus), m_log(log) {}

    void handleEvent(int id, PXEmptyEventContents) override
    {
        m_log.push_back("outer-handler:" + std::to_string(id));
        m_bus.publish(GET_APP_VERSION);
    }

private:
    PXEventBus& m_bus;
    std::vector<std::string>& m_log;
};

} // namespace

TEST(EventBus, DeliversInSubscriptionOrderAndDepthFirst)
{
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler first("first", log);
    RepublishingHandler republisher(bus, log);
    RecordingHandler last("last", log);

    bus.subscribe(GET_CAPABILITIES, &first);
    bus.subscribe(GET_CAPABILITIES, &republisher);
    bus.subscribe(GET_CAPABILITIES, &last);
    bus.subscribe(GET_APP_VERSION, &last);
    bus.subscribe(GET_APP_VERSION, &first);

    bus.publish(GET_CAPABILITIES);

    // The inner event reaches all its handlers before the outer one reaches "last".
    const std::vector<std::string> expected = {"first:72:empty", "outer-handler:72",
                                               "last:70:empty", "first:70:empty", "last:72:empty"};
    EXPECT_EQ(log, expected);
}

TEST(EventBus, DuplicateSubscriptionDeliversOnce)
{
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler handler("h", log);
    bus.subscribe(DEVICE_ID, &handler);
    bus.subscribe(DEVICE_ID, &handler);
    bus.publish(DEVICE_ID, "abc");
    EXPECT_EQ(log, std::vector<std::string>{"h:40:abc"});
    EXPECT_EQ(bus.registrationCount(), 1u);
}

TEST(EventBus, PayloadTypeNotOverriddenIsIgnored)
{
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler handler("h", log);
    bus.subscribe(RX_SPEED, &handler);
    bus.publish(RX_SPEED, 1.5f); // float: the handler has no float overload
    bus.publish(RX_SPEED, PXStatus::Success);
    EXPECT_TRUE(log.empty());
    bus.publish(RX_SPEED, std::string("text"));
    EXPECT_EQ(log.size(), 1u);
}

TEST(EventBus, UnsubscribedHandlerIsNeverCalled)
{
    PXEventBus bus;
    std::vector<std::string> log;
    {
        RecordingHandler handler("gone", log);
        bus.subscribe(HEARTBEAT_OK, &handler);
        bus.subscribe(HEARTBEAT_MISSED, &handler);
        bus.unsubscribe(&handler);
    }
    bus.publish(HEARTBEAT_OK);
    bus.publish(HEARTBEAT_MISSED);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(bus.registrationCount(), 0u);
}

TEST(EventBus, PublicationTimeReachesHandler)
{
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler handler("h", log);
    bus.subscribe(GET_LOCAL_TIME, &handler);
    const auto stamped = roamnode::fromNanoseconds(1234567890123456789LL);
    bus.publish(GET_LOCAL_TIME, stamped);
    EXPECT_EQ(handler.lastTime, stamped);

    const auto before = std::chrono::system_clock::now();
    bus.publish(GET_LOCAL_TIME);
    EXPECT_GE(handler.lastTime, before);
}

TEST(EventBus, UnsubscribeDuringDeliveryIsSafe)
{
    class SelfRemoving : public PXEventHandler
    {
    public:
        using PXEventHandler::handleEvent;
        explicit SelfRemoving(PXEventBus& bus) : m_bus(bus) {}
        void handleEvent(int, PXEmptyEventContents) override
        {
            ++calls;
            m_bus.unsubscribe(this);
        }
        int calls = 0;

    private:
        PXEventBus& m_bus;
    };
    PXEventBus bus;
    std::vector<std::string> log;
    SelfRemoving remover(bus);
    RecordingHandler after("after", log);
    bus.subscribe(HEARTBEAT_OK, &remover);
    bus.subscribe(HEARTBEAT_OK, &after);
    bus.publish(HEARTBEAT_OK);
    bus.publish(HEARTBEAT_OK);
    EXPECT_EQ(remover.calls, 1);
    EXPECT_EQ(log.size(), 2u);
}

TEST(EventBus, SubscriptionMadeDuringWalkIsReached)
{
    class Subscriber : public PXEventHandler
    {
    public:
        using PXEventHandler::handleEvent;
        Subscriber(PXEventBus& bus, PXEventHandler* late) : m_bus(bus), m_late(late) {}
        void handleEvent(int id, PXEmptyEventContents) override { m_bus.subscribe(id, m_late); }

    private:
        PXEventBus& m_bus;
        PXEventHandler* m_late;
    };
    PXEventBus bus;
    std::vector<std::string> log;
    RecordingHandler late("late", log);
    Subscriber subscriber(bus, &late);
    bus.subscribe(SCENARIO_ENDED, &subscriber);
    bus.publish(SCENARIO_ENDED);
    EXPECT_EQ(log, std::vector<std::string>{"late:35:empty"});
}

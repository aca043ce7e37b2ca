#include "app/Roamnode.h"
#include "BusRecorder.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "bus/Version.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

// The application object writes "pxlog.txt" into the working directory: a temporary one keeps
// it out of the source tree.
TEST(RoamnodeTest, AnswersAndFollowsHeartbeatAndScenarioEventsWithoutGuards)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Roamnode roamnode;
    EXPECT_EQ(roamnode.getAppState(), BOOTING);
    auto bus = roamnode.getEventBus();
    testsupport::BusRecorder answers(*bus, {APP_VERSION, CAPABILITIES});
    bus->publish(GET_APP_VERSION);
    bus->publish(GET_CAPABILITIES);
    bus->publish(GET_CAPABILITIES);
    ASSERT_EQ(answers.entries.size(), 3u);
    EXPECT_EQ(answers.entries[0].text, roamnode::kVersion);
    const std::string capabilities =
        "{\"ipv4\": true, \"streamv4\": 1, \"triggerv4\": 1, \"tcpv4\": 1, \"ipv6\": true, "
        "\"streamv6\": 1, \"triggerv6\": 1, \"tcpv6\": 1, \"latency\": {\"stream\": true, "
        "\"trigger\": [\"average\"]}, \"tcprestart\": true, \"monitor\": {\"networkinfo\": true}}";
    EXPECT_EQ(answers.entries[1].text, capabilities);
    EXPECT_EQ(answers.entries[2].text, capabilities);

    testsupport::BusRecorder recorder(*bus, {APP_STATE_CHANGED});
    roamnode.start();
    roamnode.connectToRvp("127.0.0.1");
    bus->publish(HEARTBEAT_CONNECTED);
    bus->publish(SET_SCENARIO_START_TIME, std::string("123")); // a request, not an armed time
    bus->publish(SET_SCENARIO_START_TIME, 123UL);
    bus->publish(SCENARIO_STARTING);
    bus->publish(HEARTBEAT_CONNECTED); // no guard on the current state
    bus->publish(SCENARIO_ENDED);
    bus->publish(HEARTBEAT_FAILED);
    EXPECT_EQ(roamnode.getAppState(), TRY_CONTACT_RVP);
    roamnode.reconnect();
    roamnode.disconnect();
    EXPECT_EQ(roamnode.getAppState(), BOOTING_READY);

    // Every transition is published, repeated values included: start, connect, the bus events
    // in turn, reconnect and disconnect.
    std::string expected;
    std::string published;
    for (const AppState state :
         {BOOTING_READY, TRY_CONTACT_RVP, REGISTERED, ARMED, RUNNING, REGISTERED, REGISTERED,
          TRY_CONTACT_RVP, TRY_CONTACT_RVP, BOOTING_READY})
        expected += std::to_string(state) + " ";
    for (const auto& entry : recorder.entries)
        published += entry.text + " ";
    EXPECT_EQ(published, expected);
    roamnode.stop();
    QDir::setCurrent(previous);
}

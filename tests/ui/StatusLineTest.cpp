#include "ui/StatusLine.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "ui/PXHeadlessManager.h"

#include <gtest/gtest.h>

#include <QTest>

#include <cstdio>
#include <cstdlib>

using roamnode::formatStatusLine;

TEST(StatusLine, BytesWithAndWithoutBlink)
{
    EXPECT_EQ(formatStatusLine(true, REGISTERED, 1.5f, 12.25f),
              " \xE2\x80\xA2 Status: Registered   || Rx:   1.50 Mbps | Tx:  12.25 Mbps");
    EXPECT_EQ(formatStatusLine(false, RUNNING, 1234.5f, 0),
              "   Status: Running      || Rx: 1234.50 Mbps | Tx:   0.00 Mbps");
    EXPECT_EQ(formatStatusLine(false, ARMED, 0, 0).substr(0, 23), "   Status: Armed       ");
    for (const AppState s : {BOOTING, BOOTING_READY, TRY_CONTACT_RVP})
        EXPECT_STREQ(roamnode::consoleStateText(s), "Contacting");
    // Speeds too wide for their columns are cut at the buffer, never written past it.
    EXPECT_EQ(formatStatusLine(false, RUNNING, 1e30f, 1e30f).size(), 99u);
}

namespace {

// What the console front end prints, in memory.
struct Capture
{
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&buffer, &size);
    ~Capture()
    {
        std::fclose(file);
        std::free(buffer);
    }
    std::string text()
    {
        std::fflush(file);
        return std::string(buffer, size);
    }
};

} // namespace

// Not a terminal, so every update is its own line; a heartbeat blinks for half a second.
TEST(HeadlessManager, PrintsOneLinePerUpdateAndTheBlinkGoesAfterHalfASecond)
{
    auto bus = std::make_shared<PXEventBus>();
    Capture capture;
    PXHeadlessManager manager(bus, capture.file);
    bus->publish(APP_STATE_CHANGED, TRY_CONTACT_RVP);
    bus->publish(RX_SPEED, 1234.5f);
    bus->publish(TX_SPEED, 2.0f);
    bus->publish(SCENARIO_ENDED);
    bus->publish(APP_STATE_CHANGED, REGISTERED);
    bus->publish(HEARTBEAT_MISSED);
    const std::string lines =
        "\r   Status: Contacting   || Rx:   0.00 Mbps | Tx:   0.00 Mbps\n"
        "\r   Status: Contacting   || Rx: 1234.50 Mbps | Tx:   0.00 Mbps\n"
        "\r   Status: Contacting   || Rx: 1234.50 Mbps | Tx:   2.00 Mbps\n"
        "\r   Status: Contacting   || Rx:   0.00 Mbps | Tx:   0.00 Mbps\n"
        "\r   Status: Registered   || Rx:   0.00 Mbps | Tx:   0.00 Mbps\n"
        "\r \xE2\x80\xA2 Status: Registered   || Rx:   0.00 Mbps | Tx:   0.00 Mbps\n";
    EXPECT_EQ(capture.text(), lines);
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.text().size() > lines.size(), 3000);
    EXPECT_GE(timer.elapsed(), 450);
    EXPECT_EQ(capture.text(),
              lines + "\r   Status: Registered   || Rx:   0.00 Mbps | Tx:   0.00 Mbps\n");
}

#include "flows/Trigger.h"
#include "UdpConfigs.h"
#include "UdpTestPeers.h"
#include "flows/Stream.h"
#include "flows/UdpContext.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

using namespace udptest;

namespace {

std::uint16_t triggerPort()
{
    return UdpContext::get(false, 0)->localPort();
}

std::vector<std::size_t> sizesOf(TriggerRecorder& recorder)
{
    std::vector<std::size_t> sizes;
    for (const auto& frame : recorder.frames())
        sizes.push_back(frame.bytes);
    return sizes;
}

using Bytes = std::vector<std::uint8_t>;

} // namespace

// Two triggers on one port, each expecting its own sender, and a stranger: the datagrams queue up
// while the loop is held and are handed out in one batch. Empty datagrams are no frames, the
// expected sender's either: they are passed over with a warning a second, and counting goes on.
TEST(TriggerSender, OneBatchOfMixedSendersCountsOnlyEachTriggersOwn)
{
    WarningCapture warnings;
    const std::int64_t began = roamnode::nowNanoseconds();
    Peer first;
    Peer second;
    Peer stranger;
    auto firstRecorder = std::make_shared<TriggerRecorder>();
    auto secondRecorder = std::make_shared<TriggerRecorder>();
    Trigger firstTrigger(firstRecorder, triggerFrom(first.port(), kLongWindow));
    Trigger secondTrigger(secondRecorder, triggerFrom(second.port(), kLongWindow));
    firstTrigger.start();
    secondTrigger.start();
    const std::uint16_t port = triggerPort();
    auto context = UdpContext::get(false, 0);
    LoopStall stall(*context);
    ASSERT_TRUE(stall.waitHeld());

    stranger.sendTo(port, Bytes(10));
    first.sendTo(port, Bytes(11));
    second.sendTo(port, Bytes(21));
    for (int i = 0; i < 2000; ++i)
        first.sendTo(port, {});
    first.sendTo(port, Bytes(12));
    stranger.sendTo(port, {});
    second.sendTo(port, Bytes(22));
    first.sendTo(port, Bytes(13));
    stall.release();
    ASSERT_TRUE(firstRecorder->waitFrames(3));
    ASSERT_TRUE(secondRecorder->waitFrames(2));
    ASSERT_TRUE(handOutQueued(*context));

    EXPECT_EQ(sizesOf(*firstRecorder), (std::vector<std::size_t>{11, 12, 13}));
    EXPECT_EQ(sizesOf(*secondRecorder), (std::vector<std::size_t>{21, 22}));
    first.sendTo(port, Bytes(14));
    ASSERT_TRUE(firstRecorder->waitFrames(4));
    const std::int64_t elapsed = roamnode::nowNanoseconds() - began;
    firstTrigger.stop();
    secondTrigger.stop();
    std::size_t lines = 0;
    for (const std::string& text : warnings.texts())
        lines += text.rfind("Trigger::on_data_received: error no bytes received", 0) == 0 ? 1 : 0;
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 1 + static_cast<std::size_t>(elapsed / 1000000000));
}

// The latency is the receive time minus the tag (tens of nanoseconds, little-endian, the eight
// bytes before the position counted from the end) plus the offset; a frame too short for the tag
// or a position below eight reads a tag of zero. A long datagram is cut to the 16 KiB buffer.
TEST(TriggerLatency, LatencyComesFromTheTag)
{
    const std::uint64_t tag = 170000000000000000ull; // 1.7e18 ns, in tens of nanoseconds
    const struct
    {
        bool latencyOn;
        std::uint64_t position;
        std::int64_t offset;
        std::size_t length;
        std::size_t counted;
        std::int64_t tagNs; // what the tag read stands for
    } cases[] = {
        {true, 8, 2500, 64, 64, static_cast<std::int64_t>(tag) * 10},
        {true, 100, 700, 50, 50, 0},
        {true, 4, 0, 16384, 16384, 0},
        {false, 0, 0, 20000, 16384, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Peer peer;
        auto recorder = std::make_shared<TriggerRecorder>();
        auto config = triggerFrom(peer.port(), kLongWindow);
        config.latencyOn = c.latencyOn;
        config.latencyPosition = c.position;
        config.latencyTimeOffset = c.offset;
        Trigger trigger(recorder, config);
        trigger.start();
        Bytes frame(c.length, 0xff);
        for (std::size_t i = 0; c.tagNs != 0 && i < 8; ++i)
            frame.at(c.length - c.position + i) = static_cast<std::uint8_t>(tag >> (8 * i));
        peer.sendTo(triggerPort(), frame);
        ASSERT_TRUE(recorder->waitFrames(1));
        const auto received = recorder->frames().at(0);
        EXPECT_EQ(received.withLatency, c.latencyOn);
        EXPECT_EQ(received.bytes, c.counted);
        EXPECT_EQ(c.latencyOn ? received.latency : 0,
                  c.latencyOn ? roamnode::toNanoseconds(received.now) - (c.tagNs - c.offset) : 0);
        trigger.stop();
    }
}

// At the window's end (at once for a window of zero) the trigger reports once and counts
// nothing after; stopped after the end, it reports again. Stopped before the end, it reports
// once, and the cancelled timer has nothing to say past the old end.
TEST(TriggerWindow, WindowEndOrStopReportsOnceAndCountsNothingAfter)
{
    for (const auto& [window, stopEarly] :
         {std::pair<std::int64_t, bool>{100000000, false}, {0, false}, {150000000, true}}) {
        SCOPED_TRACE(window);
        Peer peer;
        auto recorder = std::make_shared<TriggerRecorder>();
        const std::int64_t before = roamnode::nowNanoseconds();
        Trigger trigger(recorder, triggerFrom(peer.port(), window));
        trigger.start();
        if (stopEarly) {
            peer.sendTo(triggerPort(), Bytes(10));
            ASSERT_TRUE(recorder->waitFrames(1));
            trigger.stop();
            EXPECT_FALSE(recorder->waitFrames(2, 300ms));
            EXPECT_EQ(recorder->finishedCount(), 1);
            continue;
        }
        ASSERT_TRUE(recorder->waitFinished(window == 0 ? 1000ms : 5000ms));
        EXPECT_GE(roamnode::nowNanoseconds() - before, window);
        peer.sendTo(triggerPort(), Bytes(10));
        ASSERT_TRUE(handOutQueued(*UdpContext::get(false, 0)));
        EXPECT_TRUE(recorder->frames().empty());
        EXPECT_EQ(recorder->finishedCount(), 1);
        trigger.stop();
        EXPECT_EQ(recorder->finishedCount(), 2);
    }
}

// A stream whose source port is a trigger's destination port shares its socket and thread: the
// stream sends to its own port and the trigger measures the latency of its own frames. The
// stream's type of service is set on the shared socket.
TEST(UdpSharing, StreamAndTriggerOnOnePortShareSocketAndThread)
{
    for (bool ipv6 : {false, true}) {
        const std::uint16_t port = testsupport::unusedLoopbackPort(SOCK_DGRAM, ipv6);
        auto streamRecorder = std::make_shared<StreamRecorder>();
        auto triggerRecorder = std::make_shared<TriggerRecorder>();

        FrameTemplate frame = frameOf(64, 0x11, 8);
        frame.timeOffset = 1000;
        Stream::Config streamConfig = streamTo(port, {frame}, 1, 1000000000, ipv6);
        streamConfig.srcPort = port;
        streamConfig.tos = 0x28;
        Trigger::Config triggerConfig = triggerFrom(port, kLongWindow, ipv6);
        triggerConfig.dstPort = port;
        triggerConfig.latencyOn = true;
        triggerConfig.latencyPosition = 8;
        triggerConfig.latencyTimeOffset = 1000;

        // A second socket on the port would fail to bind: the trigger reuses the stream's.
        Stream stream(streamRecorder, streamConfig);
        Trigger trigger(triggerRecorder, triggerConfig);
        auto context = runningContext(ipv6, port);
        trigger.start();
        stream.start();
        ASSERT_TRUE(streamRecorder->waitFinished());
        ASSERT_TRUE(triggerRecorder->waitFrames(1));

        const auto sent = streamRecorder->frames().at(0);
        const auto received = triggerRecorder->frames().at(0);
        EXPECT_EQ(received.bytes, 64u);
        // Equal offsets on both ends: receive time minus send time, to within 10 ns.
        EXPECT_NEAR(received.latency,
                    roamnode::toNanoseconds(received.now) - roamnode::toNanoseconds(sent.now), 10);
        EXPECT_EQ(streamRecorder->handlerThread(), triggerRecorder->handlerThread());
        int tos = -1;
        socklen_t length = sizeof(tos);
        ASSERT_EQ(
            ::getsockopt(context->socket().native_handle(), IPPROTO_IP, IP_TOS, &tos, &length), 0);
        EXPECT_EQ(tos, 0x28);
        trigger.stop();
    }
}

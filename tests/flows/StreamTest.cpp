#include "flows/Stream.h"
#include "UdpConfigs.h"
#include "UdpTestPeers.h"
#include "flows/UdpContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include <sys/socket.h>

using namespace udptest;

// Templates go out in turn, never ahead of the gap. A tagged one carries its send time plus the
// offset, in tens of nanoseconds, little-endian in the eight bytes before `position` (counted
// from the end); a tag that would not lie wholly inside the frame leaves the frame as it is.
TEST(StreamSend, TemplatesAreSentInTurnAndFollowTheGap)
{
    const std::size_t none = ~std::size_t(0);
    const struct
    {
        std::uint64_t position;
        std::int64_t offset;
        std::size_t tagAt;
    } tags[] = {{8, 0, 56},   {8, -12345, 57}, {8, 987654321, 58}, {67, 0, 0},
                {0, 0, none}, {4, 0, none},    {71, 0, none},      {~0ull, 0, none}};
    std::vector<FrameTemplate> templates;
    for (std::uint8_t k = 0; k < 8; ++k) {
        templates.push_back(frameOf(64 + k, k));
        templates.back().hasTimeTag = true;
        templates.back().position = tags[k].position;
        templates.back().timeOffset = tags[k].offset;
    }
    Peer peer;
    auto recorder = std::make_shared<StreamRecorder>();
    const std::int64_t gap = 5000000;
    Stream stream(recorder, streamTo(peer.port(), templates, 16, gap));
    const std::uint16_t localPort = runningContext(false)->localPort();
    const std::int64_t before = roamnode::nowNanoseconds();
    stream.start();
    ASSERT_TRUE(recorder->waitFinished());
    recorder->expectCompleteOrEndedLate(16, before, gap);

    const auto frames = recorder->frames();
    ASSERT_FALSE(frames.empty());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::uint8_t k = i % 8;
        auto datagram = peer.receive();
        ASSERT_TRUE(datagram) << i;
        auto expected = frameOf(64 + k, k).bytes;
        const std::int64_t sendTime = roamnode::toNanoseconds(frames[i].now);
        if (tags[k].tagAt != none) {
            EXPECT_EQ(readLittleEndian(datagram->bytes, tags[k].tagAt),
                      static_cast<std::uint64_t>((sendTime + tags[k].offset) / 10))
                << i;
            std::copy_n(datagram->bytes.begin() + tags[k].tagAt, 8,
                        expected.begin() + tags[k].tagAt);
        }
        EXPECT_EQ(datagram->bytes, expected) << i;
        EXPECT_EQ(datagram->sender.port(), localPort);
        EXPECT_EQ(frames[i].bytes, 64u + k);
        // Never ahead of the clock (a late loop may send several at once, never early).
        EXPECT_GE(sendTime, before + static_cast<std::int64_t>(i) * gap) << i;
    }
    EXPECT_EQ(peer.pending(), 0u);
}

// No frames, no templates, everything due at once (no division by a gap of zero), or extreme
// values (a start far in the past, a gap of the whole time range, frames without end, a gap below
// zero) that saturate instead of overflowing: the stream ends at once and sends at most what it
// was asked to. Loopback delivers during the send call, so anything sent is queued at the peer
// by the end.
TEST(StreamSend, DegenerateSchedulesEndAtOnce)
{
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const struct
    {
        std::vector<FrameTemplate> templates;
        std::uint64_t count;
        std::int64_t gap;
        std::int64_t initialTimeToWait;
        std::size_t atMost;
    } cases[] = {
        {{frameOf(10, 0)}, 0, 1000000, 0, 0},
        {{}, 5, 1000000, 0, 0},
        {{frameOf(20, 0)}, 40, 0, 0, 40},
        {{frameOf(16, 0)}, std::numeric_limits<std::uint64_t>::max(), kMax, -kMax - 1, 2},
        {{frameOf(16, 0)}, 5, -1000, 0, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " " << c.gap);
        Peer peer;
        auto recorder = std::make_shared<StreamRecorder>();
        auto config = streamTo(peer.port(), c.templates, c.count, c.gap);
        config.initialTimeToWait = c.initialTimeToWait;
        Stream stream(recorder, config);
        stream.start();
        ASSERT_TRUE(recorder->waitFinished());
        EXPECT_LE(recorder->frames().size(), c.atMost);
        EXPECT_EQ(peer.pending(), recorder->frames().size());
    }
}

// A loop held while frames fall due, as a loaded machine holds the sending thread. 1500 frames
// 200 us apart, held for 60 ms while 300 fall due: they go out in bursts of at most 128 until
// caught up, then one at a time on the timer (the schedule runs long after, so the catch-up has
// room on a busy machine). 100 frames 10 us apart, all due within 1 ms: held briefly, the frames
// that were due still go out, late, and the stream has done what it was asked; held past the
// grace as well, nothing goes out any more, and the stream says so.
TEST(StreamSchedule, StalledLoopSendsInBurstsWhatFellDueWithinTheGrace)
{
    const struct
    {
        std::uint64_t total;
        std::int64_t gap;
        std::int64_t stallNs;
        std::size_t sent; // 0 for the long schedule: as many as the machine allowed
        std::string failure;
    } cases[] = {{1500, 200000, 60000000, 0, ""},
                 {100, 10000, 10000000, 100, ""},
                 {100, 10000, 1000000 + Stream::kEndGraceNs + 30000000, 0,
                  "sent 0 of 100 frames by the end of the stream"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stallNs);
        Peer peer;
        auto recorder = std::make_shared<StreamRecorder>();
        Stream stream(recorder, streamTo(peer.port(), {frameOf(64, 0)}, c.total, c.gap));
        auto context = UdpContext::get(false, 0);
        const std::int64_t before = roamnode::nowNanoseconds();
        const std::int64_t stallEnd = before + c.stallNs;
        LoopStall stall(*context);
        stream.start();
        stall.releaseAt(stallEnd);
        ASSERT_TRUE(recorder->waitFinished());
        const auto frames = recorder->frames();
        EXPECT_EQ(peer.pending(), frames.size());
        EXPECT_EQ(recorder->finishedCount(), 1);
        if (c.total == 100) {
            EXPECT_EQ(frames.size(), c.sent);
            EXPECT_EQ(recorder->failure(), c.failure);
            continue;
        }
        recorder->expectCompleteOrEndedLate(c.total, before, c.gap);
        // Frames of one burst carry the burst's send time.
        std::vector<std::size_t> bursts;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (i == 0 || frames[i].now != frames[i - 1].now)
                bursts.push_back(0);
            ++bursts.back();
        }
        ASSERT_GE(bursts.size(), 2u);
        EXPECT_GE(roamnode::toNanoseconds(frames.front().now), stallEnd);
        EXPECT_EQ(bursts[0], 128u);
        EXPECT_EQ(bursts[1], 128u);
        for (std::size_t size : bursts)
            EXPECT_LE(size, 128u);
        if (frames.size() == c.total) {
            EXPECT_NE(std::find(bursts.begin() + 2, bursts.end(), 1u), bursts.end());
        }
    }
}

// A send the kernel refuses for the frame, destination or socket as they are fails the same
// way every time: the stream ends at once with the reason, instead of retrying until its end
// time (ten seconds here).
TEST(StreamSendFailure, SendThatCannotSucceedEndsTheStreamWithTheReason)
{
    Peer peer;
    const std::string port = std::to_string(peer.port());
    const struct
    {
        std::string destination;
        std::uint16_t port;
        std::size_t frameBytes;
        std::string reason;
    } cases[] = {
        {"127.0.0.1", 0, 64, "cannot send to 127.0.0.1 port 0: Invalid argument (code 22)"},
        {"127.0.0.1", peer.port(), Stream::kMaxFrameBytesV4 + 1,
         "cannot send to 127.0.0.1 port " + port + ": Message too long (code 90)"},
        // A broadcast address without SO_BROADCAST.
        {"127.255.255.255", peer.port(), 64,
         "cannot send to 127.255.255.255 port " + port + ": Permission denied (code 13)"},
        {"127.0.0.1", peer.port(), 0, "no bytes sent: the frame is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        WarningCapture warnings;
        auto recorder = std::make_shared<StreamRecorder>();
        auto config = streamTo(c.port, {frameOf(c.frameBytes, 0)}, 1000, 10000000);
        config.destination = c.destination;
        Stream stream(recorder, config);
        stream.start();
        ASSERT_TRUE(recorder->waitFinished(3000ms));
        EXPECT_EQ(recorder->failure(), "sent 0 of 1000 frames: " + c.reason);
        EXPECT_TRUE(recorder->frames().empty());
        // An empty frame goes out once, as an empty datagram, before the socket says it took
        // nothing.
        EXPECT_EQ(peer.pending(), c.frameBytes == 0 ? 1u : 0u);
        EXPECT_EQ(warnings.texts().size(), 2u);
        stream.stop();
    }
}

// Stopped before its start time or while sending: it reports the end once, at the stop, and
// sends no more. Once the stream is gone the context's thread is joined: nothing can report.
TEST(StreamStop, StopReportsOnceSendsNoMoreAndAFlowGoneIsNotTold)
{
    for (const std::size_t sentBeforeTheStop : {0, 3}) {
        SCOPED_TRACE(sentBeforeTheStop);
        Peer peer;
        auto recorder = std::make_shared<StreamRecorder>();
        {
            auto config = streamTo(peer.port(), {frameOf(64, 0)}, 100000, 1000000);
            config.initialTimeToWait = sentBeforeTheStop == 0 ? 10000000000 : 0;
            Stream stream(recorder, config);
            stream.start();
            ASSERT_TRUE(recorder->waitFrames(sentBeforeTheStop));
            stream.stop();
            EXPECT_EQ(recorder->finishedCount(), 1);
        }
        const std::size_t sent = recorder->frames().size();
        EXPECT_EQ(recorder->finishedCount(), 1);
        EXPECT_LT(sent, sentBeforeTheStop == 0 ? 1u : 100u);
        EXPECT_EQ(peer.pending(), sent);
    }
    // The engine holds its flow only weakly: a flow gone is simply not told.
    Peer peer;
    auto recorder = std::make_shared<StreamRecorder>();
    std::weak_ptr<StreamRecorder> gone = recorder;
    Stream stream(recorder, streamTo(peer.port(), {frameOf(64, 0)}, 1, 1000000000));
    recorder.reset();
    EXPECT_TRUE(gone.expired());
    stream.start();
    auto datagram = peer.receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(datagram->bytes.size(), 64u);
    stream.stop();
}

// In a network namespace of our own with loopback alone. Without a route the stream keeps
// trying, as the route can come back, but ten times a second rather than as fast as the loop
// turns, and it says at its end why it fell short. Then loopback goes through a slow token
// bucket and the stream's socket gets the smallest send buffer: the kernel takes only the first
// frames of a burst. The rest go out later, in order, and every frame's tag is the send time
// reported for it.
TEST(StreamPrivateNetwork, NoRouteIsTriedAtAPaceAndBurstsTheKernelTakesInPartsKeepOrderAndTags)
{
    PrivateNetwork network;
    if (!network.ready())
        GTEST_SKIP() << network.why();
    Peer peer;
    {
        WarningCapture warnings;
        auto recorder = std::make_shared<StreamRecorder>();
        // 1.2 s of frames to an address no route leads to.
        auto config = streamTo(peer.port(), {frameOf(64, 0)}, 120, 10000000);
        config.destination = "10.9.9.9";
        Stream stream(recorder, config);
        stream.start();
        ASSERT_TRUE(recorder->waitFinished(5000ms));
        EXPECT_TRUE(recorder->frames().empty());
        EXPECT_EQ(recorder->failure(), "sent 0 of 120 frames by the end of the stream; last send "
                                       "error: Network is unreachable (code 101)");
        // The line after the first second counts the tries held back in it: a loop that spun
        // would have made hundreds of thousands.
        const auto texts = warnings.texts();
        ASSERT_GE(texts.size(), 3u);
        const std::string& repeated = texts[1];
        const std::string prefix =
            "Stream::try_send: got error: Network is unreachable (code 101) (";
        ASSERT_EQ(repeated.rfind(prefix, 0), 0u) << repeated;
        EXPECT_LT(std::stoul(repeated.substr(prefix.size())), 200u) << repeated;
    }
    ASSERT_TRUE(network.run("tc qdisc add dev lo root tbf rate 10mbit burst 1600 limit 1000000"));
    auto recorder = std::make_shared<StreamRecorder>();
    std::vector<FrameTemplate> templates;
    for (std::uint8_t first : {0x10, 0x20, 0x30})
        templates.push_back(frameOf(200, first, 8));
    // 60 frames 2 ms apart whose first 31 are due at once.
    const std::uint64_t total = 60;
    auto config = streamTo(peer.port(), templates, total, 2000000);
    config.initialTimeToWait = -60000000;
    Stream stream(recorder, config);
    auto context = UdpContext::get(false, 0);
    const int smallest = 1;
    ASSERT_EQ(::setsockopt(context->socket().native_handle(), SOL_SOCKET, SO_SNDBUF, &smallest,
                           sizeof(smallest)),
              0);
    stream.start();
    ASSERT_TRUE(recorder->waitFinished());

    const auto frames = recorder->frames();
    ASSERT_GE(frames.size(), 31u);
    std::size_t firstBurst = 0;
    while (firstBurst < frames.size() && frames[firstBurst].now == frames[0].now)
        ++firstBurst;
    EXPECT_LT(firstBurst, 31u) << "the kernel took the whole first burst at once";
    for (std::size_t k = 0; k < frames.size(); ++k) {
        auto datagram = peer.receive();
        ASSERT_TRUE(datagram) << "frame " << k << " of " << frames.size();
        ASSERT_EQ(datagram->bytes.size(), 200u);
        EXPECT_EQ(datagram->bytes[0], templates[k % 3].bytes[0]) << "frame " << k;
        EXPECT_EQ(readLittleEndian(datagram->bytes, 192),
                  static_cast<std::uint64_t>(roamnode::toNanoseconds(frames[k].now) / 10))
            << "frame " << k;
    }
    EXPECT_EQ(peer.pending(), 0u);
}

#include "HeartbeatFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using roamnode::FrameAccumulator;
using State = FrameAccumulator::State;

TEST(FrameMessage, PadsTheLengthToFourDigits)
{
    EXPECT_EQ(roamnode::frameMessage("{\"status\": \"success\"}"),
              "0021#{\"status\": \"success\"}");
    EXPECT_EQ(roamnode::frameMessage("x"), "0001#x");
}

TEST(FrameMessage, WritesLongLengthsInFull)
{
    const std::string payload(12345, 'a');
    const std::string frame = roamnode::frameMessage(payload);
    EXPECT_EQ(frame.substr(0, 6), "12345#");
    EXPECT_EQ(frame.size(), 6u + 12345u);
    EXPECT_EQ(roamnode::frameMessage(std::string(9999, 'b')).substr(0, 5), "9999#");
}

TEST(FrameMessage, EmptyPayload)
{
    EXPECT_EQ(roamnode::frameMessage(""), "0000#");
}

TEST(FrameLength, ParsesLikeStrtol)
{
    EXPECT_EQ(roamnode::parseFrameLength("0021"), 21);
    EXPECT_EQ(roamnode::parseFrameLength("  +12x"), 12);
    EXPECT_EQ(roamnode::parseFrameLength("-5"), -5);
    EXPECT_EQ(roamnode::parseFrameLength("abc"), 0);
    EXPECT_EQ(roamnode::parseFrameLength(""), 0);
}

TEST(FrameAccumulator, WholeFrameInOneChunk)
{
    FrameAccumulator frame;
    EXPECT_EQ(frame.add("0019#{\"command\": \"nop\"}xx"), State::NeedMore)
        << "more bytes than announced never completes";
    FrameAccumulator exact;
    EXPECT_EQ(exact.add("0018#{\"command\": \"nop\"}"), State::Complete);
    EXPECT_EQ(exact.payload(), "{\"command\": \"nop\"}");
}

TEST(FrameAccumulator, ReassemblesAFrameSplitOverSeveralChunks)
{
    const std::string frame = roamnode::frameMessage("{\"command\": \"get\", \"ssid\": \"\"}");
    FrameAccumulator accumulator;
    EXPECT_EQ(accumulator.add(frame.substr(0, 7)), State::NeedMore);
    EXPECT_EQ(accumulator.add(frame.substr(7, 10)), State::NeedMore);
    EXPECT_EQ(accumulator.add(frame.substr(17)), State::Complete);
    EXPECT_EQ(accumulator.payload(), "{\"command\": \"get\", \"ssid\": \"\"}");
}

TEST(FrameAccumulator, EmptyPayloadCompletesAtOnce)
{
    FrameAccumulator frame;
    EXPECT_EQ(frame.add("0000#"), State::Complete);
    EXPECT_EQ(frame.payload(), "");
}

TEST(FrameAccumulator, FirstChunkWithoutSeparatorNeverCompletes)
{
    FrameAccumulator frame;
    EXPECT_EQ(frame.add("00"), State::NeedMore);
    EXPECT_EQ(frame.add("05#hello"), State::NeedMore);
    EXPECT_EQ(frame.add("x"), State::NeedMore);
}

TEST(FrameAccumulator, OverAnnouncedFrameWaitsForMore)
{
    FrameAccumulator frame;
    EXPECT_EQ(frame.add("0100#short"), State::NeedMore);
}

TEST(FrameAccumulator, NegativeLengthNeverCompletes)
{
    FrameAccumulator frame;
    EXPECT_EQ(frame.add("-3#ab"), State::NeedMore);
}

TEST(FrameAccumulator, ChunkIsCutAtNul)
{
    FrameAccumulator frame;
    const std::string chunk("0003#ab\0c", 9);
    EXPECT_EQ(frame.add(chunk), State::NeedMore);
    EXPECT_EQ(frame.accumulatedBytes(), 7u);
    EXPECT_EQ(frame.add("c"), State::Complete);
    EXPECT_EQ(frame.payload(), "abc");
}

TEST(FrameAccumulator, HugeAnnouncedLengthFailsAtOnce)
{
    FrameAccumulator frame;
    EXPECT_EQ(frame.add("99999999999#{}"), State::TooLarge);
    FrameAccumulator justOver;
    EXPECT_EQ(justOver.add(std::to_string(roamnode::kMaxRequestFrameBytes + 1) + "#"),
              State::TooLarge);
    FrameAccumulator overflowing;
    EXPECT_EQ(overflowing.add("9999999999999999999999999#"), State::TooLarge);
}

TEST(FrameAccumulator, EndlessStreamStopsAtTheCap)
{
    FrameAccumulator frame(1000);
    const std::string chunk(300, 'z');
    EXPECT_EQ(frame.add(chunk), State::NeedMore);
    EXPECT_EQ(frame.add(chunk), State::NeedMore);
    EXPECT_EQ(frame.add(chunk), State::NeedMore);
    EXPECT_EQ(frame.add(chunk), State::TooLarge);
    EXPECT_LE(frame.accumulatedBytes(), 1000u);
}

TEST(FrameAccumulator, FrameAtTheCapIsAccepted)
{
    const std::size_t cap = 64;
    const std::string payload(cap - 5, 'p');
    FrameAccumulator frame(cap);
    EXPECT_EQ(frame.add(roamnode::frameMessage(payload)), State::Complete);
}

TEST(WriteInSegments, LargeReplyInThreePieces)
{
    const std::string reply(150000, 'r');
    std::vector<std::size_t> pieces;
    std::string written;
    const std::size_t total =
        roamnode::writeInSegments(reply, 65536, [&](const char* data, std::size_t size) {
            pieces.push_back(size);
            written.append(data, size);
            return true;
        });
    EXPECT_EQ(pieces, (std::vector<std::size_t>{65536, 65536, 18928}));
    EXPECT_EQ(total, 150000u);
    EXPECT_EQ(written, reply);
}

TEST(WriteInSegments, EmptyReplyWritesNothing)
{
    int calls = 0;
    EXPECT_EQ(roamnode::writeInSegments("", 65536,
                                        [&](const char*, std::size_t) {
                                            ++calls;
                                            return true;
                                        }),
              0u);
    EXPECT_EQ(calls, 0);
}

TEST(WriteInSegments, StopsAtTheFirstFailedPiece)
{
    const std::string reply(200, 'r');
    int calls = 0;
    const std::size_t total =
        roamnode::writeInSegments(reply, 64, [&](const char*, std::size_t) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(total, 64u);
}

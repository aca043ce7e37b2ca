#include "heartbeat/HeartbeatFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using roamnode::FrameAccumulator;
using State = FrameAccumulator::State;

TEST(FrameMessage, LengthHasAtLeastFourDigits)
{
    EXPECT_EQ(roamnode::frameMessage("x"), "0001#x");
    EXPECT_EQ(roamnode::frameMessage(""), "0000#");
    EXPECT_EQ(roamnode::frameMessage(std::string(9999, 'b')).substr(0, 5), "9999#");
    const std::string frame = roamnode::frameMessage(std::string(12345, 'a'));
    EXPECT_EQ(frame.substr(0, 6), "12345#");
    EXPECT_EQ(frame.size(), 6u + 12345u);
}

// Chunks in the order they arrive, the state after each, and the payload once complete.
TEST(FrameAccumulator, ChunksToStates)
{
    const std::string get = "{\"command\": \"get\", \"ssid\": \"\"}";
    const std::string split = roamnode::frameMessage(get);
    const std::string z(300, 'z');
    const std::string p(59, 'p');
    const struct
    {
        const char* name;
        std::vector<std::string> chunks;
        const char* states; // after each chunk: Need more, Complete or Too large
        std::string payload;
        std::size_t cap = roamnode::kMaxRequestFrameBytes;
    } cases[] = {
        {"exact frame", {"0018#{\"command\": \"nop\"}"}, "C", "{\"command\": \"nop\"}"},
        {"more bytes than announced never complete", {"0019#{\"command\": \"nop\"}xx"}, "N", ""},
        {"split in three", {split.substr(0, 7), split.substr(7, 10), split.substr(17)}, "NNC", get},
        {"empty payload", {"0000#"}, "C", ""},
        {"first chunk without separator", {"00", "05#hello", "x"}, "NNN", ""},
        {"over-announced", {"0100#short"}, "N", ""},
        {"negative length", {"-3#ab"}, "N", ""},
        {"chunk cut at NUL", {std::string("0003#ab\0c", 9), "c"}, "NC", "abc"},
        {"huge length", {"99999999999#{}"}, "T", ""},
        {"just over the cap", {std::to_string(roamnode::kMaxRequestFrameBytes + 1) + "#"}, "T", ""},
        {"overflowing length", {"9999999999999999999999999#"}, "T", ""},
        {"endless stream stops at the cap", {z, z, z, z}, "NNNT", "", 1000},
        {"frame at the cap", {roamnode::frameMessage(p)}, "C", p, 64},
    };
    const auto state = [](char letter) {
        return letter == 'C' ? State::Complete : letter == 'T' ? State::TooLarge : State::NeedMore;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameAccumulator frame(c.cap);
        ASSERT_EQ(std::strlen(c.states), c.chunks.size());
        for (std::size_t i = 0; i < c.chunks.size(); ++i)
            EXPECT_EQ(frame.add(c.chunks[i]), state(c.states[i])) << "chunk " << i;
        EXPECT_LE(frame.accumulatedBytes(), c.cap);
        EXPECT_EQ(frame.state() == State::Complete ? frame.payload() : "", c.payload);
    }
}

TEST(WriteInSegments, PiecesUntilTheFirstFailure)
{
    const struct
    {
        std::size_t replyBytes;
        std::size_t segment;
        int failingCall; // 0: none fails
        std::vector<std::size_t> pieces;
        std::size_t total;
    } cases[] = {
        {150000, 65536, 0, {65536, 65536, 18928}, 150000},
        {0, 65536, 0, {}, 0},
        {200, 64, 2, {64, 64}, 64},
    };
    for (const auto& c : cases) {
        const std::string reply(c.replyBytes, 'r');
        std::vector<std::size_t> pieces;
        std::string written;
        const std::size_t total =
            roamnode::writeInSegments(reply, c.segment, [&](const char* data, std::size_t size) {
                pieces.push_back(size);
                if (static_cast<int>(pieces.size()) == c.failingCall)
                    return false;
                written.append(data, size);
                return true;
            });
        EXPECT_EQ(pieces, c.pieces) << c.replyBytes;
        EXPECT_EQ(total, c.total) << c.replyBytes;
        EXPECT_EQ(written, reply.substr(0, c.total)) << c.replyBytes;
    }
}

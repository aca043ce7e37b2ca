#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The heartbeat wire frame, both directions: the payload length in decimal, left-padded with "0"
// to at least 4 digits, then "#", then the payload. Pure text in, text out: no sockets here, so
// the framing rules can be tested in memory.

namespace roamnode {

// A request frame may not grow past this: a peer announcing more, or streaming without ever
// completing a frame, fails the exchange instead of making the endpoint hoard memory.
constexpr std::size_t kMaxRequestFrameBytes = 16 * 1024 * 1024;

// The session reads at most this much per read operation.
constexpr std::size_t kReceiveBufferBytes = 131072;

// "0021#" + payload; lengths of more than 4 digits are written in full.
std::string frameMessage(const std::string& payload);

// The length in front of "#", read the way strtol does: leading white space and a sign are
// accepted, parsing stops at the first non-digit, no digits give 0, overflow clamps.
long parseFrameLength(const std::string& text);

// Reassembles one frame from the chunks of successive reads.
//
// The total must be met exactly. The "#" and the length must be in the first chunk; a first chunk
// without "#" or a peer sending more than it announced never completes, so the caller's read
// deadline ends the exchange. A chunk is cut at its first NUL byte.
class FrameAccumulator
{
public:
    enum class State {
        NeedMore, // keep reading
        Complete, // payload() holds the frame's payload
        TooLarge, // the frame announced or reached more than the cap: give up now
    };

    explicit FrameAccumulator(std::size_t maxFrameBytes = kMaxRequestFrameBytes);

    State add(const char* data, std::size_t size);
    State add(const std::string& chunk) { return add(chunk.data(), chunk.size()); }

    State state() const { return m_state; }
    // Everything after the first "#"; meaningful once Complete.
    std::string payload() const;
    // The same, moved out without a copy; the accumulator is spent afterwards.
    std::string takePayload();
    std::size_t accumulatedBytes() const { return m_text.size(); }

private:
    State evaluate();

    std::size_t m_maxFrameBytes;
    std::string m_text;
    bool m_sawFirstChunk = false;
    // Position of "#" in m_text, or npos when the first chunk had none (the frame can then
    // never complete).
    std::size_t m_separator = std::string::npos;
    // The expected total frame length; negative when the announced length was negative.
    long long m_expectedTotal = -1;
    State m_state = State::NeedMore;
};

// Writes a reply in pieces of at most segmentSize bytes, each handed to writePiece as one
// complete write. Stops at the first piece writePiece reports as failed. Returns the number of
// bytes written. An empty reply writes nothing; a segment size of 0 is taken as 1.
std::size_t
writeInSegments(const std::string& reply, std::uint64_t segmentSize,
                const std::function<bool(const char* data, std::size_t size)>& writePiece);

} // namespace roamnode

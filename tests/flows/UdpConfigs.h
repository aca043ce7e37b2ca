#pragma once

#include "flows/Stream.h"
#include "flows/Trigger.h"

#include <cstdint>
#include <vector>

// The configurations the UDP engines' tests start from: loopback of the family, system-chosen
// local ports.
namespace udptest {

constexpr std::uint64_t kLongWindow = 5000000000; // longer than any test waits

// `length` bytes counting up from `first`.
inline FrameTemplate frameOf(std::size_t length, std::uint8_t first, std::uint64_t tagAt = 0)
{
    FrameTemplate frame;
    for (std::size_t i = 0; i < length; ++i)
        frame.bytes.push_back(static_cast<std::uint8_t>(first + i));
    frame.hasTimeTag = tagAt > 0;
    frame.position = tagAt;
    return frame;
}

inline Stream::Config streamTo(std::uint16_t port, std::vector<FrameTemplate> frames,
                               std::uint64_t numberOfFrames, std::int64_t gapNs, bool ipv6 = false)
{
    Stream::Config config;
    config.ipv6 = ipv6 ? 1 : 0;
    config.destination = ipv6 ? "::1" : "127.0.0.1";
    config.dstPort = port;
    config.interFrameGap = gapNs;
    config.frames = std::move(frames);
    config.numberOfFrames = numberOfFrames;
    return config;
}

// A trigger on the registry's port-0 context expecting the sender on `port`.
inline Trigger::Config triggerFrom(std::uint16_t port, std::uint64_t windowNs, bool ipv6 = false)
{
    Trigger::Config config;
    config.ipv6 = ipv6 ? 1 : 0;
    config.source = ipv6 ? "::1" : "127.0.0.1";
    config.srcPort = port;
    config.receiveDuration = windowNs;
    return config;
}

// The little-endian value of the eight bytes at `at`.
inline std::uint64_t readLittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(bytes.at(at + i)) << (8 * i);
    return value;
}

} // namespace udptest

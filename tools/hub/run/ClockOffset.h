#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace hubrun {

// One "get localtime" exchange: when the hub handed out the request and got the reply (hub
// clock), and the time the endpoint says it received the request (endpoint clock), all in ns
// since the epoch.
struct ClockSample
{
    std::int64_t hubSent = 0;
    std::int64_t endpointTime = 0;
    std::int64_t hubReceived = 0;
};

struct ClockOffset
{
    // endpoint clock − hub clock: add it to a hub time to get the endpoint's time.
    std::int64_t offsetNs = 0;
    // Of the sample used. The endpoint read its clock somewhere within the round trip, so the
    // offset is right to within half of it: errorNs().
    std::int64_t roundTripNs = 0;
    // The hub's time at the middle of that sample.
    std::int64_t atNs = 0;

    std::int64_t errorNs() const { return (roundTripNs + 1) / 2; }
};

// How much the offset changed per minute from `before` to `after`, in ns; nullopt when they
// were taken less than a second apart.
std::optional<double> driftPerMinute(const ClockOffset& before, const ClockOffset& after);

// What that drift is right to: the two offsets' errors over the time between them, per minute.
std::optional<double> driftErrorPerMinute(const ClockOffset& before, const ClockOffset& after);

// The offset from the sample with the shortest round trip (the least room for queueing on
// either way); samples with a reply before the request, or no endpoint time, are skipped.
std::optional<ClockOffset> estimateClockOffset(const std::vector<ClockSample>& samples);

} // namespace hubrun

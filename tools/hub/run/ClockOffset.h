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
    // Of the sample used; the offset is uncertain by about half of it.
    std::int64_t roundTripNs = 0;
};

// The offset from the sample with the shortest round trip (the least room for queueing on
// either way); samples with a reply before the request, or no endpoint time, are skipped.
std::optional<ClockOffset> estimateClockOffset(const std::vector<ClockSample>& samples);

} // namespace hubrun

#include "ClockOffset.h"

namespace hubrun {

std::optional<ClockOffset> estimateClockOffset(const std::vector<ClockSample>& samples)
{
    std::optional<ClockOffset> best;
    for (const ClockSample& s : samples) {
        if (s.hubReceived < s.hubSent || s.endpointTime <= 0)
            continue;
        const std::int64_t roundTrip = s.hubReceived - s.hubSent;
        if (best && best->roundTripNs <= roundTrip)
            continue;
        // Halving each end first keeps the sum of two epoch times from overflowing.
        const std::int64_t midpoint =
            s.hubSent / 2 + s.hubReceived / 2 + (s.hubSent % 2 + s.hubReceived % 2) / 2;
        best = ClockOffset{s.endpointTime - midpoint, roundTrip, midpoint};
    }
    return best;
}

std::optional<double> driftPerMinute(const ClockOffset& before, const ClockOffset& after)
{
    const std::int64_t apart = after.atNs - before.atNs;
    if (apart < 1'000'000'000)
        return std::nullopt;
    return static_cast<double>(after.offsetNs - before.offsetNs) * 60e9 /
           static_cast<double>(apart);
}

std::optional<double> driftErrorPerMinute(const ClockOffset& before, const ClockOffset& after)
{
    const std::int64_t apart = after.atNs - before.atNs;
    if (apart < 1'000'000'000)
        return std::nullopt;
    return static_cast<double>(before.errorNs() + after.errorNs()) * 60e9 /
           static_cast<double>(apart);
}

} // namespace hubrun

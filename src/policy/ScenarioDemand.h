#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What one scenario asks of the endpoint, in the terms of the local policy: filled from a
// parsed description, checked by checkPolicy. Plain values, nothing that runs.
struct ScenarioDemand
{
    std::uint64_t duration = 0; // ns
    std::size_t flowCount = 0;
    // Where streams and HTTP flows send, as the description wrote the addresses.
    std::vector<std::string> destinations;
    std::vector<std::uint64_t> streamRates;   // bit/s of each UDP stream
    std::vector<std::int64_t> httpRateLimits; // bytes/s of each HTTP flow; 0 or less: none
    std::vector<std::uint16_t> localUdpPorts; // streams' source and triggers' receive ports
};

// Bit/s of a stream that sends frames of `frameBytes` every `interFrameGapNs`: the UDP payload
// only, headers not counted. Saturates instead of wrapping; a gap of 0 or less is the maximum.
std::uint64_t streamBitsPerSecond(std::uint64_t frameBytes, std::int64_t interFrameGapNs);

#pragma once

#include "policy/NetworkPrefix.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What this endpoint lets any hub ask of it, read once at start from the policy file. A limit
// that is not set does not apply; a default PXPolicy allows everything the endpoint can do.
//
// Threads: built before the managers start and never changed afterwards, so every thread may
// read it without a lock.
struct PXPolicy
{
    // Streams and HTTP flows may only go to these networks (and to the hub itself). Unset: to
    // any address.
    std::optional<std::vector<roamnode::NetworkPrefix>> destinations;
    std::optional<std::uint64_t> maxStreamRate;    // bit/s of one UDP stream
    std::optional<std::uint64_t> maxTotalRate;     // bit/s of all UDP streams together
    std::optional<std::uint64_t> maxDuration;      // seconds of one scenario
    std::optional<std::uint64_t> maxFlows;         // flows in one scenario
    std::optional<std::uint64_t> maxHttpRateLimit; // bytes/s, an HTTP flow's "ratelimit"
    bool unlimitedHttp = true;                     // may an HTTP flow have no "ratelimit"
    // Local UDP ports that streams send from and triggers receive on, first to last. Port 0,
    // which lets the system choose, is always allowed.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> localUdpPorts;

    // One line for the log and the console: every rule, "any" where none is set.
    std::string summary() const;
};

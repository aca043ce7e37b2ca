#pragma once

#include "ResultSummary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace roamnode::report {

// Who an endpoint of the run is, and how far its clock is from the hub's.
struct EndpointInfo
{
    std::string name;
    std::string id;
    std::string addresses;
    std::string os;
    std::string appVersion;
    // endpoint clock − hub clock, before and after the run, each ± half its best round trip.
    std::optional<std::int64_t> offsetNs, offsetErrorNs;
    std::optional<std::int64_t> offsetAfterNs, offsetAfterErrorNs;
    std::optional<double> driftNsPerMinute, driftErrorNsPerMinute;
};

struct RunInfo
{
    std::int64_t startNs = 0; // hub clock, ns since the epoch; 0: not known
    std::vector<EndpointInfo> endpoints;
};

// A self-contained page (inline CSS and SVG, no scripts, nothing fetched): when the run was and
// who took part, the summary table, per-second throughput per flow, per-second latency with
// its min/max band, and the monitors' RSSI, bit rate and channel over time.
std::string htmlReport(const std::string& title, const std::vector<ScenarioSummary>& scenarios,
                       const RunInfo& run = {});

} // namespace roamnode::report

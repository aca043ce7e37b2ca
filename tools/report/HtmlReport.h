#pragma once

#include "ResultSummary.h"

#include <string>
#include <vector>

namespace roamnode::report {

// A self-contained page (inline CSS and SVG, no scripts, nothing fetched): the summary table,
// per-second throughput per flow, per-second latency with its min/max band, and the monitors'
// RSSI, bit rate and channel over time.
std::string htmlReport(const std::string& title, const std::vector<ScenarioSummary>& scenarios);

} // namespace roamnode::report

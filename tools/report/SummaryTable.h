#pragma once

#include "ResultSummary.h"

#include <string>
#include <vector>

namespace roamnode::report {

// The per-flow table printed after a run, one block per scenario result.
std::string summaryTable(const std::vector<ScenarioSummary>& scenarios);

// The summary as JSON (for files next to the raw result list).
Json::Value summaryJson(const std::vector<ScenarioSummary>& scenarios);

} // namespace roamnode::report

#pragma once

#include "ResultSummary.h"

#include <cstddef>
#include <string>
#include <vector>

namespace roamnode::report {

struct TableOptions
{
    // Every column; otherwise the less important ones are left out until a line fits `width`.
    bool wide = false;
    std::size_t width = 100;
};

// The per-flow table printed after a run, one block per scenario result, with notes below it
// (errors, short streams, the server's figures, the monitors).
std::string summaryTable(const std::vector<ScenarioSummary>& scenarios,
                         const TableOptions& options = {});

// The summary as JSON (for files next to the raw result list), every second and monitor sample
// included, so that results.json alone can be archived.
Json::Value summaryJson(const std::vector<ScenarioSummary>& scenarios);

// The flow's verdict as the table and the report show it: the endpoint's status, with
// "(short)", "(0 bytes)" or "(not measured)" added where the figures say more.
std::string statusText(const FlowSummary& flow);

// The loss cell: "2 (2.00 %)", "ambiguous" or "-".
std::string lossText(const FlowSummary& flow);

// "1998/2000" for a stream with a plan, else the packet count.
std::string packetsText(const FlowSummary& flow);

} // namespace roamnode::report

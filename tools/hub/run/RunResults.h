#pragma once

#include "HtmlReport.h"
#include "ResultSummary.h"

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

namespace hubrun {

class EndpointDriver;

// What a finished run leaves: results.json's document and the summaries that the table and the
// report are drawn from.
struct CollectedRun
{
    Json::Value results;
    std::vector<roamnode::report::ScenarioSummary> summaries;
    roamnode::report::RunInfo info;
    // A flow failed or a stream fell short.
    bool failed = false;
    // Lines worth printing ("N result(s) of an earlier run left out").
    std::vector<std::string> notes;
};

// Gathers the results of every driver of a run: summaries, stream/trigger pairing, the
// HTTP server's counts when `httpdStatsPath` names its --stats file, and results.json with the
// hub's host name and `testName` (empty for a one-off run).
CollectedRun collectRun(const std::vector<std::unique_ptr<EndpointDriver>>& drivers,
                        const Json::Value& scenario, const std::string& httpdStatsPath,
                        const std::string& testName);

} // namespace hubrun

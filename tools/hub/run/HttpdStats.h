#pragma once

#include "ResultSummary.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hubrun {

// One finished connection as roamnode-httpd --stats writes it, one JSON object per line.
struct ConnectionStat
{
    std::string method; // "GET", "PUT"
    std::string target; // "/demo/download/?ns=4000000000"
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string peer;
};

// Lines that are not such an object are skipped: the server may still be writing the last one.
std::vector<ConnectionStat> parseConnectionStats(const std::string& text);

// The path name a TCP flow puts in its request target for a "url": from after the first "/" up
// to the third one ("/dir/name/more" gives "dir/name"); the whole text when it has no "/".
std::string flowPathName(const std::string& url);

// The target is "/" + the path name, optionally "-N" (the Nth connection of a restarting flow),
// then "/".
bool targetMatchesUrl(const std::string& target, const std::string& url);

// Fills bytes and mean Mbit/s of the HTTP flows of `scenario` (as run from `description`) from
// the server's connections, matched by method and path, and marks them as measured by the
// server. Returns how many flows got figures.
int applyConnectionStats(roamnode::report::ScenarioSummary& scenario,
                         const Json::Value& description,
                         const std::vector<ConnectionStat>& connections);

} // namespace hubrun

#pragma once

#include "FlowPairing.h"
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
    // Empty and 0 in lines of an older server: then they are not checked.
    std::string address; // normalised (roamnode::report::normalAddress)
    int port = 0;
    std::int64_t startNs = 0; // the server's clock, ns since the epoch
};

// Lines that are not such an object are skipped: the server may still be writing the last one.
std::vector<ConnectionStat> parseConnectionStats(const std::string& text);

// The path name a TCP flow puts in its request target for a "url": from after the first "/" up
// to the third one ("/dir/name/more" gives "dir/name"); the whole text when it has no "/".
std::string flowPathName(const std::string& url);

// The target is "/" + the path name, optionally "-N" (the Nth connection of a restarting flow),
// then "/". `connection` gets N, or 1 without it.
bool targetMatchesUrl(const std::string& target, const std::string& url, int* connection = nullptr);

// How far outside the run's time window a connection may start and still be the run's: the
// server's clock and the hub's may differ a little, and a flow may start late.
constexpr std::int64_t kWindowSlackNs = 2'000'000'000;

// Gives the HTTP flows of every endpoint the server's count of their connections: bytes, and
// mean Mbit/s over the connections' durations. A connection is a flow's when its method and
// path match the flow's, it came from one of the endpoint's addresses (from the flow's
// "srcport" too when it has one, for its first connection), and it started within the run:
// from the endpoint's start + "initialtimetowait" to its start + the scenario's "duration"
// (± kWindowSlackNs, on the hub's clock, which the server is taken to share). A connection that
// fits flows of more than one endpoint, or more than one flow, marks those flows ambiguous
// instead of counting twice. Every other HTTP flow counts as measured, with what it got
// (0 bytes when the server saw nothing of it). Returns how many flows got bytes.
int applyConnectionStats(std::vector<roamnode::report::EndpointResults>& endpoints,
                         const std::vector<ConnectionStat>& connections);

} // namespace hubrun

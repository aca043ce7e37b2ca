#pragma once

#include "ResultSummary.h"

#include <json/value.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace roamnode::report {

// One endpoint's part of a run: who it is and what it ran.
struct EndpointResults
{
    std::string label;
    // Every address the endpoint has (its interfaces, loopback included), in the form of
    // normalAddress().
    std::set<std::string> addresses;
    Json::Value description;
    std::vector<ScenarioSummary> summaries;
    // When the run started, on the hub's clock (ns since the epoch); 0: not known.
    std::int64_t hubStartNs = 0;
};

// An address as text in one form: without "/prefix" or "%scope", lower case, and an IPv4
// address mapped into IPv6 ("::ffff:10.0.0.1") as the IPv4 address.
std::string normalAddress(const std::string& text);

// The addresses an endpoint names in its "device-ipv4", "device-ipv6" and "interfaces"
// answers (each may be a JSON value or the text of one), normalised.
std::set<std::string> endpointAddresses(const Json::Value& info);

// Only "device-ipv4" and "device-ipv6": the addresses that tell endpoints apart (no loopback).
std::set<std::string> deviceAddresses(const Json::Value& info);

// Pairs every trigger with the stream that feeds it, on whichever endpoint it ran: the same
// family and ports ("srcport" and "dstport" alike), the stream's destination one of the trigger
// endpoint's addresses and the trigger's expected source one of the stream endpoint's. One
// match gives the loss (frames sent − frames received); more than one marks the trigger
// ambiguous and gives no loss.
void pairStreamsAndTriggers(std::vector<EndpointResults>& endpoints);

} // namespace roamnode::report

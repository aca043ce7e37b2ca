#pragma once

#include "policy/PXPolicy.h"
#include "policy/ScenarioDemand.h"

#include <string>
#include <vector>

// The answer to "may this scenario run here": code 0, or the ScenarioErrorCode of the first
// rule it breaks and a message that names the rule and the value, in the style of the table
// ("Error in <scenariodescription>: destination 198.51.100.7 is outside the allowed networks").
struct PolicyVerdict
{
    int code = 0;
    std::string message;
};

// Pure: the rules are checked in a fixed order (flows, duration, destinations, local ports,
// stream rates, total rate, HTTP rate limits). `hubAddresses` are the hub's own numeric
// addresses, always allowed as destinations.
PolicyVerdict checkPolicy(const PXPolicy& policy, const ScenarioDemand& demand,
                          const std::vector<std::string>& hubAddresses);

#pragma once

#include "bus/ScenarioErrorCode.h"
#include "scenario/ScenarioPlan.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// Reading the "flow" object of one element of "flows", one function per kind. Each returns 0
// and fills `out`, or the code of the first problem found. Pure and never throws.
ScenarioErrorCode readStreamFlow(const Json::Value& content, IpVersion ipVersion,
                                 Stream::Config& out);
ScenarioErrorCode readTriggerFlow(const Json::Value& content, IpVersion ipVersion,
                                  PXTriggerPlan& out);
// Both HTTP kinds: "requestmethod" decides GET or PUT.
ScenarioErrorCode readHttpFlow(const Json::Value& content, IpVersion ipVersion,
                               MultiConnect::Config& out);

// The byte sequence of one "contentlist" element: two characters per byte, high digit first,
// an odd final character ignored. Digits follow the endpoint's lenient rule (lower-case only).
std::vector<std::uint8_t> hexToBytes(const std::string& text);

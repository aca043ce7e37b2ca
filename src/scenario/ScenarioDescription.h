#pragma once

#include "PXScenario.h"
#include "ScenarioErrorCode.h"

#include <memory>
#include <string>

// Turns the text of the "scenariodescription" variable into a scenario with its flows and
// monitors. Returns 0 and fills `scenario`, or the code of the first problem found and leaves
// `scenario` untouched. Never throws on any input.
ScenarioErrorCode parseScenarioDescription(const std::string& text,
                                           std::shared_ptr<PXScenario>& scenario);

// The byte sequence of one "contentlist" element: two characters per byte, high digit first,
// an odd final character ignored. Digits follow the endpoint's lenient rule (lower-case only).
std::vector<std::uint8_t> hexToBytes(const std::string& text);

#pragma once

#include "bus/ScenarioErrorCode.h"
#include "scenario/ScenarioPlan.h"

#include <string>

// Turns the text of the "scenariodescription" variable into a scenario plan. Returns 0 and
// fills `scenario`, or the code of the first problem found and leaves `scenario` untouched.
// Pure (no sockets, no threads, no Qt objects) and never throws on any input.
ScenarioErrorCode parseScenarioDescription(const std::string& text, PXScenarioPlan& scenario);

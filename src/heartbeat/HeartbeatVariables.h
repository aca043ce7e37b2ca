#pragma once

#include "bus/AppState.h"

#include <cstdint>
#include <map>
#include <string>

// The fixed vocabulary of the heartbeat: which event reads or writes which variable, which
// answer belongs to which variable, and the texts of states and reply statuses.
namespace roamnode {

// Variable name -> request event id of a "get" (22 names).
const std::map<std::string, int>& heartbeatGetMap();
// Variable name -> request event id of a "set" (8 names).
const std::map<std::string, int>& heartbeatSetMap();
// Answer event id -> variable name (30 ids).
const std::map<int, std::string>& heartbeatAnswerMap();

// "success", "scenario-parse-error", ..., "json-error" for 5 and above.
std::string heartbeatStatusText(std::uint32_t status);

// The hello's state text: "booting", "try-contact-rvp", "registered", "armed",
// "scenario-running", "Unknown".
std::string heartbeatStateText(AppState state);

// A float the way the standard stream writes it by default: up to 6 significant digits
// (87.5, 100, 1.2e-05).
std::string formatFloat(float value);

} // namespace roamnode

#pragma once

#include "bus/AppState.h"

#include <string>

namespace roamnode {

// "Armed", "Running", "Registered", or "Contacting" for every other state.
const char* consoleStateText(AppState state);

// The console status line (without the leading carriage return):
// " %1s Status: %-12s || Rx: %6.2f Mbps | Tx: %6.2f Mbps", cut to 99 bytes.
std::string formatStatusLine(bool blink, AppState state, float rxMbps, float txMbps);

} // namespace roamnode

#include "ui/StatusLine.h"

#include <cstdio>

namespace roamnode {

const char* consoleStateText(AppState state)
{
    switch (state) {
    case ARMED:
        return "Armed";
    case RUNNING:
        return "Running";
    case REGISTERED:
        return "Registered";
    default:
        return "Contacting";
    }
}

std::string formatStatusLine(bool blink, AppState state, float rxMbps, float txMbps)
{
    // The bullet is three bytes of UTF-8; the 1-wide field only pads the empty blink text.
    char buffer[100];
    std::snprintf(buffer, sizeof buffer, " %1s Status: %-12s || Rx: %6.2f Mbps | Tx: %6.2f Mbps",
                  blink ? "\u2022" : "", consoleStateText(state), static_cast<double>(rxMbps),
                  static_cast<double>(txMbps));
    return buffer;
}

} // namespace roamnode

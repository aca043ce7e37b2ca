#pragma once

#include <functional>

namespace testsupport {

// Runs the Qt event loop of the calling thread until the condition holds or the time is up.
// Returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// Runs the Qt event loop for the given time (to check that something does NOT happen).
void runEventsFor(int milliseconds);

} // namespace testsupport

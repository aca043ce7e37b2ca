#pragma once

#include <optional>
#include <string>

namespace roamnode::log {

enum Level : int { Debug = 0, Info = 1, Warning = 2, Error = 3, Critical = 4 };

// "debug" ... "critical"; "unknown" for any other value.
std::string levelName(int level);
// Exact, case-sensitive match of one of the five names.
std::optional<int> levelFromName(const std::string& name);

} // namespace roamnode::log

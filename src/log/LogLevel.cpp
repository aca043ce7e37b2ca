#include "log/LogLevel.h"

#include <array>

namespace roamnode::log {
namespace {
const std::array<const char*, 5> kNames = {"debug", "info", "warning", "error", "critical"};
}

std::string levelName(int level)
{
    if (level < 0 || level >= static_cast<int>(kNames.size()))
        return "unknown";
    return kNames[static_cast<std::size_t>(level)];
}

std::optional<int> levelFromName(const std::string& name)
{
    for (std::size_t i = 0; i < kNames.size(); ++i)
        if (name == kNames[i])
            return static_cast<int>(i);
    return std::nullopt;
}

} // namespace roamnode::log

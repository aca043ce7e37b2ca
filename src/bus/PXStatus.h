#pragma once

#include <cstdint>

// Answer to a "set": 0 is success, any other value is a ScenarioErrorCode.
enum class PXStatus : std::uint32_t {
    Success = 0,
};

inline PXStatus toPXStatus(int code)
{
    return static_cast<PXStatus>(code);
}

inline int statusCode(PXStatus status)
{
    return static_cast<int>(status);
}

#pragma once

#include <chrono>
#include <cstdint>

namespace roamnode {

// Absolute times on the wire, in events and in results: nanoseconds since the Unix epoch on the
// system clock (a signed 64-bit count with libstdc++).
using time_point = std::chrono::system_clock::time_point;

inline std::int64_t toNanoseconds(time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

inline time_point fromNanoseconds(std::int64_t ns)
{
    return time_point(std::chrono::duration_cast<time_point::duration>(std::chrono::nanoseconds(ns)));
}

inline std::int64_t nowNanoseconds()
{
    return toNanoseconds(std::chrono::system_clock::now());
}

} // namespace roamnode

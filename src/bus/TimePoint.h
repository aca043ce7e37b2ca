#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

// The one vocabulary for times and durations. Absolute times on the wire, in events and in
// results are nanoseconds since the Unix epoch on the system clock (a signed 64-bit count with
// libstdc++); durations are signed nanosecond counts. Sums and products of values the hub sends
// saturate instead of overflowing.
namespace roamnode {

using time_point = std::chrono::system_clock::time_point;

constexpr std::int64_t kNanosecondsPerMillisecond = 1000000;
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

inline std::int64_t toNanoseconds(time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

inline time_point fromNanoseconds(std::int64_t ns)
{
    return time_point(
        std::chrono::duration_cast<time_point::duration>(std::chrono::nanoseconds(ns)));
}

inline std::int64_t nowNanoseconds()
{
    return toNanoseconds(std::chrono::system_clock::now());
}

inline std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return sum;
}

inline std::int64_t saturatingSubtract(std::int64_t a, std::int64_t b)
{
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return difference;
}

inline std::int64_t saturatingMultiply(std::int64_t a, std::int64_t b)
{
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                                  : std::numeric_limits<std::int64_t>::max();
    return product;
}

// An unsigned count (frames, a duration the hub sent unsigned) as a signed one, saturated.
inline std::int64_t saturatingSigned(std::uint64_t value)
{
    constexpr auto maximum = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return value > maximum ? std::numeric_limits<std::int64_t>::max()
                           : static_cast<std::int64_t>(value);
}

inline std::int64_t millisecondsToNanoseconds(std::int64_t ms)
{
    return saturatingMultiply(ms, kNanosecondsPerMillisecond);
}

// Whole milliseconds, rounded towards zero.
inline std::int64_t nanosecondsToMilliseconds(std::int64_t ns)
{
    return ns / kNanosecondsPerMillisecond;
}

// A duration in milliseconds or seconds with its fraction, for what people read (reports, logs,
// metrics); counts stay in whole nanoseconds.
constexpr double millisecondsOf(double ns)
{
    return ns / kNanosecondsPerMillisecond;
}
constexpr double secondsOf(double ns)
{
    return ns / kNanosecondsPerSecond;
}
// A double as a signed count: truncated, saturated at the range, 0 for NaN (converting a value
// out of range as it is would be undefined).
inline std::int64_t saturatingFromDouble(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2233720368547758e18)
        return std::numeric_limits<std::int64_t>::max();
    if (value <= -9.2233720368547758e18)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

// Seconds a person gave (an option, a schedule) in nanoseconds, rounded and saturated.
inline std::int64_t nanosecondsOfSeconds(double seconds)
{
    return saturatingFromDouble(std::round(seconds * kNanosecondsPerSecond));
}

// The start of the whole second `ns` lies in (towards zero, as the result list counts).
inline std::int64_t wholeSecond(std::int64_t ns)
{
    return ns / kNanosecondsPerSecond * kNanosecondsPerSecond;
}

} // namespace roamnode

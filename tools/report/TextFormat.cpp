#include "TextFormat.h"

#include "bus/TimePoint.h"

#include <cstdio>
#include <ctime>

namespace roamnode::report {

std::string format(const char* fmt, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, value);
    return buffer;
}

std::string clockTime(std::int64_t ns, bool local)
{
    const std::time_t seconds = static_cast<std::time_t>(ns / roamnode::kNanosecondsPerSecond);
    const int millis =
        static_cast<int>(roamnode::nanosecondsToMilliseconds(ns % roamnode::kNanosecondsPerSecond));
    std::tm parts{};
    if (local)
        localtime_r(&seconds, &parts);
    else
        gmtime_r(&seconds, &parts);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &parts);
    char zone[16] = "UTC";
    if (local)
        std::strftime(zone, sizeof zone, "%Z", &parts);
    char out[96];
    std::snprintf(out, sizeof out, "%s.%03d %s", date, millis < 0 ? 0 : millis, zone);
    return out;
}

std::string timeOfDay(std::int64_t ns)
{
    const std::string full = clockTime(ns);
    return full.substr(11, 12) + " UTC";
}

std::string humanBytes(std::uint64_t bytes)
{
    const double b = static_cast<double>(bytes);
    if (bytes < 1000)
        return std::to_string(bytes) + " B";
    if (b < 1e6)
        return format("%.1f kB", b / 1e3);
    if (b < 1e9)
        return format("%.2f MB", b / 1e6);
    return format("%.2f GB", b / 1e9);
}

std::string milliseconds(const std::optional<double>& ns)
{
    return ns ? format("%.3f", roamnode::millisecondsOf(*ns)) : "-";
}

std::string milliseconds(const std::optional<std::int64_t>& ns)
{
    return ns ? format("%.3f", roamnode::millisecondsOf(static_cast<double>(*ns))) : "-";
}

std::string offsetText(std::int64_t offsetNs, std::int64_t errorNs)
{
    return format("%+.3f ms", roamnode::millisecondsOf(static_cast<double>(offsetNs))) +
           " \xc2\xb1 " + format("%.3f ms", roamnode::millisecondsOf(static_cast<double>(errorNs)));
}

} // namespace roamnode::report

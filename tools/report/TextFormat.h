#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace roamnode::report {

// printf into a std::string (the figures here are short).
std::string format(const char* fmt, double value);

// "2026-12-07 13:25:03.250 UTC" from ns since the epoch; `local` gives the machine's local
// time with its zone name instead.
std::string clockTime(std::int64_t ns, bool local = false);

// "13:25:03.250" (UTC): for lines that already say the date.
std::string timeOfDay(std::int64_t ns);

// "950 B", "12.3 kB", "4.56 MB", "1.23 GB" (powers of 1000).
std::string humanBytes(std::uint64_t bytes);

// "0.123" ms from ns, "-" when absent.
std::string milliseconds(const std::optional<double>& ns);
std::string milliseconds(const std::optional<std::int64_t>& ns);

// "+0.123 ms ± 0.045 ms"
std::string offsetText(std::int64_t offsetNs, std::int64_t errorNs);

} // namespace roamnode::report

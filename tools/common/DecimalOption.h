#pragma once

#include <cstdint>
#include <string>

// The numbers of the tools' command lines and files: plain decimal digits only, so "-1", "0x10",
// "1e3" or " 5" are refused rather than read as something else.
namespace roamnode::tools {

// An unsigned decimal integer no greater than `max`.
bool parseDecimal(const std::string& text, std::uint64_t max, std::uint64_t& value);

// Seconds as a non-negative decimal fraction ("2", "0.5") no greater than `max`.
bool parseSeconds(const std::string& text, double max, double& value);

} // namespace roamnode::tools

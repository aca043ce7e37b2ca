#pragma once

#include <cstdint>
#include <string>

namespace roamnode {

// A number from a hub's "set": compact JSON text, which some hubs send quoted
// ("\"2000\"" as well as "2000"). The leading decimal integer is read, inside the quotes when
// there are any; text without one counts as 0, and values past the 64-bit range saturate.
std::int64_t hubInteger(const std::string& text);

} // namespace roamnode

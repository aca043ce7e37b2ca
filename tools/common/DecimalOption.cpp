#include "DecimalOption.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace roamnode::tools {

bool parseDecimal(const std::string& text, std::uint64_t max, std::uint64_t& value)
{
    // 20 digits already pass 2^64; strtoull would saturate silently past that.
    if (text.empty() || text.size() > 20 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool parseSeconds(const std::string& text, double max, double& value)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(parsed) || parsed < 0 || parsed > max)
        return false;
    value = parsed;
    return true;
}

} // namespace roamnode::tools

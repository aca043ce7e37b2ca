#include "bus/HubInteger.h"

#include <cstdlib>

namespace roamnode {

std::int64_t hubInteger(const std::string& text)
{
    const char* begin = text.c_str();
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        ++begin;
    return std::strtoll(begin, nullptr, 10);
}

} // namespace roamnode

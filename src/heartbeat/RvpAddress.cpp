#include "heartbeat/RvpAddress.h"

#include <algorithm>

namespace roamnode {
namespace {

bool parsePort(const std::string& text, std::uint16_t& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

RvpAddress parseHostAndPort(const std::string& text);

} // namespace

RvpAddress parseRvpAddress(const std::string& address)
{
    static const std::string kTlsScheme = "tls://";
    if (address.rfind(kTlsScheme, 0) == 0) {
        RvpAddress parsed = parseRvpAddress(address.substr(kTlsScheme.size()));
        parsed.tls = true;
        return parsed;
    }
    return parseHostAndPort(address);
}

namespace {

RvpAddress parseHostAndPort(const std::string& text)
{
    RvpAddress address;
    address.host = text;

    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1)
            return address;
        const std::string inside = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (rest.empty()) {
            address.host = inside;
            return address;
        }
        std::uint16_t port = 0;
        if (rest.front() == ':' && parsePort(rest.substr(1), port)) {
            address.host = inside;
            address.port = port;
        }
        return address;
    }

    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || text.find(':', colon + 1) != std::string::npos)
        return address;
    std::uint16_t port = 0;
    if (parsePort(text.substr(colon + 1), port)) {
        address.host = text.substr(0, colon);
        address.port = port;
    }
    return address;
}

} // namespace
} // namespace roamnode

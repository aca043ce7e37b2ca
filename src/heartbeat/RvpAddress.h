#pragma once

#include <cstdint>
#include <string>

namespace roamnode {

constexpr std::uint16_t kDefaultRvpPort = 9100;

struct RvpAddress
{
    std::string host;
    std::uint16_t port = kDefaultRvpPort;
    bool tls = false; // the address began with "tls://"
};

// Splits the address the user gives into host and port: "host:port", "a.b.c.d:port" and
// "[v6]:port" carry a port; "[v6]" loses its brackets. A bare IPv6 address (several colons, no
// brackets) and any text without a valid port (1 to 65535, digits only) are kept whole as the
// host with the default port, so the resolver, not this parser, decides whether they work.
// A leading "tls://" asks for the authenticated channel and is not part of the host.
RvpAddress parseRvpAddress(const std::string& text);

} // namespace roamnode

#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace roamnode {

// A numeric IPv4 or IPv6 address as bytes. An IPv4-mapped IPv6 address (::ffff:a.b.c.d) is
// taken as the IPv4 address it carries, so it cannot slip past an IPv4 network list.
struct IpBytes
{
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};
};

// Parses "192.0.2.1", "2001:db8::1" or "fe80::1%eth0" (the zone is ignored). False for
// anything else, host names included.
bool parseIpAddress(const std::string& text, IpBytes& address);

// One network in CIDR form, "10.0.0.0/8" or "fe80::/10"; an address alone is its own /32 or
// /128.
class NetworkPrefix
{
public:
    // False, with `why` in words, for text that is not a network.
    static bool parse(const std::string& text, NetworkPrefix& prefix, std::string& why);

    bool contains(const IpBytes& address) const;
    const std::string& text() const { return m_text; }

private:
    IpBytes m_network;
    unsigned m_length = 0;
    std::string m_text;
};

} // namespace roamnode

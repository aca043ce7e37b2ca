#include "policy/NetworkPrefix.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace roamnode {

bool parseIpAddress(const std::string& text, IpBytes& address)
{
    const std::string bare = text.substr(0, text.find('%'));
    std::uint8_t raw[16] = {};
    if (inet_pton(AF_INET, bare.c_str(), raw) == 1) {
        address = IpBytes{};
        std::memcpy(address.bytes.data(), raw, 4);
        return true;
    }
    if (inet_pton(AF_INET6, bare.c_str(), raw) != 1)
        return false;
    static const std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    address = IpBytes{};
    if (std::memcmp(raw, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        std::memcpy(address.bytes.data(), raw + 12, 4);
        return true;
    }
    address.v6 = true;
    std::memcpy(address.bytes.data(), raw, 16);
    return true;
}

bool NetworkPrefix::parse(const std::string& text, NetworkPrefix& prefix, std::string& why)
{
    const std::size_t slash = text.find('/');
    IpBytes network;
    if (!parseIpAddress(text.substr(0, slash), network) || text.find('%') != std::string::npos) {
        why = "\"" + text + "\" is not an IPv4 or IPv6 network";
        return false;
    }
    const unsigned maxLength = network.v6 ? 128 : 32;
    unsigned length = maxLength;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 3 ||
            digits.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(digits) > maxLength) {
            why = "\"" + text + "\" has no prefix length from 0 to " + std::to_string(maxLength);
            return false;
        }
        length = static_cast<unsigned>(std::stoul(digits));
    }
    prefix.m_network = network;
    prefix.m_length = length;
    prefix.m_text = text;
    return true;
}

bool NetworkPrefix::contains(const IpBytes& address) const
{
    if (address.v6 != m_network.v6)
        return false;
    const unsigned whole = m_length / 8;
    if (!std::equal(m_network.bytes.begin(), m_network.bytes.begin() + whole,
                    address.bytes.begin()))
        return false;
    const unsigned rest = m_length % 8;
    if (rest == 0)
        return true;
    const std::uint8_t mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return (m_network.bytes[whole] & mask) == (address.bytes[whole] & mask);
}

} // namespace roamnode

#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class InterfaceType : std::int32_t {
    Unknown = 0,
    Loopback = 1,
    Ethernet = 2,
    Wifi = 3,
};

// One record per interface name, whatever number of address entries the system lists for it.
// The defaults are what the hub gets when a query fails or does not apply.
struct InterfaceInfo
{
    InterfaceType type = InterfaceType::Unknown;
    std::string name;
    std::string displayname;
    std::string mac = "00:00:00:00:00:00";
    std::vector<std::string> ipv4;
    std::vector<std::string> ipv6; // "address/prefix"
    std::string ssid;
    std::string bssid = "00:00:00:00:00:00";
    std::int32_t rssi = -127; // dBm
    std::int64_t txrate = -1; // bit/s
    std::int64_t rxrate = -1; // bit/s, the system gives one rate for both directions
    std::int32_t channel = -1;
};

// "loopback", "ethernet", "wifi_ieee80211" or "unknown".
const char* interfaceTypeName(InterfaceType type);

// The 5 GHz and 4.9 GHz channel of a frequency in MHz, or -1 when the frequency is not one of the
// 59 the hub knows (2.4 GHz is deliberately absent).
std::int32_t frequencyToChannel(std::int32_t mhz);

// Prefix length of an IPv6 netmask: 8 per leading 255 byte, plus the leading one-bits of the first
// byte below 255 when it is one of the contiguous masks (254 ... 128); anything else adds nothing.
int prefixLength(const std::uint8_t (&netmask)[16]);

// "aa:bb:cc:dd:ee:ff" in lower case.
std::string formatMac(const std::uint8_t (&bytes)[6]);

// The first Wi-Fi record that is not Apple's peer-to-peer link "awdl0", or a default record with
// an empty name.
InterfaceInfo wifiInterface(const std::vector<InterfaceInfo>& interfaces);

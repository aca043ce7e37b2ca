#include "device/InterfaceInfo.h"

#include <cstdio>
#include <utility>

namespace {

struct ChannelEntry
{
    std::int32_t mhz;
    std::int32_t channel;
};

constexpr ChannelEntry fiveGhz(std::int32_t mhz)
{
    return {mhz, (mhz - 5000) / 5};
}

constexpr ChannelEntry fourNineGhz(std::int32_t mhz)
{
    return {mhz, (mhz - 4000) / 5};
}

// The hub reports channels from this fixed table only; a frequency outside it leaves the channel
// as it was.
constexpr ChannelEntry kChannels[] = {
    fiveGhz(5160),     fiveGhz(5170),     fiveGhz(5180),     fiveGhz(5190),     fiveGhz(5200),
    fiveGhz(5210),     fiveGhz(5220),     fiveGhz(5230),     fiveGhz(5240),     fiveGhz(5250),
    fiveGhz(5260),     fiveGhz(5270),     fiveGhz(5280),     fiveGhz(5290),     fiveGhz(5300),
    fiveGhz(5310),     fiveGhz(5320),     fiveGhz(5340),     fiveGhz(5480),     fiveGhz(5500),
    fiveGhz(5510),     fiveGhz(5520),     fiveGhz(5530),     fiveGhz(5540),     fiveGhz(5550),
    fiveGhz(5560),     fiveGhz(5570),     fiveGhz(5580),     fiveGhz(5590),     fiveGhz(5600),
    fiveGhz(5610),     fiveGhz(5620),     fiveGhz(5630),     fiveGhz(5640),     fiveGhz(5660),
    fiveGhz(5670),     fiveGhz(5680),     fiveGhz(5690),     fiveGhz(5700),     fiveGhz(5710),
    fiveGhz(5720),     fiveGhz(5745),     fiveGhz(5755),     fiveGhz(5765),     fiveGhz(5775),
    fiveGhz(5785),     fiveGhz(5795),     fiveGhz(5805),     fiveGhz(5825),     fiveGhz(5845),
    fiveGhz(5865),     fourNineGhz(4915), fourNineGhz(4920), fourNineGhz(4925), fourNineGhz(4935),
    fourNineGhz(4940), fourNineGhz(4945), fourNineGhz(4960), fourNineGhz(4980),
};
static_assert(sizeof kChannels / sizeof kChannels[0] == 59, "the channel table has 59 entries");

} // namespace

const char* interfaceTypeName(InterfaceType type)
{
    switch (type) {
    case InterfaceType::Loopback:
        return "loopback";
    case InterfaceType::Ethernet:
        return "ethernet";
    case InterfaceType::Wifi:
        return "wifi_ieee80211";
    default:
        return "unknown";
    }
}

std::int32_t frequencyToChannel(std::int32_t mhz)
{
    for (const ChannelEntry& entry : kChannels) {
        if (entry.mhz == mhz)
            return entry.channel;
    }
    return -1;
}

int prefixLength(const std::uint8_t (&netmask)[16])
{
    int length = 0;
    for (const std::uint8_t byte : netmask) {
        if (byte == 255) {
            length += 8;
            continue;
        }
        switch (byte) {
        case 254:
            length += 7;
            break;
        case 252:
            length += 6;
            break;
        case 248:
            length += 5;
            break;
        case 240:
            length += 4;
            break;
        case 224:
            length += 3;
            break;
        case 192:
            length += 2;
            break;
        case 128:
            length += 1;
            break;
        default:
            break;
        }
        break;
    }
    return length;
}

std::string formatMac(const std::uint8_t (&bytes)[6])
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
}

InterfaceInfo wifiInterface(const std::vector<InterfaceInfo>& interfaces)
{
    for (const InterfaceInfo& info : interfaces) {
        if (info.type == InterfaceType::Wifi && info.name != "awdl0")
            return info;
    }
    return InterfaceInfo();
}

#pragma once

#include "device/InterfaceSystem.h"

#include <cstdint>
#include <optional>
#include <string>

// The wireless state of one interface from the kernel's nl80211 interface (generic netlink),
// which every cfg80211 driver serves; the older wireless-extensions ioctls are only a compat
// layer that kernels may leave out and that newer devices refuse.
//
// Filled the way those ioctls filled it, so the records read the same whichever way was used:
// - not an nl80211 interface (or no nl80211 in the kernel): empty, the interface is Ethernet;
// - ssid: the interface's SSID, or the associated network's SSID element; empty when not
//   associated;
// - bssid: the associated network from the scan results, all zero when not associated;
// - frequency: the operating channel's frequency, failing when there is none;
// - signal and bit rate: the access point's station entry (signal in dBm, transmit rate in units
//   of 100 kbit/s turned into bit/s), failing with ENOTCONN when not associated.
//
// One netlink socket per call, with a receive timeout so a silent kernel cannot block a sample.
std::optional<InterfaceSystem::WirelessAnswers> queryNl80211(const std::string& name);

struct nlattr;

// The decoding steps of queryNl80211, apart from the socket so they run on recorded replies.
namespace nl80211 {

struct InterfaceFacts
{
    bool seen = false;
    bool hasSsid = false;
    std::string ssid;
    std::uint32_t frequencyMhz = 0;
};

struct NetworkFacts
{
    bool associated = false;
    InterfaceSystem::MacAddress bssid;
    std::string ssid;
    std::uint32_t frequencyMhz = 0;
};

struct StationFacts
{
    bool hasSignal = false;
    std::uint8_t signal = 0;
    bool hasRate = false;
    std::int64_t rate = 0; // bit/s
};

// Each reads the attributes of one reply (the payload after the generic netlink header) of
// NL80211_CMD_GET_INTERFACE, one entry of NL80211_CMD_GET_SCAN's dump, or NL80211_CMD_GET_STATION.
void readInterface(nlattr* attributes, int length, InterfaceFacts& facts);
void readNetwork(nlattr* attributes, int length, NetworkFacts& facts);
void readStation(nlattr* attributes, int length, StationFacts& facts);

// The SSID element (id 0) of a list of information elements; empty when there is none.
std::string ssidElement(const std::uint8_t* elements, int length);

// What the facts and the errno values of the scan and station requests (0 for success) amount
// to, with the units and failures of the wireless-extensions queries.
InterfaceSystem::WirelessAnswers answersFrom(const InterfaceFacts& interface, int scanError,
                                             const NetworkFacts& network, int stationError,
                                             const StationFacts& station);

} // namespace nl80211

#pragma once

#include "device/InterfaceReader.h"
#include "device/InterfaceSystem.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>

// Answers recorded from real hosts (or made to look like them) in place of the system calls, so
// the reader's rules run without a Wi-Fi device.
class RecordedInterfaceSystem : public InterfaceSystem
{
public:
    // An entry of the address list: the interface alone (its packet entry) or with one address,
    // IPv6 when the text has a colon.
    static AddressEntry entry(const std::string& name, const char* address = nullptr,
                              int prefix = 0)
    {
        AddressEntry entry;
        entry.name = name;
        if (address) {
            const bool v6 = std::strchr(address, ':') != nullptr;
            entry.family = v6 ? AddressEntry::IPv6 : AddressEntry::IPv4;
            inet_pton(v6 ? AF_INET6 : AF_INET, address, entry.address);
        }
        for (int bit = 0; bit < prefix && bit < 128; ++bit)
            entry.netmask[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        return entry;
    }

    // An associated Wi-Fi interface as a driver would report it.
    static WirelessAnswers associated(const std::string& ssid, double frequencyHz,
                                      std::uint8_t signal, std::int64_t bitRate)
    {
        return {Answer<std::string>::success(ssid),
                Answer<MacAddress>::success({{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}),
                Answer<double>::success(frequencyHz), Answer<std::uint8_t>::success(signal),
                Answer<std::int64_t>::success(bitRate)};
    }

    int addresses(std::vector<AddressEntry>& out) override
    {
        ++addressCalls;
        if (addressError != 0)
            return addressError;
        out = entries;
        return 0;
    }

    Answer<MacAddress> hardwareAddress(const std::string& name) override
    {
        const auto it = macs.find(name);
        return it == macs.end() ? Answer<MacAddress>::failure(ENODEV)
                                : Answer<MacAddress>::success(it->second);
    }

    // Answers are used in order, one per query; the last one repeats.
    std::optional<WirelessAnswers> wireless(const std::string& name) override
    {
        const auto it = wirelessAnswers.find(name);
        if (it == wirelessAnswers.end() || it->second.empty())
            return std::nullopt;
        WirelessAnswers answers = it->second.front();
        if (it->second.size() > 1)
            it->second.pop_front();
        return answers;
    }

    int addressError = 0;
    int addressCalls = 0;
    std::vector<AddressEntry> entries;
    std::map<std::string, MacAddress> macs; // the others fail
    std::map<std::string, std::deque<WirelessAnswers>> wirelessAnswers;
};

// The record the laptop's associated Wi-Fi card gives.
inline InterfaceInfo labWifi()
{
    InterfaceInfo info;
    info.type = InterfaceType::Wifi;
    info.name = "wlan0";
    info.mac = "a4:c3:f0:11:22:33";
    info.ipv4 = {"192.168.1.20"};
    info.ipv6 = {"fe80::a6c3:f0ff:fe11:2233/64"};
    info.ssid = "lab";
    info.bssid = "00:11:22:33:44:55";
    info.rssi = -52;
    info.txrate = info.rxrate = 144400000;
    info.channel = 36;
    return info;
}

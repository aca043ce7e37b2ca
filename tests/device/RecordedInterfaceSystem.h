#pragma once

#include "device/InterfaceReader.h"
#include "device/InterfaceSource.h"
#include "device/InterfaceSystem.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>

// Answers recorded from real hosts (or made to look like them) in place of the system calls, so
// the reader's rules run without a Wi-Fi device.
class RecordedInterfaceSystem : public InterfaceSystem
{
public:
    static AddressEntry ipv4(const std::string& name, const char* address)
    {
        AddressEntry entry;
        entry.name = name;
        entry.family = AddressEntry::IPv4;
        inet_pton(AF_INET, address, entry.address);
        return entry;
    }

    static AddressEntry ipv6(const std::string& name, const char* address, int prefix)
    {
        AddressEntry entry;
        entry.name = name;
        entry.family = AddressEntry::IPv6;
        inet_pton(AF_INET6, address, entry.address);
        for (int bit = 0; bit < prefix && bit < 128; ++bit)
            entry.netmask[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        return entry;
    }

    static AddressEntry packet(const std::string& name)
    {
        AddressEntry entry;
        entry.name = name;
        entry.family = AddressEntry::Other;
        return entry;
    }

    static MacAddress mac(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                          std::uint8_t e, std::uint8_t f)
    {
        MacAddress m;
        const std::uint8_t bytes[6] = {a, b, c, d, e, f};
        std::copy(bytes, bytes + 6, m.bytes);
        return m;
    }

    // An associated Wi-Fi interface as a driver would report it.
    static WirelessAnswers associated(const std::string& ssid, double frequencyHz,
                                      std::uint8_t signal, std::int64_t bitRate)
    {
        WirelessAnswers answers;
        answers.ssid = Answer<std::string>::success(ssid);
        answers.bssid = Answer<MacAddress>::success(mac(0x00, 0x11, 0x22, 0x33, 0x44, 0x55));
        answers.frequencyHz = Answer<double>::success(frequencyHz);
        answers.signalLevel = Answer<std::uint8_t>::success(signal);
        answers.bitRate = Answer<std::int64_t>::success(bitRate);
        return answers;
    }

    int addresses(std::vector<AddressEntry>& out) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++addressCalls;
        if (addressError != 0)
            return addressError;
        out = entries;
        return 0;
    }

    Answer<MacAddress> hardwareAddress(const std::string& name) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = macs.find(name);
        if (it == macs.end())
            return Answer<MacAddress>::failure(19 /* ENODEV */);
        return it->second;
    }

    // Answers are used in order, one per query; the last one repeats.
    std::optional<WirelessAnswers> wireless(const std::string& name) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
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
    std::map<std::string, Answer<MacAddress>> macs;
    std::map<std::string, std::deque<WirelessAnswers>> wirelessAnswers;

private:
    std::mutex m_mutex;
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

// A laptop: loopback, a wired port whose hardware address cannot be read and an associated Wi-Fi
// card, each listed once per address, their entries interleaved.
inline void laptop(RecordedInterfaceSystem& system)
{
    using R = RecordedInterfaceSystem;
    system.entries = {
        R::packet("lo"),
        R::packet("eth0"),
        R::packet("wlan0"),
        R::ipv4("lo", "127.0.0.1"),
        R::ipv4("wlan0", "192.168.1.20"),
        R::ipv4("eth0", "10.1.2.3"),
        R::ipv6("lo", "::1", 128),
        R::ipv6("eth0", "2001:db8::1", 48),
        R::ipv6("wlan0", "fe80::a6c3:f0ff:fe11:2233", 64),
        R::ipv6("eth0", "fe80::1", 64),
    };
    system.macs["lo"] = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::success({});
    system.macs["wlan0"] = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::success(
        R::mac(0xa4, 0xc3, 0xf0, 0x11, 0x22, 0x33));
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xCC, 144400000)};
    // Loopback is never asked for wireless state.
    system.wirelessAnswers["lo"] = {R::associated("odd", 5180e6, 0xC9, 1)};
}

// An interface source reading a recorded system, counting its reads.
class RecordedInterfaceSource : public InterfaceSource
{
public:
    explicit RecordedInterfaceSource(RecordedInterfaceSystem& system) : m_system(system) {}
    std::vector<InterfaceInfo> readInterfaces() override
    {
        ++reads;
        return ::readInterfaces(m_system);
    }

    std::atomic<int> reads{0};

private:
    RecordedInterfaceSystem& m_system;
};

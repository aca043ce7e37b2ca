#include "device/InterfaceReader.h"
#include "RecordedInterfaceSystem.h"
#include "device/InterfaceJson.h"
#include "device/InterfaceSource.h"
#include "device/Nl80211Wireless.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

using Answers = InterfaceSystem::WirelessAnswers;
using R = RecordedInterfaceSystem;

// One wireless answer per address entry, in order. What an answer cannot tell keeps what the one
// before gave: a signal byte (signed dBm) of 0 or -127, a frequency that fails or lies outside the
// table, a rate of 0. A failed rate is -1; hertz are read as whole megahertz.
TEST(ReadInterfaces, LaterAnswersKeepWhatTheyCannotTell)
{
    const auto at = [](double hz, std::uint8_t signal, std::int64_t rate) {
        return R::associated("lab", hz, signal, rate);
    };
    Answers noFrequency = at(0, 0xC9, 1);
    noFrequency.frequencyHz = InterfaceSystem::Answer<double>::failure(EINVAL);
    Answers noRate = at(5180e6, 0xC9, 0);
    noRate.bitRate = InterfaceSystem::Answer<std::int64_t>::failure(EOPNOTSUPP);
    const struct
    {
        std::deque<Answers> answers;
        int rssi;
        int channel;
        std::int64_t rate;
    } cases[] = {
        {{at(5180e6, 0xC9, 1), at(5180e6, 0x00, 1), at(5180e6, 0x81, 1)}, -55, 36, 1},
        {{at(5180e6, 0x00, 1)}, -127, 36, 1},
        {{at(5180e6, 0xC9, 1), at(2412e6, 0xC9, 1)}, -55, 36, 1},
        {{at(5500e6, 0xC9, 1), noFrequency}, -55, 100, 1},
        {{at(5180.9e6, 0xC9, 1)}, -55, 36, 1},
        {{at(2412e6, 0xC9, 1)}, -55, -1, 1},
        {{at(5180e6, 0xC9, 54000000), noRate}, -55, 36, -1},
        {{at(5180e6, 0xC9, 54000000), at(5180e6, 0xC9, 0)}, -55, 36, 54000000},
        {{at(5180e6, 0xC9, 0)}, -55, 36, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        RecordedInterfaceSystem system;
        system.entries = {R::entry("wlan0"), R::entry("wlan0", "10.0.0.2"),
                          R::entry("wlan0", "fe80::2", 64)};
        system.wirelessAnswers["wlan0"] = c.answers;
        const InterfaceInfo info = readInterfaces(system).at(0);
        EXPECT_EQ(info.rssi, c.rssi);
        EXPECT_EQ(info.channel, c.channel);
        EXPECT_EQ(info.txrate, c.rate);
        EXPECT_EQ(info.rxrate, c.rate);
    }
}

// Failed wireless queries leave the defaults; they and a failed address list leave perror lines.
TEST(ReadInterfaces, FailedQueriesLeaveDefaultsAndPerrorLines)
{
    RecordedInterfaceSystem system;
    system.entries = {R::entry("wlan0")};
    Answers answers;
    answers.ssid = InterfaceSystem::Answer<std::string>::failure(ENOTCONN);
    answers.bssid = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::failure(ENOTCONN);
    answers.frequencyHz = InterfaceSystem::Answer<double>::failure(EINVAL);
    answers.signalLevel = InterfaceSystem::Answer<std::uint8_t>::failure(EOPNOTSUPP);
    answers.bitRate = InterfaceSystem::Answer<std::int64_t>::failure(EOPNOTSUPP);
    system.wirelessAnswers["wlan0"] = {answers};

    testing::internal::CaptureStderr();
    const auto list = readInterfaces(system);
    system.addressError = ENOMEM;
    EXPECT_TRUE(readInterfaces(system).empty());
    const std::string errors = testing::internal::GetCapturedStderr();

    InterfaceInfo defaults;
    defaults.type = InterfaceType::Wifi;
    defaults.name = "wlan0";
    EXPECT_EQ(interfacesJson(list), interfacesJson({defaults}));
    EXPECT_EQ(errors, "get_ssid: " + std::string(strerror(ENOTCONN)) + "\n" +
                          "get_bssid: " + std::string(strerror(ENOTCONN)) + "\n" +
                          "get_rssi: ioctl: " + std::string(strerror(EOPNOTSUPP)) + "\n" +
                          "getifaddrs: " + std::string(strerror(ENOMEM)) + "\n");
}

// What the monitors read when the hub asks for the network information.
TEST(HostInterfaces, LoopbackIsPresentWithItsAddress)
{
    const auto list = hostInterfaceSource().readInterfaces();
    const auto lo = std::find_if(list.begin(), list.end(),
                                 [](const InterfaceInfo& info) { return info.name == "lo"; });
    ASSERT_NE(lo, list.end());
    EXPECT_EQ(lo->type, InterfaceType::Loopback);
    EXPECT_EQ(lo->mac, "00:00:00:00:00:00");
    ASSERT_FALSE(lo->ipv4.empty());
    EXPECT_EQ(lo->ipv4.front(), "127.0.0.1");
    // Only a device the kernel lists as wireless is read as Wi-Fi. No name shows up twice.
    std::set<std::string> names;
    for (const InterfaceInfo& info : list) {
        EXPECT_TRUE(names.insert(info.name).second) << info.name;
        const std::string sys = "/sys/class/net/" + info.name;
        if (access((sys + "/wireless").c_str(), F_OK) != 0 &&
            access((sys + "/phy80211").c_str(), F_OK) != 0) {
            EXPECT_NE(info.type, InterfaceType::Wifi) << info.name;
        }
        if (info.name != "lo") {
            EXPECT_NE(info.type, InterfaceType::Loopback) << info.name;
        }
    }
    // This host's loopback is never an nl80211 interface, with or without cfg80211.
    EXPECT_FALSE(queryNl80211("lo").has_value());
    EXPECT_FALSE(queryNl80211("no-such-if").has_value());
}

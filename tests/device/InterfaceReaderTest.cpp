#include "device/InterfaceReader.h"
#include "RecordedInterfaceSystem.h"
#include "device/HostInterfaceSystem.h"
#include "device/InterfaceJson.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

using Answers = InterfaceSystem::WirelessAnswers;
using R = RecordedInterfaceSystem;

namespace {

const InterfaceInfo* find(const std::vector<InterfaceInfo>& list, const std::string& name)
{
    for (const InterfaceInfo& info : list) {
        if (info.name == name)
            return &info;
    }
    return nullptr;
}

// A laptop: loopback, a wired port and an associated Wi-Fi card, each listed once per address.
void laptop(RecordedInterfaceSystem& system)
{
    system.entries = {
        R::packet("lo"),
        R::packet("eth0"),
        R::packet("wlan0"),
        R::ipv4("lo", "127.0.0.1"),
        R::ipv4("wlan0", "192.168.1.20"),
        R::ipv6("lo", "::1", 128),
        R::ipv6("wlan0", "fe80::a6c3:f0ff:fe11:2233", 64),
    };
    system.macs["lo"] = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::success({});
    system.macs["eth0"] = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::success(
        R::mac(0x52, 0x54, 0x00, 0xab, 0xcd, 0xef));
    system.macs["wlan0"] = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::success(
        R::mac(0xa4, 0xc3, 0xf0, 0x11, 0x22, 0x33));
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xCC, 144400000)};
    // Loopback is never asked for wireless state.
    system.wirelessAnswers["lo"] = {R::associated("odd", 5180e6, 0xC9, 1)};
}

} // namespace

TEST(ReadInterfaces, OneRecordPerNameInOrderOfFirstAppearance)
{
    RecordedInterfaceSystem system;
    laptop(system);
    const auto list = readInterfaces(system);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "lo");
    EXPECT_EQ(list[1].name, "eth0");
    EXPECT_EQ(list[2].name, "wlan0");

    EXPECT_EQ(list[0].type, InterfaceType::Loopback);
    EXPECT_EQ(list[0].ipv4, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(list[0].ipv6, std::vector<std::string>{"::1/128"});
    EXPECT_EQ(list[0].ssid, "");
    EXPECT_EQ(list[1].type, InterfaceType::Ethernet);
    EXPECT_EQ(list[1].mac, "52:54:00:ab:cd:ef");
    EXPECT_TRUE(list[1].ipv4.empty());
    EXPECT_EQ(interfaceJson(list[2]), interfaceJson(labWifi()));
}

TEST(ReadInterfaces, InterfaceListedFourTimesIsOneRecord)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("eth1"), R::ipv4("eth1", "10.1.2.3"),
                      R::ipv6("eth1", "2001:db8::1", 48), R::ipv6("eth1", "fe80::1", 64)};
    const auto list = readInterfaces(system);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].ipv4.size(), 1u);
    EXPECT_EQ(list[0].ipv6, (std::vector<std::string>{"2001:db8::1/48", "fe80::1/64"}));
    // No recorded hardware address: the query failed.
    EXPECT_EQ(list[0].mac, "00:00:00:00:00:00");
}

// The signal byte is signed dBm; 0 and -127 keep the previous level.
TEST(ReadInterfaces, SignalOfZeroOrMinus127KeepsThePreviousLevel)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("wlan0"), R::ipv4("wlan0", "10.0.0.2"),
                      R::ipv6("wlan0", "fe80::2", 64)};
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 1000000),
                                       R::associated("lab", 5180e6, 0x00, 1000000),
                                       R::associated("lab", 5180e6, 0x81, 1000000)};
    EXPECT_EQ(readInterfaces(system)[0].rssi, -55);

    RecordedInterfaceSystem silent;
    silent.entries = {R::packet("wlan0")};
    silent.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0x00, 1000000)};
    EXPECT_EQ(readInterfaces(silent)[0].rssi, -127);
}

TEST(ReadInterfaces, FrequencyOutsideTheTableKeepsThePreviousChannel)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("wlan0"), R::ipv4("wlan0", "10.0.0.2")};
    Answers failing = R::associated("lab", 0, 0xC9, 1);
    failing.frequencyHz = InterfaceSystem::Answer<double>::failure(EINVAL);
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 1),
                                       R::associated("lab", 2412e6, 0xC9, 1)};
    EXPECT_EQ(readInterfaces(system)[0].channel, 36);

    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5500e6, 0xC9, 1), failing};
    EXPECT_EQ(readInterfaces(system)[0].channel, 100);
    // Hertz are read as whole megahertz; a first frequency outside the table gives -1.
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180.9e6, 0xC9, 1)};
    EXPECT_EQ(readInterfaces(system)[0].channel, 36);
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 2412e6, 0xC9, 1)};
    EXPECT_EQ(readInterfaces(system)[0].channel, -1);
}

TEST(ReadInterfaces, BitRateFailureGivesMinusOneAndZeroKeepsThePrevious)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("wlan0"), R::ipv4("wlan0", "10.0.0.2")};
    Answers failing = R::associated("lab", 5180e6, 0xC9, 0);
    failing.bitRate = InterfaceSystem::Answer<std::int64_t>::failure(EOPNOTSUPP);

    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 54000000), failing};
    EXPECT_EQ(readInterfaces(system)[0].txrate, -1);
    EXPECT_EQ(readInterfaces(system)[0].rxrate, -1);

    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 54000000),
                                       R::associated("lab", 5180e6, 0xC9, 0)};
    const auto list = readInterfaces(system);
    EXPECT_EQ(list[0].txrate, 54000000);
    EXPECT_EQ(list[0].rxrate, 54000000);

    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 0)};
    EXPECT_EQ(readInterfaces(system)[0].txrate, -1);
}

TEST(ReadInterfaces, FailedWirelessQueriesLeaveDefaultsAndPerrorLines)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("wlan0")};
    Answers answers;
    answers.ssid = InterfaceSystem::Answer<std::string>::failure(ENOTCONN);
    answers.bssid = InterfaceSystem::Answer<InterfaceSystem::MacAddress>::failure(ENOTCONN);
    answers.frequencyHz = InterfaceSystem::Answer<double>::failure(EINVAL);
    answers.signalLevel = InterfaceSystem::Answer<std::uint8_t>::failure(EOPNOTSUPP);
    answers.bitRate = InterfaceSystem::Answer<std::int64_t>::failure(EOPNOTSUPP);
    system.wirelessAnswers["wlan0"] = {answers};

    testing::internal::CaptureStderr();
    const auto list = readInterfaces(system);
    const std::string errors = testing::internal::GetCapturedStderr();

    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].type, InterfaceType::Wifi);
    EXPECT_EQ(list[0].ssid, "");
    EXPECT_EQ(list[0].bssid, "00:00:00:00:00:00");
    EXPECT_EQ(list[0].rssi, -127);
    EXPECT_EQ(list[0].channel, -1);
    EXPECT_EQ(list[0].txrate, -1);
    EXPECT_EQ(errors, "get_ssid: " + std::string(strerror(ENOTCONN)) + "\n" +
                          "get_bssid: " + std::string(strerror(ENOTCONN)) + "\n" +
                          "get_rssi: ioctl: " + std::string(strerror(EOPNOTSUPP)) + "\n");
}

TEST(ReadInterfaces, AddressListFailureGivesNoRecords)
{
    RecordedInterfaceSystem system;
    laptop(system);
    system.addressError = ENOMEM;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(readInterfaces(system).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "getifaddrs: " + std::string(strerror(ENOMEM)) + "\n");
}

TEST(HostInterfaces, LoopbackIsPresentWithItsAddress)
{
    const auto list = readInterfaces(hostInterfaceSystem());
    const InterfaceInfo* lo = find(list, "lo");
    ASSERT_NE(lo, nullptr);
    EXPECT_EQ(lo->type, InterfaceType::Loopback);
    EXPECT_EQ(lo->mac, "00:00:00:00:00:00");
    ASSERT_FALSE(lo->ipv4.empty());
    EXPECT_EQ(lo->ipv4.front(), "127.0.0.1");
    // Only a device the kernel lists as wireless is read as Wi-Fi.
    for (const InterfaceInfo& info : list) {
        const std::string sys = "/sys/class/net/" + info.name;
        if (access((sys + "/wireless").c_str(), F_OK) != 0 &&
            access((sys + "/phy80211").c_str(), F_OK) != 0) {
            EXPECT_NE(info.type, InterfaceType::Wifi) << info.name;
        }
        if (info.name != "lo") {
            EXPECT_NE(info.type, InterfaceType::Loopback) << info.name;
        }
    }
    // No name shows up twice.
    for (std::size_t i = 0; i < list.size(); ++i) {
        for (std::size_t j = i + 1; j < list.size(); ++j)
            EXPECT_NE(list[i].name, list[j].name);
    }
}

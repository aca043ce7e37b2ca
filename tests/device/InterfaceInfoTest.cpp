#include "InterfaceInfo.h"

#include <gtest/gtest.h>

TEST(FrequencyToChannel, FiveGigahertzEntriesMapToTheirChannel)
{
    EXPECT_EQ(frequencyToChannel(5160), 32);
    EXPECT_EQ(frequencyToChannel(5180), 36);
    EXPECT_EQ(frequencyToChannel(5320), 64);
    EXPECT_EQ(frequencyToChannel(5340), 68);
    EXPECT_EQ(frequencyToChannel(5480), 96);
    EXPECT_EQ(frequencyToChannel(5500), 100);
    EXPECT_EQ(frequencyToChannel(5640), 128);
    EXPECT_EQ(frequencyToChannel(5660), 132);
    EXPECT_EQ(frequencyToChannel(5720), 144);
    EXPECT_EQ(frequencyToChannel(5745), 149);
    EXPECT_EQ(frequencyToChannel(5805), 161);
    EXPECT_EQ(frequencyToChannel(5825), 165);
    EXPECT_EQ(frequencyToChannel(5845), 169);
    EXPECT_EQ(frequencyToChannel(5865), 173);
}

TEST(FrequencyToChannel, FourNineGigahertzEntriesCountFromFourThousand)
{
    EXPECT_EQ(frequencyToChannel(4915), 183);
    EXPECT_EQ(frequencyToChannel(4920), 184);
    EXPECT_EQ(frequencyToChannel(4925), 185);
    EXPECT_EQ(frequencyToChannel(4935), 187);
    EXPECT_EQ(frequencyToChannel(4940), 188);
    EXPECT_EQ(frequencyToChannel(4945), 189);
    EXPECT_EQ(frequencyToChannel(4960), 192);
    EXPECT_EQ(frequencyToChannel(4980), 196);
}

TEST(FrequencyToChannel, FrequenciesOutsideTheTableGiveMinusOne)
{
    EXPECT_EQ(frequencyToChannel(2412), -1);
    EXPECT_EQ(frequencyToChannel(2437), -1);
    EXPECT_EQ(frequencyToChannel(5650), -1);
    EXPECT_EQ(frequencyToChannel(5330), -1);
    EXPECT_EQ(frequencyToChannel(5735), -1);
    EXPECT_EQ(frequencyToChannel(5815), -1);
    EXPECT_EQ(frequencyToChannel(4930), -1);
    EXPECT_EQ(frequencyToChannel(0), -1);
    EXPECT_EQ(frequencyToChannel(-5180), -1);
}

TEST(FrequencyToChannel, TableHasExactlyFiftyNineFrequencies)
{
    int known = 0;
    for (int mhz = 2000; mhz <= 7000; ++mhz) {
        if (frequencyToChannel(mhz) > 0)
            ++known;
    }
    EXPECT_EQ(known, 59);
}

namespace {

int prefixOf(std::initializer_list<int> bytes)
{
    std::uint8_t mask[16] = {};
    int i = 0;
    for (int b : bytes)
        mask[i++] = static_cast<std::uint8_t>(b);
    return prefixLength(mask);
}

} // namespace

TEST(PrefixLength, CountsFullBytesThenTheFirstPartialOne)
{
    EXPECT_EQ(prefixOf({}), 0);
    EXPECT_EQ(prefixOf({255, 255, 255, 255, 255, 255, 255, 255}), 64);
    EXPECT_EQ(prefixOf({255, 255, 255, 255, 255, 255, 255, 254}), 63);
    EXPECT_EQ(prefixOf({255, 255, 255, 255, 255, 255, 255, 128}), 57);
    EXPECT_EQ(prefixOf({255, 255, 240}), 20);
    EXPECT_EQ(prefixOf({252}), 6);
    EXPECT_EQ(prefixOf({248}), 5);
    EXPECT_EQ(prefixOf({224}), 3);
    EXPECT_EQ(prefixOf({192}), 2);
    EXPECT_EQ(prefixOf({128}), 1);
}

TEST(PrefixLength, AllOnesIsOneHundredTwentyEight)
{
    EXPECT_EQ(
        prefixOf({255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}),
        128);
}

TEST(PrefixLength, StopsAtTheFirstByteBelowTwoHundredFiftyFive)
{
    // A non-contiguous byte adds nothing, and nothing after it counts.
    EXPECT_EQ(prefixOf({255, 170, 255, 255}), 8);
    EXPECT_EQ(prefixOf({255, 0, 255}), 8);
    EXPECT_EQ(prefixOf({255, 254, 255}), 15);
}

TEST(InterfaceInfo, DefaultsAreWhatTheHubGetsForAFailedQuery)
{
    const InterfaceInfo info;
    EXPECT_EQ(info.type, InterfaceType::Unknown);
    EXPECT_EQ(info.mac, "00:00:00:00:00:00");
    EXPECT_EQ(info.bssid, "00:00:00:00:00:00");
    EXPECT_EQ(info.rssi, -127);
    EXPECT_EQ(info.txrate, -1);
    EXPECT_EQ(info.rxrate, -1);
    EXPECT_EQ(info.channel, -1);
    EXPECT_TRUE(info.ssid.empty());
    EXPECT_TRUE(info.displayname.empty());
}

TEST(InterfaceInfo, TypeNames)
{
    EXPECT_STREQ(interfaceTypeName(InterfaceType::Unknown), "unknown");
    EXPECT_STREQ(interfaceTypeName(InterfaceType::Loopback), "loopback");
    EXPECT_STREQ(interfaceTypeName(InterfaceType::Ethernet), "ethernet");
    EXPECT_STREQ(interfaceTypeName(InterfaceType::Wifi), "wifi_ieee80211");
    EXPECT_STREQ(interfaceTypeName(static_cast<InterfaceType>(7)), "unknown");
}

TEST(InterfaceInfo, MacIsLowerCaseHex)
{
    const std::uint8_t bytes[6] = {0xA4, 0xC3, 0xF0, 0x01, 0x22, 0xFF};
    EXPECT_EQ(formatMac(bytes), "a4:c3:f0:01:22:ff");
}

TEST(WifiInterface, FirstWifiRecordThatIsNotAwdl)
{
    InterfaceInfo eth;
    eth.type = InterfaceType::Ethernet;
    eth.name = "eth0";
    InterfaceInfo awdl;
    awdl.type = InterfaceType::Wifi;
    awdl.name = "awdl0";
    awdl.ssid = "peer";
    InterfaceInfo wlan;
    wlan.type = InterfaceType::Wifi;
    wlan.name = "wlan0";
    wlan.ssid = "lab";
    InterfaceInfo wlan1 = wlan;
    wlan1.name = "wlan1";

    EXPECT_EQ(wifiInterface({eth, awdl, wlan, wlan1}).name, "wlan0");
    EXPECT_EQ(wifiInterface({eth, awdl, wlan, wlan1}).ssid, "lab");
}

TEST(WifiInterface, NoneGivesDefaultsWithEmptyName)
{
    InterfaceInfo eth;
    eth.type = InterfaceType::Ethernet;
    eth.name = "eth0";
    InterfaceInfo awdl;
    awdl.type = InterfaceType::Wifi;
    awdl.name = "awdl0";
    const InterfaceInfo none = wifiInterface({eth, awdl});
    EXPECT_TRUE(none.name.empty());
    EXPECT_EQ(none.type, InterfaceType::Unknown);
    EXPECT_EQ(none.bssid, "00:00:00:00:00:00");
    EXPECT_EQ(none.rssi, -127);
    EXPECT_TRUE(wifiInterface({}).name.empty());
}

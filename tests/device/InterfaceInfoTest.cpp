#include "device/InterfaceInfo.h"
#include "device/InterfaceJson.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

// 5 GHz entries map to their channel, 4.9 GHz ones count from 4000 MHz, anything else is -1;
// the table has exactly 59 frequencies.
TEST(FrequencyToChannel, TableEntriesAndNothingElse)
{
    const std::vector<std::pair<int, int>> cases = {
        {5160, 32},  {5180, 36},  {5320, 64},  {5340, 68},  {5480, 96},  {5500, 100}, {5640, 128},
        {5660, 132}, {5720, 144}, {5745, 149}, {5805, 161}, {5825, 165}, {5845, 169}, {5865, 173},
        {4915, 183}, {4920, 184}, {4925, 185}, {4935, 187}, {4940, 188}, {4945, 189}, {4960, 192},
        {4980, 196}, {2412, -1},  {2437, -1},  {5650, -1},  {5330, -1},  {5735, -1},  {5815, -1},
        {4930, -1},  {0, -1},     {-5180, -1}};
    for (const auto& [mhz, channel] : cases)
        EXPECT_EQ(frequencyToChannel(mhz), channel) << mhz;
    int known = 0;
    for (int mhz = 2000; mhz <= 7000; ++mhz)
        known += frequencyToChannel(mhz) > 0 ? 1 : 0;
    EXPECT_EQ(known, 59);
}

// Full bytes, then the first partial one; a non-contiguous byte adds nothing, and nothing after
// it counts.
TEST(PrefixLength, CountsFullBytesThenTheFirstPartialOne)
{
    const std::vector<std::pair<std::vector<int>, int>> cases = {
        {{}, 0},
        {std::vector<int>(8, 255), 64},
        {{255, 255, 255, 255, 255, 255, 255, 254}, 63},
        {{252}, 6},
        {std::vector<int>(16, 255), 128},
        {{255, 255, 240}, 20},
        {{128}, 1},
        {{255, 170, 255, 255}, 8},
        {{255, 0, 255}, 8},
        {{255, 254, 255}, 15}};
    for (const auto& [bytes, length] : cases) {
        std::uint8_t mask[16] = {};
        std::copy(bytes.begin(), bytes.end(), mask);
        EXPECT_EQ(prefixLength(mask), length) << length;
    }
}

// The first Wi-Fi record that is not Apple's peer-to-peer link; none gives the defaults.
TEST(WifiInterface, FirstWifiRecordThatIsNotAwdl)
{
    InterfaceInfo eth, awdl, wlan, wlan1;
    eth.type = InterfaceType::Ethernet;
    awdl.type = wlan.type = wlan1.type = InterfaceType::Wifi;
    awdl.name = "awdl0";
    wlan.name = "wlan0";
    wlan1.name = "wlan1";
    EXPECT_EQ(wifiInterface({eth, awdl, wlan, wlan1}).name, "wlan0");

    EXPECT_EQ(interfaceJson(wifiInterface({eth, awdl})), interfaceJson(InterfaceInfo()));
    EXPECT_STREQ(interfaceTypeName(static_cast<InterfaceType>(7)), "unknown");
}

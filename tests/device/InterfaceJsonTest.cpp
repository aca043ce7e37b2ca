#include "device/InterfaceJson.h"
#include "device/InterfaceInfo.h"

#include "JsonParse.h"
#include "RecordedInterfaceSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(InterfaceJson, RecordsAreWrittenByteForByte)
{
    InterfaceInfo wired;
    wired.type = InterfaceType::Ethernet;
    wired.name = "eth0";
    wired.displayname = "Wired";               // wins when set
    wired.ipv4 = {"10.0.0.1", "\"10.0.0.2\""}; // an address already quoted is kept as it is
    const std::string wiredText =
        "{\"type\": \"ethernet\",\"name\": \"eth0\",\"displayname\": \"Wired\","
        "\"mac\": \"00:00:00:00:00:00\",\"ipv4\": [\"10.0.0.1\", \"10.0.0.2\"],"
        "\"ipv6\": [],\"ssid\": \"\",\"bssid\": \"00:00:00:00:00:00\",\"rssi\": -127,"
        "\"txrate\":-1,\"rxrate\":-1,\"channel\":-1}";
    const std::string wifiText =
        "{\"type\": \"wifi_ieee80211\",\"name\": \"wlan0\",\"displayname\": \"wlan0\","
        "\"mac\": \"a4:c3:f0:11:22:33\",\"ipv4\": [\"192.168.1.20\"],"
        "\"ipv6\": [\"fe80::a6c3:f0ff:fe11:2233/64\"],\"ssid\": \"lab\","
        "\"bssid\": \"00:11:22:33:44:55\",\"rssi\": -52,\"txrate\":144400000,"
        "\"rxrate\":144400000,\"channel\":36}";
    EXPECT_EQ(interfacesJson({}), "[]");
    EXPECT_EQ(interfacesJson({wired, labWifi()}), "[" + wiredText + ", " + wifiText + "]");
    // The network information takes the SSID and BSSID of the Wi-Fi interface.
    EXPECT_EQ(networkInfoJson({}),
              "{ \"interfaces\": [], \"ssid\": \"\", \"bssid\": \"00:00:00:00:00:00\"}");
    EXPECT_EQ(networkInfoJson({wired, labWifi()}),
              "{ \"interfaces\": [" + wiredText + ", " + wifiText +
                  "], \"ssid\": \"lab\", \"bssid\": \"00:11:22:33:44:55\"}");
}

// A network name is whatever the access point announces: up to 32 arbitrary bytes. Control
// bytes are written as escapes.
TEST(InterfaceJsonEscaping, HostileSsidStillGivesValidJson)
{
    InterfaceInfo info = labWifi();
    info.ssid = std::string("a\"b\\c\x01\x1f\n\t\r", 10) + std::string(1, '\0') + "}";
    info.name = "we\"ird\\";
    info.displayname = "tab\there";
    EXPECT_NE(interfaceJson(info).find("\"ssid\": \"a\\\"b\\\\c\\u0001"), std::string::npos)
        << interfaceJson(info);

    const Json::Value network =
        testsupport::parsed(networkInfoJson({info, info})).value_or(Json::Value());
    ASSERT_TRUE(network.isObject()) << networkInfoJson({info});
    EXPECT_EQ(network["ssid"].asString(), info.ssid);
    EXPECT_EQ(network["interfaces"].size(), 2u);
    const Json::Value& record = network["interfaces"][1];
    EXPECT_EQ(record["ssid"].asString(), info.ssid);
    EXPECT_EQ(record["name"].asString(), info.name);
    EXPECT_EQ(record["displayname"].asString(), info.displayname);
    EXPECT_EQ(record["rssi"].asInt(), -52);
}

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
    InterfaceInfo eth, awdl = labWifi(), wlan1 = labWifi();
    eth.type = InterfaceType::Ethernet;
    awdl.name = "awdl0";
    wlan1.name = "wlan1";
    EXPECT_EQ(wifiInterface({eth, awdl, labWifi(), wlan1}).name, "wlan0");

    EXPECT_EQ(interfaceJson(wifiInterface({eth, awdl})), interfaceJson(InterfaceInfo()));
    EXPECT_STREQ(interfaceTypeName(static_cast<InterfaceType>(7)), "unknown");
}

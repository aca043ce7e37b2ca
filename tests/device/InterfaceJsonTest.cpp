#include "device/InterfaceJson.h"

#include "JsonParse.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

InterfaceInfo labWifi()
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
    info.txrate = 144400000;
    info.rxrate = 144400000;
    info.channel = 36;
    return info;
}

} // namespace

TEST(InterfaceJson, WifiRecordIsWrittenByteForByte)
{
    EXPECT_EQ(interfaceJson(labWifi()),
              "{\"type\": \"wifi_ieee80211\",\"name\": \"wlan0\",\"displayname\": \"wlan0\","
              "\"mac\": \"a4:c3:f0:11:22:33\",\"ipv4\": [\"192.168.1.20\"],"
              "\"ipv6\": [\"fe80::a6c3:f0ff:fe11:2233/64\"],\"ssid\": \"lab\","
              "\"bssid\": \"00:11:22:33:44:55\",\"rssi\": -52,\"txrate\":144400000,"
              "\"rxrate\":144400000,\"channel\":36}");
}

TEST(InterfaceJson, DisplayNameWinsWhenSetAndAddressesAreJoinedWithCommaBlank)
{
    InterfaceInfo info;
    info.type = InterfaceType::Ethernet;
    info.name = "eth0";
    info.displayname = "Wired";
    info.ipv4 = {"10.0.0.1", "10.0.0.2"};
    EXPECT_EQ(interfaceJson(info),
              "{\"type\": \"ethernet\",\"name\": \"eth0\",\"displayname\": \"Wired\","
              "\"mac\": \"00:00:00:00:00:00\",\"ipv4\": [\"10.0.0.1\", \"10.0.0.2\"],"
              "\"ipv6\": [],\"ssid\": \"\",\"bssid\": \"00:00:00:00:00:00\",\"rssi\": -127,"
              "\"txrate\":-1,\"rxrate\":-1,\"channel\":-1}");
}

TEST(InterfacesJson, RecordsJoinedWithCommaBlank)
{
    InterfaceInfo lo;
    lo.type = InterfaceType::Loopback;
    lo.name = "lo";
    EXPECT_EQ(interfacesJson({}), "[]");
    EXPECT_EQ(interfacesJson({lo}), "[" + interfaceJson(lo) + "]");
    EXPECT_EQ(interfacesJson({lo, labWifi()}),
              "[" + interfaceJson(lo) + ", " + interfaceJson(labWifi()) + "]");
}

TEST(NetworkInfoJson, TakesSsidAndBssidOfTheWifiInterface)
{
    EXPECT_EQ(networkInfoJson({}),
              "{ \"interfaces\": [], \"ssid\": \"\", \"bssid\": \"00:00:00:00:00:00\"}");
    InterfaceInfo eth;
    eth.type = InterfaceType::Ethernet;
    eth.name = "eth0";
    const std::vector<InterfaceInfo> list = {eth, labWifi()};
    EXPECT_EQ(networkInfoJson(list), "{ \"interfaces\": " + interfacesJson(list) +
                                         ", \"ssid\": \"lab\", \"bssid\": \"00:11:22:33:44:55\"}");
    Json::Value value;
    ASSERT_TRUE(testsupport::parses(networkInfoJson(list), &value));
    EXPECT_EQ(value["interfaces"].size(), 2u);
    EXPECT_EQ(value["interfaces"][1]["channel"].asInt(), 36);
}

// A network name is whatever the access point announces: up to 32 arbitrary bytes.
TEST(InterfaceJsonEscaping, HostileSsidStillGivesValidJson)
{
    InterfaceInfo info = labWifi();
    info.ssid = std::string("a\"b\\c\x01\x1f\n\t\r", 10) + std::string(1, '\0') + "}";
    info.name = "we\"ird\\";
    info.displayname = "tab\there";

    Json::Value record;
    ASSERT_TRUE(testsupport::parses(interfaceJson(info), &record)) << interfaceJson(info);
    EXPECT_EQ(record["ssid"].asString(), info.ssid);
    EXPECT_EQ(record["name"].asString(), info.name);
    EXPECT_EQ(record["displayname"].asString(), info.displayname);
    EXPECT_EQ(record["rssi"].asInt(), -52);

    Json::Value list;
    ASSERT_TRUE(testsupport::parses(interfacesJson({info, info}), &list));
    EXPECT_EQ(list.size(), 2u);

    Json::Value network;
    ASSERT_TRUE(testsupport::parses(networkInfoJson({info}), &network)) << networkInfoJson({info});
    EXPECT_EQ(network["ssid"].asString(), info.ssid);
    EXPECT_EQ(network["interfaces"][0]["ssid"].asString(), info.ssid);
}

// Control bytes are written as escapes; an address already quoted is kept as it is.
TEST(InterfaceJsonEscaping, ControlBytesAreEscapedAndQuotedAddressesKept)
{
    InterfaceInfo info;
    info.name = "x";
    info.ssid = std::string("\x01\"", 2);
    info.ipv4 = {"\"1.2.3.4\""};
    const std::string text = interfaceJson(info);
    EXPECT_NE(text.find("\"ssid\": \"\\u0001\\\"\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"ipv4\": [\"1.2.3.4\"]"), std::string::npos) << text;
}

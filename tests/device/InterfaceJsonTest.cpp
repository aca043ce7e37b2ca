#include "device/InterfaceJson.h"

#include "JsonParse.h"
#include "RecordedInterfaceSystem.h"

#include <gtest/gtest.h>

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

    Json::Value network;
    ASSERT_TRUE(testsupport::parses(networkInfoJson({info, info}), &network))
        << networkInfoJson({info});
    EXPECT_EQ(network["ssid"].asString(), info.ssid);
    EXPECT_EQ(network["interfaces"].size(), 2u);
    const Json::Value& record = network["interfaces"][1];
    EXPECT_EQ(record["ssid"].asString(), info.ssid);
    EXPECT_EQ(record["name"].asString(), info.name);
    EXPECT_EQ(record["displayname"].asString(), info.displayname);
    EXPECT_EQ(record["rssi"].asInt(), -52);
}

#include "RvpAddress.h"

#include <gtest/gtest.h>

using roamnode::parseRvpAddress;

TEST(RvpAddress, HostWithoutPortKeepsTheDefault)
{
    const auto address = parseRvpAddress("hub.example.net");
    EXPECT_EQ(address.host, "hub.example.net");
    EXPECT_EQ(address.port, 9100);
}

TEST(RvpAddress, HostAndPort)
{
    const auto name = parseRvpAddress("hub.example.net:9200");
    EXPECT_EQ(name.host, "hub.example.net");
    EXPECT_EQ(name.port, 9200);
    const auto v4 = parseRvpAddress("192.0.2.7:65535");
    EXPECT_EQ(v4.host, "192.0.2.7");
    EXPECT_EQ(v4.port, 65535);
}

TEST(RvpAddress, BracketedIpv6)
{
    const auto withPort = parseRvpAddress("[2001:db8::1]:9300");
    EXPECT_EQ(withPort.host, "2001:db8::1");
    EXPECT_EQ(withPort.port, 9300);
    const auto withoutPort = parseRvpAddress("[::1]");
    EXPECT_EQ(withoutPort.host, "::1");
    EXPECT_EQ(withoutPort.port, 9100);
}

TEST(RvpAddress, BareIpv6KeepsEveryColon)
{
    const auto address = parseRvpAddress("2001:db8::1");
    EXPECT_EQ(address.host, "2001:db8::1");
    EXPECT_EQ(address.port, 9100);
    const auto loopback = parseRvpAddress("::1");
    EXPECT_EQ(loopback.host, "::1");
    EXPECT_EQ(loopback.port, 9100);
}

TEST(RvpAddress, InvalidPortsLeaveTheTextWhole)
{
    for (const char* text :
         {"hub:", "hub:0", "hub:65536", "hub:12a", "hub:-1", "hub:123456", ":9100"}) {
        const auto address = parseRvpAddress(text);
        EXPECT_EQ(address.host, text) << text;
        EXPECT_EQ(address.port, 9100) << text;
    }
    const auto badBracket = parseRvpAddress("[::1]:x");
    EXPECT_EQ(badBracket.host, "[::1]:x");
    EXPECT_EQ(badBracket.port, 9100);
    const auto unclosed = parseRvpAddress("[::1");
    EXPECT_EQ(unclosed.host, "[::1");
    EXPECT_EQ(unclosed.port, 9100);
}

TEST(RvpAddress, EmptyText)
{
    const auto address = parseRvpAddress("");
    EXPECT_EQ(address.host, "");
    EXPECT_EQ(address.port, 9100);
}

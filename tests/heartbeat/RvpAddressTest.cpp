#include "heartbeat/RvpAddress.h"

#include <gtest/gtest.h>

TEST(RvpAddress, HostAndPortFromTheText)
{
    const struct
    {
        const char* text;
        std::string host;
        std::uint16_t port;
    } cases[] = {
        {"hub.example.net", "hub.example.net", 9100},
        {"hub.example.net:9200", "hub.example.net", 9200},
        {"192.0.2.7:65535", "192.0.2.7", 65535},
        {"[2001:db8::1]:9300", "2001:db8::1", 9300},
        {"[::1]", "::1", 9100},
        // A bare IPv6 address keeps every colon.
        {"2001:db8::1", "2001:db8::1", 9100},
        {"::1", "::1", 9100},
        {"", "", 9100},
        // Invalid ports leave the text whole.
        {"hub:", "hub:", 9100},
        {"hub:0", "hub:0", 9100},
        {"hub:65536", "hub:65536", 9100},
        {"hub:12a", "hub:12a", 9100},
        {"hub:-1", "hub:-1", 9100},
        {"hub:123456", "hub:123456", 9100},
        {":9100", ":9100", 9100},
        {"[::1]:x", "[::1]:x", 9100},
        {"[::1", "[::1", 9100},
    };
    for (const auto& c : cases) {
        const auto address = roamnode::parseRvpAddress(c.text);
        EXPECT_EQ(address.host, c.host) << c.text;
        EXPECT_EQ(address.port, c.port) << c.text;
    }
}

#include "RecordedInterfaceSystem.h"
#include "device/InterfaceJson.h"
#include "device/Nl80211Wireless.h"

#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/msg.h>

#include <gtest/gtest.h>

#include <cerrno>

using R = RecordedInterfaceSystem;

namespace {

// One reply as the kernel would send it, without the generic netlink header.
class Reply
{
public:
    Reply() : m_message(nlmsg_alloc()) {}
    ~Reply() { nlmsg_free(m_message); }

    nl_msg* message() { return m_message; }
    nlattr* head() { return nlmsg_attrdata(nlmsg_hdr(m_message), 0); }
    int length() { return nlmsg_attrlen(nlmsg_hdr(m_message), 0); }
    // What one of the decoding steps reads from this reply alone.
    template <typename Facts> Facts read(void (*step)(nlattr*, int, Facts&))
    {
        Facts facts;
        step(head(), length(), facts);
        return facts;
    }

private:
    nl_msg* m_message;
};

void putNetwork(Reply& reply, std::uint32_t status, std::uint32_t mhz,
                const std::vector<std::uint8_t>& elements)
{
    nlattr* bss = nla_nest_start(reply.message(), NL80211_ATTR_BSS);
    nla_put(reply.message(), NL80211_BSS_BSSID, 6, "\x00\x11\x22\x33\x44\x55");
    nla_put_u32(reply.message(), NL80211_BSS_FREQUENCY, mhz);
    if (!elements.empty())
        nla_put(reply.message(), NL80211_BSS_INFORMATION_ELEMENTS,
                static_cast<int>(elements.size()), elements.data());
    if (status != 0xffffffffu)
        nla_put_u32(reply.message(), NL80211_BSS_STATUS, status);
    nla_nest_end(reply.message(), bss);
}

void putStation(Reply& reply, std::uint8_t signal, int rateAttribute, std::uint32_t units)
{
    nlattr* info = nla_nest_start(reply.message(), NL80211_ATTR_STA_INFO);
    nla_put_u8(reply.message(), NL80211_STA_INFO_SIGNAL, signal);
    nlattr* rate = nla_nest_start(reply.message(), NL80211_STA_INFO_TX_BITRATE);
    if (rateAttribute == NL80211_RATE_INFO_BITRATE32)
        nla_put_u32(reply.message(), NL80211_RATE_INFO_BITRATE32, units);
    else if (rateAttribute == NL80211_RATE_INFO_BITRATE)
        nla_put_u16(reply.message(), NL80211_RATE_INFO_BITRATE, static_cast<std::uint16_t>(units));
    nla_nest_end(reply.message(), rate);
    nla_nest_end(reply.message(), info);
}

} // namespace

TEST(Nl80211Decoding, InterfaceReplyGivesSsidAndFrequency)
{
    // The SSID and frequency of a full reply are the laptop's (below); a name is taken whole.
    Reply reply;
    nla_put(reply.message(), NL80211_ATTR_SSID, 4, "la\0b");
    EXPECT_EQ(reply.read(nl80211::readInterface).ssid, std::string("la\0b", 4));
    Reply bare;
    nla_put_u32(bare.message(), NL80211_ATTR_IFINDEX, 3);
    const auto none = bare.read(nl80211::readInterface);
    EXPECT_TRUE(none.seen);
    EXPECT_FALSE(none.hasSsid);
    EXPECT_EQ(none.frequencyMhz, 0u);
}

TEST(Nl80211Decoding, ScanDumpPicksTheAssociatedNetwork)
{
    Reply other;
    putNetwork(other, 0xffffffffu, 2412, {0, 5, 'o', 't', 'h', 'e', 'r'});
    Reply joined;
    putNetwork(joined, NL80211_BSS_STATUS_ASSOCIATED, 5500,
               {1, 2, 0x82, 0x84, 0, 3, 'l', 'a', 'b'});

    nl80211::NetworkFacts facts;
    nl80211::readNetwork(other.head(), other.length(), facts);
    EXPECT_FALSE(facts.associated);
    nl80211::readNetwork(joined.head(), joined.length(), facts);
    ASSERT_TRUE(facts.associated);
    EXPECT_EQ(formatMac(facts.bssid.bytes), "00:11:22:33:44:55");
    EXPECT_EQ(facts.frequencyMhz, 5500u);
    EXPECT_EQ(facts.ssid, "lab");
    // Information elements cut short are not read past their end.
    for (const std::vector<std::uint8_t>& elements :
         std::vector<std::vector<std::uint8_t>>{{1, 2, 0x82, 0x84, 0, 30, 'l', 'a'}, {7}, {0, 0}})
        EXPECT_EQ(nl80211::ssidElement(elements.data(), static_cast<int>(elements.size())), "")
            << elements.size();
}

// The rate comes in units of 100 kbit/s, in 32 bits or (older drivers) 16.
TEST(Nl80211Decoding, StationGivesSignalByteAndRateInBitsPerSecond)
{
    const struct
    {
        int attribute;
        std::uint32_t units;
        bool hasRate;
        std::int64_t rate;
    } cases[] = {{NL80211_RATE_INFO_BITRATE, 540, true, 54000000}, {0, 0, false, 0}};
    for (const auto& c : cases) {
        Reply reply;
        putStation(reply, 0xC9, c.attribute, c.units);
        const auto facts = reply.read(nl80211::readStation);
        EXPECT_TRUE(facts.hasSignal);
        EXPECT_EQ(facts.signal, 0xC9);
        EXPECT_EQ(facts.hasRate, c.hasRate) << c.units;
        EXPECT_EQ(facts.rate, c.rate) << c.units;
    }
}

// Not associated reads like the wireless extensions; a failed scan fails SSID and BSSID (unless
// the interface knows its SSID), a failed station query the signal and the rate.
TEST(Nl80211Answers, FailuresFailTheAnswersTheyFeed)
{
    nl80211::InterfaceFacts interface;
    interface.seen = true;
    const auto alone = nl80211::answersFrom(interface, 0, {}, 0, {});
    EXPECT_TRUE(alone.ssid.ok && alone.bssid.ok);
    EXPECT_EQ(alone.ssid.value, "");
    EXPECT_EQ(formatMac(alone.bssid.value.bytes), "00:00:00:00:00:00");
    EXPECT_FALSE(alone.frequencyHz.ok || alone.signalLevel.ok || alone.bitRate.ok);
    EXPECT_EQ(alone.signalLevel.error, ENOTCONN);

    const auto noScan = nl80211::answersFrom(interface, EPERM, {}, 0, {});
    EXPECT_FALSE(noScan.ssid.ok || noScan.bssid.ok);
    EXPECT_EQ(noScan.ssid.error, EPERM);

    nl80211::NetworkFacts network;
    network.associated = true;
    const auto noStation = nl80211::answersFrom(interface, 0, network, ENOENT, {});
    EXPECT_EQ(noStation.signalLevel.error, ENOENT);
    EXPECT_EQ(noStation.bitRate.error, ENOENT);

    interface.hasSsid = true;
    interface.ssid = "lab";
    EXPECT_TRUE(nl80211::answersFrom(interface, EPERM, {}, 0, {}).ssid.ok);
}

// From the kernel's replies to the hub's records. A laptop lists its loopback, a wired port whose
// hardware address cannot be read and an associated Wi-Fi card once per address, interleaved: one
// record each, in order of first appearance. Loopback is never asked for wireless state.
TEST(Nl80211Answers, LaptopGivesOneRecordPerInterfaceInOrder)
{
    Reply interfaceReply;
    nla_put(interfaceReply.message(), NL80211_ATTR_SSID, 3, "lab");
    nla_put_u32(interfaceReply.message(), NL80211_ATTR_WIPHY_FREQ, 5180);
    Reply networkReply;
    // The interface's SSID and frequency win over the scan's.
    putNetwork(networkReply, NL80211_BSS_STATUS_ASSOCIATED, 5500, {0, 4, 's', 'c', 'a', 'n'});
    Reply stationReply;
    putStation(stationReply, 0xCC, NL80211_RATE_INFO_BITRATE32, 1444);

    RecordedInterfaceSystem system;
    system.entries = {R::entry("lo"),
                      R::entry("eth0"),
                      R::entry("wlan0"),
                      R::entry("lo", "127.0.0.1"),
                      R::entry("wlan0", "192.168.1.20"),
                      R::entry("eth0", "10.1.2.3"),
                      R::entry("lo", "::1", 128),
                      R::entry("eth0", "2001:db8::1", 48),
                      R::entry("wlan0", "fe80::a6c3:f0ff:fe11:2233", 64),
                      R::entry("eth0", "fe80::1", 64)};
    system.macs["lo"] = {};
    system.macs["wlan0"] = {{0xa4, 0xc3, 0xf0, 0x11, 0x22, 0x33}};
    system.wirelessAnswers["wlan0"] = {nl80211::answersFrom(
        interfaceReply.read(nl80211::readInterface), 0, networkReply.read(nl80211::readNetwork), 0,
        stationReply.read(nl80211::readStation))};
    system.wirelessAnswers["lo"] = {R::associated("odd", 5180e6, 0xC9, 1)};

    InterfaceInfo lo, eth0;
    lo.type = InterfaceType::Loopback;
    lo.name = "lo";
    lo.ipv4 = {"127.0.0.1"};
    lo.ipv6 = {"::1/128"};
    eth0.type = InterfaceType::Ethernet;
    eth0.name = "eth0";
    eth0.ipv4 = {"10.1.2.3"};
    eth0.ipv6 = {"2001:db8::1/48", "fe80::1/64"};
    EXPECT_EQ(interfacesJson(readInterfaces(system)), interfacesJson({lo, eth0, labWifi()}));
}

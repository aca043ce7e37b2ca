#include "device/Nl80211Wireless.h"

#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using WirelessAnswers = InterfaceSystem::WirelessAnswers;
using MacAddress = InterfaceSystem::MacAddress;
template <typename T> using Answer = InterfaceSystem::Answer<T>;
using AttributeHandler = std::function<void(nlattr* attributes, int length)>;

constexpr std::uint8_t kSsidElement = 0;

struct SocketDeleter
{
    void operator()(nl_sock* socket) const { nl_socket_free(socket); }
};

struct MessageDeleter
{
    void operator()(nl_msg* message) const { nlmsg_free(message); }
};

struct CallbackDeleter
{
    void operator()(nl_cb* callback) const { nl_cb_put(callback); }
};

// Attributes come from the kernel, but a short one must still not be read past its end.
bool readU32(const nlattr* attribute, std::uint32_t& value)
{
    if (!attribute || nla_len(attribute) < 4)
        return false;
    value = nla_get_u32(const_cast<nlattr*>(attribute));
    return true;
}

// Status of one request: 1 while replies are expected, 0 when done, -errno from the kernel.
struct RequestState
{
    int status = 1;
    const AttributeHandler* handler = nullptr;
};

int onValid(nl_msg* message, void* argument)
{
    auto* state = static_cast<RequestState*>(argument);
    auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(message)));
    (*state->handler)(genlmsg_attrdata(header, 0), genlmsg_attrlen(header, 0));
    return NL_SKIP;
}

int onFinish(nl_msg*, void* argument)
{
    static_cast<RequestState*>(argument)->status = 0;
    return NL_SKIP;
}

int onAck(nl_msg*, void* argument)
{
    static_cast<RequestState*>(argument)->status = 0;
    return NL_STOP;
}

int onError(sockaddr_nl*, nlmsgerr* error, void* argument)
{
    static_cast<RequestState*>(argument)->status = error->error < 0 ? error->error : -EIO;
    return NL_STOP;
}

class Nl80211Session
{
public:
    bool open()
    {
        m_socket.reset(nl_socket_alloc());
        if (!m_socket || genl_connect(m_socket.get()) < 0)
            return false;
        timeval timeout{1, 0};
        setsockopt(nl_socket_get_fd(m_socket.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout,
                   sizeof timeout);
        m_family = genl_ctrl_resolve(m_socket.get(), "nl80211");
        return m_family >= 0;
    }

    // Sends one request about the interface and hands every reply's attributes to the handler.
    // Returns 0 or an errno value.
    int request(std::uint8_t command, int flags, unsigned ifindex, const MacAddress* station,
                const AttributeHandler& handler)
    {
        std::unique_ptr<nl_msg, MessageDeleter> message(nlmsg_alloc());
        if (!message)
            return ENOMEM;
        if (!genlmsg_put(message.get(), NL_AUTO_PORT, NL_AUTO_SEQ, m_family, 0, flags, command,
                         0) ||
            nla_put_u32(message.get(), NL80211_ATTR_IFINDEX, ifindex) < 0)
            return ENOBUFS;
        if (station && nla_put(message.get(), NL80211_ATTR_MAC, 6, station->bytes) < 0)
            return ENOBUFS;

        std::unique_ptr<nl_cb, CallbackDeleter> callbacks(nl_cb_alloc(NL_CB_DEFAULT));
        if (!callbacks)
            return ENOMEM;
        RequestState state;
        state.handler = &handler;
        nl_cb_set(callbacks.get(), NL_CB_VALID, NL_CB_CUSTOM, onValid, &state);
        nl_cb_set(callbacks.get(), NL_CB_FINISH, NL_CB_CUSTOM, onFinish, &state);
        nl_cb_set(callbacks.get(), NL_CB_ACK, NL_CB_CUSTOM, onAck, &state);
        nl_cb_err(callbacks.get(), NL_CB_CUSTOM, onError, &state);

        if (nl_send_auto(m_socket.get(), message.get()) < 0)
            return EIO;
        // Bounded by the receive timeout: a read that times out ends the request.
        while (state.status > 0) {
            if (nl_recvmsgs(m_socket.get(), callbacks.get()) < 0)
                break;
        }
        if (state.status < 0)
            return -state.status;
        return state.status == 0 ? 0 : ETIMEDOUT;
    }

private:
    std::unique_ptr<nl_sock, SocketDeleter> m_socket;
    int m_family = -1;
};

} // namespace

namespace nl80211 {

std::string ssidElement(const std::uint8_t* elements, int length)
{
    for (int at = 0; at + 2 <= length;) {
        const std::uint8_t id = elements[at];
        const std::uint8_t size = elements[at + 1];
        if (at + 2 + size > length)
            break;
        if (id == kSsidElement)
            return std::string(reinterpret_cast<const char*>(elements + at + 2), size);
        at += 2 + size;
    }
    return {};
}

void readInterface(nlattr* head, int length, InterfaceFacts& facts)
{
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (nla_parse(attributes, NL80211_ATTR_MAX, head, length, nullptr) != 0)
        return;
    facts.seen = true;
    if (const nlattr* ssid = attributes[NL80211_ATTR_SSID]) {
        facts.hasSsid = true;
        facts.ssid.assign(static_cast<const char*>(nla_data(ssid)), nla_len(ssid));
    }
    readU32(attributes[NL80211_ATTR_WIPHY_FREQ], facts.frequencyMhz);
}

void readNetwork(nlattr* head, int length, NetworkFacts& facts)
{
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (facts.associated || nla_parse(attributes, NL80211_ATTR_MAX, head, length, nullptr) != 0 ||
        !attributes[NL80211_ATTR_BSS])
        return;
    nlattr* bss[NL80211_BSS_MAX + 1] = {};
    if (nla_parse_nested(bss, NL80211_BSS_MAX, attributes[NL80211_ATTR_BSS], nullptr) != 0)
        return;
    std::uint32_t status = 0;
    if (!readU32(bss[NL80211_BSS_STATUS], status) ||
        (status != NL80211_BSS_STATUS_ASSOCIATED && status != NL80211_BSS_STATUS_IBSS_JOINED))
        return;
    if (!bss[NL80211_BSS_BSSID] || nla_len(bss[NL80211_BSS_BSSID]) < 6)
        return;
    facts.associated = true;
    std::memcpy(facts.bssid.bytes, nla_data(bss[NL80211_BSS_BSSID]), 6);
    readU32(bss[NL80211_BSS_FREQUENCY], facts.frequencyMhz);
    if (const nlattr* elements = bss[NL80211_BSS_INFORMATION_ELEMENTS])
        facts.ssid =
            ssidElement(static_cast<const std::uint8_t*>(nla_data(elements)), nla_len(elements));
}

void readStation(nlattr* head, int length, StationFacts& facts)
{
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (nla_parse(attributes, NL80211_ATTR_MAX, head, length, nullptr) != 0 ||
        !attributes[NL80211_ATTR_STA_INFO])
        return;
    nlattr* info[NL80211_STA_INFO_MAX + 1] = {};
    if (nla_parse_nested(info, NL80211_STA_INFO_MAX, attributes[NL80211_ATTR_STA_INFO], nullptr) !=
        0)
        return;
    if (info[NL80211_STA_INFO_SIGNAL] && nla_len(info[NL80211_STA_INFO_SIGNAL]) >= 1) {
        facts.hasSignal = true;
        facts.signal = nla_get_u8(info[NL80211_STA_INFO_SIGNAL]);
    }
    if (!info[NL80211_STA_INFO_TX_BITRATE])
        return;
    nlattr* rate[NL80211_RATE_INFO_MAX + 1] = {};
    if (nla_parse_nested(rate, NL80211_RATE_INFO_MAX, info[NL80211_STA_INFO_TX_BITRATE], nullptr) !=
        0)
        return;
    // Both carry units of 100 kbit/s; the 32-bit one exists because rates outgrew 16 bits.
    std::uint32_t units = 0;
    if (readU32(rate[NL80211_RATE_INFO_BITRATE32], units)) {
        facts.hasRate = true;
    } else if (rate[NL80211_RATE_INFO_BITRATE] && nla_len(rate[NL80211_RATE_INFO_BITRATE]) >= 2) {
        units = nla_get_u16(rate[NL80211_RATE_INFO_BITRATE]);
        facts.hasRate = true;
    }
    facts.rate = static_cast<std::int64_t>(units) * 100000;
}

WirelessAnswers answersFrom(const InterfaceFacts& interface, int scanError,
                            const NetworkFacts& network, int stationError,
                            const StationFacts& station)
{
    WirelessAnswers answers;
    if (interface.hasSsid)
        answers.ssid = Answer<std::string>::success(interface.ssid);
    else if (scanError != 0)
        answers.ssid = Answer<std::string>::failure(scanError);
    else
        answers.ssid = Answer<std::string>::success(network.ssid);

    if (scanError != 0)
        answers.bssid = Answer<MacAddress>::failure(scanError);
    else
        answers.bssid = Answer<MacAddress>::success(network.bssid);

    const std::uint32_t mhz =
        interface.frequencyMhz ? interface.frequencyMhz : network.frequencyMhz;
    if (mhz != 0)
        answers.frequencyHz = Answer<double>::success(mhz * 1000000.0);
    else
        answers.frequencyHz = Answer<double>::failure(EINVAL);

    // Signal and rate are those of the access point's station entry.
    const int error = !network.associated ? ENOTCONN : stationError;
    if (error != 0) {
        answers.signalLevel = Answer<std::uint8_t>::failure(error);
        answers.bitRate = Answer<std::int64_t>::failure(error);
        return answers;
    }
    answers.signalLevel =
        Answer<std::uint8_t>::success(station.hasSignal ? station.signal : std::uint8_t{0});
    if (station.hasRate)
        answers.bitRate = Answer<std::int64_t>::success(station.rate);
    else
        answers.bitRate = Answer<std::int64_t>::failure(EOPNOTSUPP);
    return answers;
}

} // namespace nl80211

std::optional<WirelessAnswers> queryNl80211(const std::string& name)
{
    const unsigned ifindex = if_nametoindex(name.c_str());
    if (ifindex == 0)
        return std::nullopt;
    Nl80211Session session;
    if (!session.open())
        return std::nullopt;

    // 1. An interface nl80211 does not know is not a wireless one.
    nl80211::InterfaceFacts interface;
    const AttributeHandler onInterface = [&](nlattr* head, int length) {
        nl80211::readInterface(head, length, interface);
    };
    if (session.request(NL80211_CMD_GET_INTERFACE, 0, ifindex, nullptr, onInterface) != 0 ||
        !interface.seen)
        return std::nullopt;

    // 2. The associated network is the scan entry marked as such.
    nl80211::NetworkFacts network;
    const AttributeHandler onNetwork = [&](nlattr* head, int length) {
        nl80211::readNetwork(head, length, network);
    };
    const int scanError =
        session.request(NL80211_CMD_GET_SCAN, NLM_F_DUMP, ifindex, nullptr, onNetwork);

    // 3. The access point's station entry, when associated.
    nl80211::StationFacts station;
    int stationError = 0;
    if (network.associated) {
        const AttributeHandler onStation = [&](nlattr* head, int length) {
            nl80211::readStation(head, length, station);
        };
        stationError =
            session.request(NL80211_CMD_GET_STATION, 0, ifindex, &network.bssid, onStation);
    }
    return nl80211::answersFrom(interface, scanError, network, stationError, station);
}

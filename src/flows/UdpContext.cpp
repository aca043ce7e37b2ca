#include "UdpContext.h"

#include <QtGlobal>

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <map>

using boost::asio::ip::udp;

namespace {

// Family (AF_INET, AF_INET6) -> local port -> context. Entries expire with their context; the
// release removes them, and `get` replaces an expired one it finds.
using Registry = std::map<int, std::map<std::uint16_t, std::weak_ptr<UdpContext>>>;

Registry& registry()
{
    static Registry contexts;
    return contexts;
}

// `get` runs on the main thread and the release on the run thread; they are not meant to overlap,
// and the lock makes sure of it.
std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string portText(int family, std::uint16_t port)
{
    return std::string(family == AF_INET6 ? "IPv6 UDP port " : "UDP port ") + std::to_string(port);
}

[[noreturn]] void throwInvalid(const std::string& what)
{
    throw boost::system::system_error(
        boost::system::error_code(EINVAL, boost::system::system_category()), what);
}

} // namespace

std::shared_ptr<UdpContext> UdpContext::get(bool ipv6, std::uint16_t port)
{
    const int family = ipv6 ? AF_INET6 : AF_INET;
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& ports = registry()[family];
    const auto found = ports.find(port);
    if (found != ports.end()) {
        if (auto live = found->second.lock())
            return live;
    }
    std::shared_ptr<UdpContext> context(new UdpContext(family, port), &UdpContext::release);
    ports[port] = context;
    return context;
}

UdpContext::UdpContext(int family, std::uint16_t port)
    : m_family(family), m_registeredPort(port), m_work(boost::asio::make_work_guard(m_eventLoop)),
      m_socket(m_eventLoop)
{
    const udp protocol = family == AF_INET6 ? udp::v6() : udp::v4();
    const std::string where = portText(family, port);
    boost::system::error_code ec;
    m_socket.open(protocol, ec);
    if (ec)
        throw boost::system::system_error(ec, "open " + where);
    if (family == AF_INET6) {
        // The registry keeps the families apart, so an IPv6 context must not also take the IPv4
        // port of the same number (Linux binds IPv6 sockets dual-stack by default).
        m_socket.set_option(boost::asio::ip::v6_only(true), ec);
        if (ec)
            throw boost::system::system_error(ec, "set_option IPV6_V6ONLY on " + where);
    }
    m_socket.non_blocking(true, ec);
    if (ec)
        throw boost::system::system_error(ec, "non_blocking " + where);
    // No SO_REUSEADDR: a port that another socket holds must fail here, not share traffic.
    m_socket.bind(udp::endpoint(protocol, port), ec);
    if (ec)
        throw boost::system::system_error(ec, "bind " + where);
    const udp::endpoint local = m_socket.local_endpoint(ec);
    if (ec)
        throw boost::system::system_error(ec, "local_endpoint " + where);
    m_localPort = local.port();
}

UdpContext::~UdpContext()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_startLock);
        thread = std::move(m_thread);
    }
    if (thread.joinable()) {
        // The socket is closed on the loop's own thread because a handler may be sending on it
        // right now; the stop lets the loop drop whatever is still queued.
        boost::asio::post(m_eventLoop, [this] {
            boost::system::error_code ignored;
            m_socket.close(ignored);
            m_eventLoop.stop();
        });
        m_work.reset();
        thread.join();
    }
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

void UdpContext::release(UdpContext* context)
{
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        auto family = registry().find(context->m_family);
        if (family != registry().end()) {
            // A context made for port 0 is registered under 0, not under the port it got.
            for (const std::uint16_t port : {context->m_registeredPort, context->m_localPort}) {
                const auto entry = family->second.find(port);
                if (entry != family->second.end() && entry->second.expired())
                    family->second.erase(entry);
            }
        }
    }
    if (context->m_eventLoop.get_executor().running_in_this_thread()) {
        // The last holder let go inside one of this loop's handlers: the thread cannot join
        // itself. Free the port now and leave the join to a helper that waits for the handler.
        boost::system::error_code ignored;
        context->m_socket.close(ignored);
        context->m_eventLoop.stop();
        std::thread([context] { delete context; }).detach();
        return;
    }
    delete context;
}

void UdpContext::start()
{
    std::lock_guard<std::mutex> lock(m_startLock);
    if (m_started)
        return;
    m_started = true;
    m_thread = std::thread([this] { runLoop(); });
}

void UdpContext::runLoop()
{
    // A listener that throws must not take the whole process down with this thread.
    for (;;) {
        try {
            m_eventLoop.run();
            return;
        } catch (const std::exception& e) {
            qWarning("UdpContext: handler failed on %s: %s",
                     portText(m_family, m_localPort).c_str(), e.what());
        }
    }
}

udp::endpoint UdpContext::makeEndpoint(bool ipv6, const std::string& text, std::uint16_t port,
                                       const char* role)
{
    boost::system::error_code ec;
    boost::asio::ip::address address = boost::asio::ip::make_address_v6(text, ec);
    if (ec) {
        address = boost::asio::ip::make_address_v4(text, ec);
        if (ec)
            throwInvalid(std::string("invalid ") + role + " address '" + text + "'");
    }
    // An address of the other family could never be sent to (or come in) on this socket.
    if (address.is_v6() != ipv6)
        throwInvalid(std::string(role) + " address '" + text + "' is not " +
                     (ipv6 ? "IPv6" : "IPv4"));
    return udp::endpoint(address, port);
}

bool UdpContext::isExpectedSender(const udp::endpoint& expected, const udp::endpoint& sender)
{
    const auto& want = expected.address();
    const auto& got = sender.address();
    if (want.is_v4()) {
        if (!got.is_v4() || want.to_v4().to_bytes() != got.to_v4().to_bytes())
            return false;
    } else {
        if (!got.is_v6())
            return false;
        const auto want6 = want.to_v6();
        const auto got6 = got.to_v6();
        if (want6.to_bytes() != got6.to_bytes() || want6.scope_id() != got6.scope_id())
            return false;
    }
    return expected.port() == sender.port();
}

#include "flows/UdpContext.h"

#include "flows/WarningLimiter.h"

#include <QtGlobal>

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>

#include <sys/prctl.h>

using boost::asio::ip::udp;

namespace {

// Family (AF_INET, AF_INET6) -> local port -> context. Entries expire with their context; the
// release removes them, and `get` replaces an expired one it finds.
using Registry = std::map<int, std::map<std::uint16_t, std::weak_ptr<UdpContext>>>;

// Never destroyed: a context released by a thread that outlives main (a test's, or a stop that
// failed to join) must still find the registry whole during static destruction.
Registry& registry()
{
    static Registry* const contexts = new Registry;
    return *contexts;
}

// `get` runs on the main thread and the release on the run thread; they are not meant to overlap,
// and the lock makes sure of it.
std::mutex& registryMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

std::string portText(int family, std::uint16_t port)
{
    return std::string(family == AF_INET6 ? "IPv6 UDP port " : "UDP port ") + std::to_string(port);
}

// Batches taken in one turn of the loop before the other handlers of the loop (streams sending
// from this port, window timers) get their turn.
constexpr int kBatchesPerTurn = 4;

// Asks for a buffer of `bytes`; the forcing option passes net.core.rmem_max/wmem_max when the
// process may (CAP_NET_ADMIN, which the service has), the plain one is clamped to them. Returns
// what the kernel granted (it reports twice the usable size).
int requestBuffer(int socket, int forceOption, int option, int bytes)
{
    if (::setsockopt(socket, SOL_SOCKET, forceOption, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(socket, SOL_SOCKET, option, &bytes, sizeof(bytes));
    int granted = 0;
    socklen_t length = sizeof(granted);
    if (::getsockopt(socket, SOL_SOCKET, option, &granted, &length) != 0)
        return 0;
    return granted / 2;
}

// Once per process: a small buffer is a setting of the host, not of one flow.
void warnSmallBuffer(const char* which, const char* sysctl, int granted)
{
    static std::atomic<bool> warned{false};
    if (warned.exchange(true))
        return;
    qWarning("UdpContext: %s buffer of %d bytes granted where %d were asked; frames may be lost "
             "at high rates (raise %s to %d)",
             which, granted, UdpContext::kSocketBufferBytes, sysctl,
             UdpContext::kSocketBufferBytes);
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
    setSocketOptions();
}

void UdpContext::setSocketOptions()
{
    const int fd = m_socket.native_handle();
    const int received = requestBuffer(fd, SO_RCVBUFFORCE, SO_RCVBUF, kSocketBufferBytes);
    if (received < kSocketBufferBytes)
        warnSmallBuffer("receive", "net.core.rmem_max", received);
    const int sent = requestBuffer(fd, SO_SNDBUFFORCE, SO_SNDBUF, kSocketBufferBytes);
    if (sent < kSocketBufferBytes)
        warnSmallBuffer("send", "net.core.wmem_max", sent);
    // Without stamps the receive time falls back to the clock read after each batch.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
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
    // Timers of this loop pace streams to the microsecond; the default 50 us of slack that the
    // kernel may add to every wake-up would show up as lateness of every frame.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // A listener that throws must not take the whole process down with this thread; one that
    // throws for every datagram must not fill the log either.
    WarningLimiter failures;
    for (;;) {
        try {
            m_eventLoop.run();
            return;
        } catch (const std::exception& e) {
            failures.warn([&] {
                return "UdpContext: handler failed on " + portText(m_family, m_localPort) + ": " +
                       e.what();
            });
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

void UdpContext::addSink(const udp::endpoint& expectedSender, const std::weak_ptr<Sink>& sink)
{
    if (!m_batch)
        m_batch = DatagramBatch::create();
    if (!m_batch) {
        if (auto held = sink.lock())
            held->onReceiveError(
                boost::system::error_code(ENOMEM, boost::system::system_category()));
        return;
    }
    m_sinks.push_back(SinkEntry{expectedSender, sink});
    m_live.reserve(m_sinks.size());
    // What is queued already may have been reported ready before anyone waited: take it first.
    onReadable();
}

void UdpContext::removeSink(const Sink* sink)
{
    m_sinks.erase(std::remove_if(m_sinks.begin(), m_sinks.end(),
                                 [sink](const SinkEntry& entry) {
                                     const auto held = entry.sink.lock();
                                     return !held || held.get() == sink;
                                 }),
                  m_sinks.end());
}

void UdpContext::receiveQueued()
{
    // Bounded by what the socket buffer holds: the batches take datagrams far faster than
    // loopback can queue them.
    while (receiveBatch()) {
    }
}

void UdpContext::armReceive()
{
    if (m_waitPending || m_sinks.empty())
        return;
    m_waitPending = true;
    // The loop's epoll reports datagrams that arrive from now on. This is armed only after a
    // receive found the queue empty, so nothing that arrived before is left waiting.
    m_socket.async_wait(udp::socket::wait_read, [this](const boost::system::error_code& ec) {
        m_waitPending = false;
        if (ec == boost::asio::error::operation_aborted)
            return;
        onReadable();
    });
}

void UdpContext::onReadable()
{
    for (int i = 0; i < kBatchesPerTurn; ++i) {
        if (!receiveBatch()) {
            armReceive();
            return;
        }
    }
    // More may be queued: come back after the loop's other handlers, without waiting for a
    // readiness report that does not come for datagrams already there.
    if (m_sinks.empty() || m_continuationPending)
        return;
    m_continuationPending = true;
    boost::asio::post(m_eventLoop, [this] {
        m_continuationPending = false;
        onReadable();
    });
}

bool UdpContext::receiveBatch()
{
    if (m_sinks.empty())
        return false;
    boost::system::error_code ec;
    const std::size_t taken = m_batch->receive(m_socket.native_handle(), ec);
    if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again)
        return false;
    if (ec) {
        failSinks(ec);
        return false;
    }
    dispatch();
    return taken == DatagramBatch::kCapacity;
}

void UdpContext::dispatch()
{
    m_live.clear();
    for (const SinkEntry& entry : m_sinks) {
        if (auto sink = entry.sink.lock())
            m_live.push_back(LiveSink{entry.expectedSender, std::move(sink)});
    }
    // A trigger destroyed without being stopped leaves an expired entry behind.
    if (m_live.size() != m_sinks.size())
        removeSink(nullptr);
    for (std::size_t i = 0; i < m_batch->size(); ++i) {
        const DatagramBatch::Datagram datagram = m_batch->at(i);
        for (const LiveSink& live : m_live) {
            if (isExpectedSender(live.expectedSender, datagram.sender)) {
                live.sink->onDatagram(datagram);
                break;
            }
        }
    }
    // A trigger that went away during the batch is freed here, not kept until the next one.
    m_live.clear();
}

void UdpContext::failSinks(const boost::system::error_code& error)
{
    std::vector<SinkEntry> failed;
    failed.swap(m_sinks);
    for (const SinkEntry& entry : failed) {
        if (auto sink = entry.sink.lock())
            sink->onReceiveError(error);
    }
}

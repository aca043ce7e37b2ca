#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <sys/socket.h>

// One bound UDP socket with the event loop and the thread that serve it. Every stream and trigger
// of the same address family and local port shares one context, found through a process-wide
// registry; a context lives as long as some engine holds it.
//
// Threads: `get` and the release of the last holder run on the main thread or the scenario run
// thread; the release closes the socket on the context's thread and joins it (a release that
// happens on the context's own thread hands the join to a helper thread). The socket and every
// timer bound to `eventLoop()` are used by handlers on the context's thread; other threads only
// post to the loop, arm their own timers before their first handler can run, and set the TOS
// option (a plain setsockopt, safe beside a send).
class UdpContext
{
public:
    UdpContext(const UdpContext&) = delete;
    UdpContext& operator=(const UdpContext&) = delete;

    // The live context of (family, port), or a new one bound to the any-address and port (0 lets
    // the system choose). Throws boost::system::system_error ("bind UDP port 5000: ...") when the
    // socket cannot be opened or bound.
    static std::shared_ptr<UdpContext> get(bool ipv6, std::uint16_t port);

    // Starts the thread that runs the event loop; later calls do nothing. The loop keeps running
    // until the context is released, so engines that join a started context are still served.
    void start();

    boost::asio::io_context& eventLoop() { return m_eventLoop; }
    boost::asio::ip::udp::socket& socket() { return m_socket; }
    bool ipv6() const { return m_family == AF_INET6; }
    // The port actually bound (the system's choice for port 0).
    std::uint16_t localPort() const { return m_localPort; }

    // Parses an address text as IPv6 (with an optional "%" scope) and then as IPv4, and refuses a
    // text of the other family than the engine's socket. Throws boost::system::system_error with
    // invalid argument (code 22) naming `role` ("destination", "source") and the text.
    static boost::asio::ip::udp::endpoint makeEndpoint(bool ipv6, const std::string& text,
                                                       std::uint16_t port, const char* role);

    // A trigger counts a datagram only from its expected sender: same family, same address (and
    // the same scope id for IPv6), same port.
    static bool isExpectedSender(const boost::asio::ip::udp::endpoint& expected,
                                 const boost::asio::ip::udp::endpoint& sender);

private:
    UdpContext(int family, std::uint16_t port);
    ~UdpContext();

    // The deleter of every shared pointer that `get` hands out.
    static void release(UdpContext* context);
    void runLoop();

    int m_family;
    std::uint16_t m_registeredPort;
    std::uint16_t m_localPort = 0;
    boost::asio::io_context m_eventLoop;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work;
    boost::asio::ip::udp::socket m_socket;
    std::thread m_thread;
    std::mutex m_startLock; // guards m_started and m_thread
    bool m_started = false;
};

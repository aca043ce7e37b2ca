#pragma once

#include "flows/DatagramBatch.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>

// One bound UDP socket with the event loop and the thread that serve it. Every stream and trigger
// of the same address family and local port shares one context, found through a process-wide
// registry; a context lives as long as some engine holds it.
//
// The socket asks for 4 MiB receive and send buffers, so a burst that arrives while the thread is
// busy waits in the kernel instead of being dropped, and for kernel receive stamps. Triggers do
// not receive for themselves: they register as sinks, and the context takes the datagrams off
// the socket in batches and hands each one to the sink that expects its sender.
//
// Threads: `get` and the release of the last holder run on the main thread or the scenario run
// thread; the release closes the socket on the context's thread and joins it (a release that
// happens on the context's own thread hands the join to a helper thread). The socket, the sinks
// and every timer bound to `eventLoop()` are used by handlers on the context's thread; other
// threads only post to the loop, arm their own timers before their first handler can run, and
// set the TOS option (a plain setsockopt, safe beside a send).
class UdpContext
{
public:
    // The receive and send buffer each socket asks for.
    static constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

    // A trigger's share of the socket: the datagrams of one expected sender. Called on the
    // context's thread.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void onDatagram(const DatagramBatch::Datagram& datagram) = 0;
        // Receiving on the socket failed; the sink has been removed and gets nothing more.
        virtual void onReceiveError(const boost::system::error_code& error) = 0;
    };

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

    // Context's thread only. Datagrams from `expectedSender` go to the sink until it is removed or
    // gone; when two sinks expect the same sender, the one added first gets them. A datagram that
    // no sink expects is dropped.
    void addSink(const boost::asio::ip::udp::endpoint& expectedSender,
                 const std::weak_ptr<Sink>& sink);
    // Removes the sink, and every entry whose sink is gone.
    void removeSink(const Sink* sink);
    // Context's thread only: hands out at once every datagram already queued on the socket, so
    // that a receive window that ends counts what arrived before its end.
    void receiveQueued();

private:
    UdpContext(int family, std::uint16_t port);
    ~UdpContext();

    struct SinkEntry
    {
        boost::asio::ip::udp::endpoint expectedSender;
        std::weak_ptr<Sink> sink;
    };
    struct LiveSink
    {
        boost::asio::ip::udp::endpoint expectedSender;
        std::shared_ptr<Sink> sink;
    };

    // The deleter of every shared pointer that `get` hands out.
    static void release(UdpContext* context);
    void runLoop();
    void setSocketOptions();

    void armReceive();
    void onReadable();
    // One batch off the socket, handed out. False when the queue was seen empty or receiving
    // failed: then there is nothing more to take until the socket is readable again.
    bool receiveBatch();
    void dispatch();
    void failSinks(const boost::system::error_code& error);

    int m_family;
    std::uint16_t m_registeredPort;
    std::uint16_t m_localPort = 0;
    boost::asio::io_context m_eventLoop;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work;
    boost::asio::ip::udp::socket m_socket;
    std::thread m_thread;
    std::mutex m_startLock; // guards m_started and m_thread
    bool m_started = false;

    // Receiving, all on the context's thread.
    std::vector<SinkEntry> m_sinks;
    std::vector<LiveSink> m_live;           // the sinks locked for the batch being handed out
    std::unique_ptr<DatagramBatch> m_batch; // made with the first sink: streams need none
    bool m_waitPending = false;             // a readiness wait is armed
    bool m_continuationPending = false;     // more batches are queued on the loop
};

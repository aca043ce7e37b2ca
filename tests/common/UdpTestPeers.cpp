#include "UdpTestPeers.h"

#include <boost/asio/post.hpp>

#include <gtest/gtest.h>

#include <future>

#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

using boost::asio::ip::udp;

namespace udptest {

void StreamRecorder::expectCompleteOrEndedLate(std::size_t count, std::int64_t before,
                                               std::int64_t gap)
{
    const std::size_t sent = frames().size();
    EXPECT_LE(sent, count);
    if (sent == count) {
        EXPECT_EQ(failure(), "");
        return;
    }
    const std::int64_t endTime =
        before + static_cast<std::int64_t>(count) * gap + Stream::kEndGraceNs;
    EXPECT_GT(finishedAt(), endTime) << sent << " of " << count << " frames sent";
    EXPECT_EQ(failure(), "sent " + std::to_string(sent) + " of " + std::to_string(count) +
                             " frames by the end of the stream");
}

Peer::Peer(bool ipv6) : m_ipv6(ipv6), m_socket(m_io)
{
    const auto loopback = ipv6 ? boost::asio::ip::address(boost::asio::ip::address_v6::loopback())
                               : boost::asio::ip::address(boost::asio::ip::address_v4::loopback());
    m_socket.open(ipv6 ? udp::v6() : udp::v4());
    m_socket.bind(udp::endpoint(loopback, 0));
    m_socket.non_blocking(true);
    // Room for a whole catch-up burst without a reader draining it meanwhile.
    boost::system::error_code ignored;
    m_socket.set_option(boost::asio::socket_base::receive_buffer_size(4 * 1024 * 1024), ignored);
}

std::uint16_t Peer::port() const
{
    return m_socket.local_endpoint().port();
}

void Peer::sendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes)
{
    const auto loopback = m_ipv6
                              ? boost::asio::ip::address(boost::asio::ip::address_v6::loopback())
                              : boost::asio::ip::address(boost::asio::ip::address_v4::loopback());
    m_socket.send_to(boost::asio::buffer(bytes), udp::endpoint(loopback, port));
}

std::optional<Peer::Datagram> Peer::receive(std::chrono::milliseconds timeout)
{
    pollfd fd{m_socket.native_handle(), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0)
        return std::nullopt;
    Datagram datagram;
    datagram.bytes.resize(65536);
    boost::system::error_code ec;
    const std::size_t n =
        m_socket.receive_from(boost::asio::buffer(datagram.bytes), datagram.sender, 0, ec);
    if (ec)
        return std::nullopt;
    datagram.bytes.resize(n);
    return datagram;
}

std::size_t Peer::pending()
{
    std::size_t count = 0;
    while (receive(0ms))
        ++count;
    return count;
}

LoopStall::LoopStall(UdpContext& context)
{
    auto held = m_release.get_future().share();
    boost::asio::post(context.eventLoop(), [entered = m_held, held] {
        entered->set_value();
        held.wait_for(10s);
    });
}

bool LoopStall::waitHeld()
{
    return m_held->get_future().wait_for(5s) == std::future_status::ready;
}

void LoopStall::releaseAt(std::int64_t ns)
{
    std::this_thread::sleep_until(roamnode::fromNanoseconds(ns));
    release();
}

void LoopStall::release()
{
    if (!m_released.exchange(true))
        m_release.set_value();
}

bool handOutQueued(UdpContext& context)
{
    auto reached = std::make_shared<std::promise<void>>();
    auto done = reached->get_future();
    boost::asio::post(context.eventLoop(), [&context, reached] {
        context.receiveQueued();
        reached->set_value();
    });
    return done.wait_for(5s) == std::future_status::ready;
}

PrivateNetwork::PrivateNetwork()
{
    m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_home < 0 || ::unshare(CLONE_NEWNET) != 0) {
        m_why = "no network namespace of our own (needs root)";
        return;
    }
    m_ready = run("ip link set lo up");
    if (!m_ready)
        m_why = "'ip link set lo up' failed in the new namespace";
}

PrivateNetwork::~PrivateNetwork()
{
    if (m_home >= 0) {
        // The namespace goes with the last socket in it.
        if (::setns(m_home, CLONE_NEWNET) != 0)
            ADD_FAILURE() << "could not return to the test's network namespace";
        ::close(m_home);
    }
}

bool PrivateNetwork::run(const std::string& command)
{
    // The child inherits this thread's namespace.
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return status == 0;
}

std::shared_ptr<UdpContext> runningContext(bool ipv6, std::uint16_t port)
{
    auto context = UdpContext::get(ipv6, port);
    context->start();
    std::promise<void> ran;
    auto done = ran.get_future();
    boost::asio::post(context->eventLoop(), [&ran] { ran.set_value(); });
    done.wait_for(5s);
    return context;
}

} // namespace udptest

#include "Trigger.h"

#include "UdpContext.h"

#include <QtGlobal>

#include <boost/asio/post.hpp>
#include <boost/asio/system_timer.hpp>

#include <array>
#include <atomic>
#include <limits>

using boost::asio::ip::udp;

namespace {

constexpr std::size_t kReceiveBufferBytes = 16384;
constexpr std::uint64_t kTimeTagBytes = 8;

// Where a receive lands. The pending receive owns it, not the receiver: the kernel may fill it
// after the Trigger is gone, while another engine keeps the shared socket open.
struct Inbox
{
    std::array<std::uint8_t, kReceiveBufferBytes> data;
    udp::endpoint sender;
};

std::int64_t windowDeadline(std::int64_t now, std::uint64_t duration)
{
    const auto room = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - now);
    return duration >= room ? std::numeric_limits<std::int64_t>::max()
                            : now + static_cast<std::int64_t>(duration);
}

// The state the receive and window handlers work on; they hold it weakly and lock it for one run.
class Receiver : public std::enable_shared_from_this<Receiver>
{
public:
    Receiver(UdpContext& context, udp::endpoint expectedSource,
             const std::shared_ptr<Trigger::Listener>& listener, const Trigger::Config& config)
        : m_context(context), m_expectedSource(std::move(expectedSource)),
          m_inbox(std::make_shared<Inbox>()), m_timer(context.eventLoop()), m_listener(listener),
          m_config(config)
    {
    }

    void start();
    void stop();

private:
    void arm_receive();
    void on_data_received(const boost::system::error_code& ec, std::size_t bytes);
    void on_window_end(const boost::system::error_code& ec);
    std::uint64_t readTimeTag(std::size_t bytes) const;

    UdpContext& m_context;
    udp::endpoint m_expectedSource;
    std::shared_ptr<Inbox> m_inbox;
    boost::asio::system_timer m_timer;
    std::weak_ptr<Trigger::Listener> m_listener;
    Trigger::Config m_config;
    // Written by stop() on the run thread, read by the handlers on the context's thread.
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};
};

void Receiver::start()
{
    const std::int64_t now = roamnode::nowNanoseconds();
    // Running before anything is armed: on a context that already runs, a handler can come
    // before start() returns.
    m_running = true;
    std::weak_ptr<Receiver> weak = shared_from_this();
    m_timer.expires_at(roamnode::fromNanoseconds(windowDeadline(now, m_config.receiveDuration)));
    m_timer.async_wait([weak](const boost::system::error_code& ec) {
        if (auto self = weak.lock())
            self->on_window_end(ec);
    });
    // The socket may be in use by the loop's thread already (a stream on the same port); the
    // first receive is armed there too.
    boost::asio::post(m_context.eventLoop(), [weak] {
        if (auto self = weak.lock())
            self->arm_receive();
    });
    m_context.start();
}

void Receiver::stop()
{
    m_stopped = true;
    m_running = false;
    std::weak_ptr<Receiver> weak = shared_from_this();
    boost::asio::post(m_context.eventLoop(), [weak] {
        if (auto self = weak.lock())
            self->m_timer.cancel();
    });
    if (auto listener = m_listener.lock())
        listener->onFinished();
}

void Receiver::arm_receive()
{
    if (!m_running)
        return;
    std::weak_ptr<Receiver> weak = shared_from_this();
    std::shared_ptr<Inbox> inbox = m_inbox;
    m_context.socket().async_receive_from(
        boost::asio::buffer(inbox->data), inbox->sender,
        [weak, inbox](const boost::system::error_code& ec, std::size_t bytes) {
            if (ec == boost::asio::error::operation_aborted)
                return;
            if (auto self = weak.lock())
                self->on_data_received(ec, bytes);
        });
}

std::uint64_t Receiver::readTimeTag(std::size_t bytes) const
{
    const std::uint64_t position = m_config.latencyPosition;
    // The tag must lie wholly inside the datagram; a position below 8 would read past its end.
    if (position < kTimeTagBytes || position > kReceiveBufferBytes ||
        bytes < position + kTimeTagBytes)
        return 0;
    const std::uint8_t* at = m_inbox->data.data() + (bytes - position);
    std::uint64_t tag = 0;
    for (std::size_t i = 0; i < kTimeTagBytes; ++i)
        tag |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return tag;
}

void Receiver::on_data_received(const boost::system::error_code& ec, std::size_t bytes)
{
    const std::int64_t now = roamnode::nowNanoseconds();
    // After an error or an empty datagram this trigger arms no further receive: it counts
    // nothing more in this run, and its window timer still reports the end.
    if (ec) {
        qWarning("%s", ("Trigger::on_data_received: error " + ec.message() + " (code " +
                        std::to_string(ec.value()) + ")")
                           .c_str());
        return;
    }
    if (bytes == 0) {
        qWarning("Trigger::on_data_received: error no bytes received");
        return;
    }
    if (!m_running)
        return;
    if (!UdpContext::isExpectedSender(m_expectedSource, m_inbox->sender)) {
        arm_receive();
        return;
    }

    if (m_config.latencyOn) {
        const std::uint64_t tag = readTimeTag(bytes);
        // The next receive is armed before the listener works, so the two overlap.
        arm_receive();
        // Wrapping arithmetic: a foreign or corrupt tag gives a wrong latency, never undefined
        // behaviour.
        const std::uint64_t sent =
            tag * 10 - static_cast<std::uint64_t>(m_config.latencyTimeOffset);
        const auto latency = static_cast<std::int64_t>(static_cast<std::uint64_t>(now) - sent);
        if (auto listener = m_listener.lock())
            listener->onFrameReceivedWithLatency(roamnode::fromNanoseconds(now), bytes, latency);
        return;
    }
    arm_receive();
    if (auto listener = m_listener.lock())
        listener->onFrameReceived(roamnode::fromNanoseconds(now), bytes);
}

void Receiver::on_window_end(const boost::system::error_code& ec)
{
    m_running = false;
    // A cancelled window, or one that stop() has reported already, reports nothing.
    if (ec == boost::asio::error::operation_aborted || m_stopped)
        return;
    m_timer.cancel();
    if (auto listener = m_listener.lock())
        listener->onFinished();
}

} // namespace

// The receiver is declared after the context so that it (and its timer) goes first.
class Trigger::Impl
{
public:
    std::shared_ptr<UdpContext> context;
    std::shared_ptr<Receiver> receiver;
    bool started = false;
};

Trigger::Trigger(const std::shared_ptr<Listener>& listener, const Config& config)
    : m_impl(std::make_unique<Impl>())
{
    const bool ipv6 = config.ipv6 != 0;
    // Parse first: a bad address must not leave a bound socket behind.
    udp::endpoint expectedSource =
        UdpContext::makeEndpoint(ipv6, config.source, config.srcPort, "source");
    m_impl->context = UdpContext::get(ipv6, config.dstPort);
    m_impl->receiver =
        std::make_shared<Receiver>(*m_impl->context, std::move(expectedSource), listener, config);
}

Trigger::~Trigger()
{
    // A receive still pending keeps only its inbox; the handler finds no receiver and stops.
    m_impl->receiver.reset();
    m_impl->context.reset();
}

void Trigger::start()
{
    if (m_impl->started)
        return;
    m_impl->started = true;
    m_impl->receiver->start();
}

void Trigger::stop()
{
    m_impl->receiver->stop();
}

#include "flows/Trigger.h"

#include "bus/TimePoint.h"
#include "flows/UdpContext.h"
#include "flows/WarningLimiter.h"

#include <QtGlobal>

#include <boost/asio/post.hpp>
#include <boost/asio/system_timer.hpp>

#include <atomic>
#include <limits>

using boost::asio::ip::udp;

namespace {

constexpr std::uint64_t kTimeTagBytes = 8;

std::int64_t windowDeadline(std::int64_t now, std::uint64_t duration)
{
    return roamnode::saturatingAdd(now, roamnode::saturatingSigned(duration));
}

// The state the context's dispatch and the window timer work on. The context holds it weakly as
// a sink, the handlers lock it for one run, so nothing reaches it after the Trigger is gone.
class Receiver : public UdpContext::Sink, public std::enable_shared_from_this<Receiver>
{
public:
    Receiver(UdpContext& context, udp::endpoint expectedSource,
             const std::shared_ptr<Trigger::Listener>& listener, const Trigger::Config& config)
        : m_context(context), m_expectedSource(std::move(expectedSource)),
          m_timer(context.eventLoop()), m_listener(listener), m_config(config)
    {
    }

    void start();
    void stop();

    void onDatagram(const DatagramBatch::Datagram& datagram) override;
    void onReceiveError(const boost::system::error_code& ec) override;

private:
    void on_window_end(const boost::system::error_code& ec);
    std::uint64_t readTimeTag(const DatagramBatch::Datagram& datagram) const;

    UdpContext& m_context;
    udp::endpoint m_expectedSource;
    boost::asio::system_timer m_timer;
    std::weak_ptr<Trigger::Listener> m_listener;
    Trigger::Config m_config;
    std::int64_t m_deadline = 0; // set before anything is armed, then only read
    // Context's thread only: false once a receive error ended counting.
    bool m_counting = true;
    // Any peer can send empty datagrams from the expected address, as many as it likes.
    WarningLimiter m_emptyWarnings;
    // Written by stop() on the run thread, read by the handlers on the context's thread.
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};
};

void Receiver::start()
{
    m_deadline = windowDeadline(roamnode::nowNanoseconds(), m_config.receiveDuration);
    // Running before anything is armed: on a context that already runs, a handler can come
    // before start() returns.
    m_running = true;
    std::weak_ptr<Receiver> weak = shared_from_this();
    m_timer.expires_at(roamnode::fromNanoseconds(m_deadline));
    m_timer.async_wait([weak](const boost::system::error_code& ec) {
        if (auto self = weak.lock())
            self->on_window_end(ec);
    });
    // The sinks belong to the context's thread, which may be running already (a stream on the
    // same port).
    boost::asio::post(m_context.eventLoop(), [weak] {
        auto self = weak.lock();
        if (self && self->m_running)
            self->m_context.addSink(self->m_expectedSource, self);
    });
    m_context.start();
}

void Receiver::stop()
{
    m_stopped = true;
    m_running = false;
    std::weak_ptr<Receiver> weak = shared_from_this();
    boost::asio::post(m_context.eventLoop(), [weak] {
        if (auto self = weak.lock()) {
            self->m_timer.cancel();
            self->m_context.removeSink(self.get());
        }
    });
    if (auto listener = m_listener.lock())
        listener->onFinished();
}

std::uint64_t Receiver::readTimeTag(const DatagramBatch::Datagram& datagram) const
{
    const std::uint64_t position = m_config.latencyPosition;
    // The tag must lie wholly inside the datagram; a position below 8 would read past its end.
    if (position < kTimeTagBytes || position > DatagramBatch::kDatagramBytes ||
        datagram.bytes < position + kTimeTagBytes)
        return 0;
    const std::uint8_t* at = datagram.data + (datagram.bytes - position);
    std::uint64_t tag = 0;
    for (std::size_t i = 0; i < kTimeTagBytes; ++i)
        tag |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return tag;
}

void Receiver::onDatagram(const DatagramBatch::Datagram& datagram)
{
    if (!m_counting || !m_running)
        return;
    // An empty datagram has nothing to count or time; the frames after it still count.
    if (datagram.bytes == 0) {
        m_emptyWarnings.warn(
            [] { return std::string("Trigger::on_data_received: error no bytes received"); });
        return;
    }
    // The kernel's stamp says when the datagram came: one that came after the window is not
    // counted, however soon it is handed out.
    const std::int64_t now = datagram.receiveTime;
    if (now > m_deadline)
        return;

    if (m_config.latencyOn) {
        const std::uint64_t tag = readTimeTag(datagram);
        // Wrapping arithmetic: a foreign or corrupt tag gives a wrong latency, never undefined
        // behaviour.
        const std::uint64_t sent =
            tag * 10 - static_cast<std::uint64_t>(m_config.latencyTimeOffset);
        const auto latency = static_cast<std::int64_t>(static_cast<std::uint64_t>(now) - sent);
        if (auto listener = m_listener.lock())
            listener->onFrameReceivedWithLatency(roamnode::fromNanoseconds(now), datagram.bytes,
                                                 latency);
        return;
    }
    if (auto listener = m_listener.lock())
        listener->onFrameReceived(roamnode::fromNanoseconds(now), datagram.bytes);
}

void Receiver::onReceiveError(const boost::system::error_code& ec)
{
    // The context has removed every sink: this trigger counts nothing more in this run.
    m_counting = false;
    qWarning("%s", ("Trigger::on_data_received: error " + ec.message() + " (code " +
                    std::to_string(ec.value()) + ")")
                       .c_str());
}

void Receiver::on_window_end(const boost::system::error_code& ec)
{
    // A cancelled window, or one that stop() has reported already, reports nothing.
    if (ec == boost::asio::error::operation_aborted || m_stopped) {
        m_running = false;
        return;
    }
    // Datagrams that arrived before the end and still wait in the socket are counted first.
    if (m_counting)
        m_context.receiveQueued();
    m_running = false;
    m_context.removeSink(this);
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
    // The context holds the receiver only weakly; a batch being handed out keeps it until the
    // batch is done.
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

#include "FrameChannel.h"

#include <boost/asio/write.hpp>

namespace asio = boost::asio;

namespace {

std::string endpointText(const asio::ip::tcp::endpoint& endpoint)
{
    const auto address = endpoint.address();
    const std::string host =
        address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return host + ":" + std::to_string(endpoint.port());
}

} // namespace

FrameChannel::FrameChannel(HubStream stream)
    : m_stream(std::move(stream)), m_socket(m_stream.socket()), m_deadline(m_socket.get_executor()),
      m_buffer(roamnode::kReceiveBufferBytes), m_frame(kMaxFrameBytes)
{
    boost::system::error_code ec;
    const auto remote = m_socket.remote_endpoint(ec);
    m_peer = ec ? "?" : endpointText(remote);
}

std::string FrameChannel::peer() const
{
    return m_peer;
}

void FrameChannel::armDeadline(std::chrono::milliseconds timeout)
{
    m_timedOut = false;
    const unsigned generation = ++m_generation;
    m_deadline.expires_after(timeout);
    std::weak_ptr<FrameChannel> weak = shared_from_this();
    m_deadline.async_wait([weak, generation](const boost::system::error_code& ec) {
        if (ec == asio::error::operation_aborted)
            return;
        auto self = weak.lock();
        // A deadline that expired just as its operation completed must not end the next one.
        if (self && self->m_generation == generation) {
            self->m_timedOut = true;
            boost::system::error_code ignored;
            self->m_socket.close(ignored);
        }
    });
}

void FrameChannel::readFrame(std::chrono::milliseconds timeout, ReadHandler handler)
{
    m_frame = roamnode::FrameAccumulator(kMaxFrameBytes);
    armDeadline(timeout);
    readSome(std::make_shared<ReadHandler>(std::move(handler)));
}

// The handler travels with the pending read, never in a member: a read still pending when the
// I/O context goes away then releases it, and with it whatever the handler holds (the exchange
// that holds this channel), instead of keeping both alive in a cycle.
void FrameChannel::readSome(std::shared_ptr<ReadHandler> handler)
{
    auto self = shared_from_this();
    m_stream.readSome(asio::buffer(m_buffer), [self, handler](const boost::system::error_code& ec,
                                                              std::size_t size) {
        if (ec) {
            self->finishRead(*handler, self->m_timedOut ? asio::error::timed_out : ec);
            return;
        }
        switch (self->m_frame.add(self->m_buffer.data(), size)) {
        case roamnode::FrameAccumulator::State::Complete:
            self->finishRead(*handler, {});
            break;
        case roamnode::FrameAccumulator::State::TooLarge:
            self->finishRead(*handler, asio::error::message_size);
            break;
        case roamnode::FrameAccumulator::State::NeedMore:
            self->readSome(handler);
            break;
        }
    });
}

void FrameChannel::finishRead(const ReadHandler& handler, const boost::system::error_code& error)
{
    m_deadline.cancel();
    handler(error, error ? std::string() : m_frame.payload());
}

void FrameChannel::writeFrame(const std::string& payload, std::chrono::milliseconds timeout,
                              WriteHandler handler)
{
    m_outgoing = roamnode::frameMessage(payload);
    armDeadline(timeout);
    auto self = shared_from_this();
    m_stream.write(asio::buffer(m_outgoing),
                   [self, handler](const boost::system::error_code& ec, std::size_t) {
                       self->m_deadline.cancel();
                       handler(ec && self->m_timedOut ? asio::error::timed_out : ec);
                   });
}

void FrameChannel::handshake(std::chrono::milliseconds timeout, WriteHandler handler)
{
    armDeadline(timeout);
    auto self = shared_from_this();
    m_stream.handshake([self, handler](const boost::system::error_code& ec) {
        self->m_deadline.cancel();
        handler(ec && self->m_timedOut ? asio::error::timed_out : ec);
    });
}

void FrameChannel::close()
{
    m_deadline.cancel();
    boost::system::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

#include "HubExchange.h"

namespace asio = boost::asio;

HubExchange::HubExchange(HubStream stream, Listener& listener, Timeouts timeouts,
                         std::shared_ptr<EndpointCertificates> certificates)
    : m_channel(std::make_shared<FrameChannel>(std::move(stream))),
      m_certificates(std::move(certificates)), m_listener(listener), m_timeouts(timeouts)
{
}

void HubExchange::start()
{
    if (!m_channel->isTls())
        return readHello();
    // The endpoint has the hello ready as soon as its handshake is done: one deadline for both.
    auto self = shared_from_this();
    m_channel->handshake(m_timeouts.hello, [self](const boost::system::error_code& ec) {
        if (!ec)
            return self->readHello();
        self->m_channel->close();
        self->m_listener.onExchangeFailed(
            self->m_channel->peer(), "no TLS handshake: " + self->m_channel->handshakeFailure(ec));
    });
}

void HubExchange::readHello()
{
    auto self = shared_from_this();
    m_channel->readFrame(m_timeouts.hello,
                         [self](const boost::system::error_code& ec, const std::string& hello) {
                             self->onHelloRead(ec, hello);
                         });
}

void HubExchange::onHelloRead(const boost::system::error_code& error, const std::string& hello)
{
    if (error)
        return fail("hello", error);
    if (m_certificates && m_channel->isTls())
        m_certificates->note(hello, m_channel->peerSubject(), m_channel->peer());
    m_listener.onHello(m_channel->peer(), hello);
    auto self = shared_from_this();
    // The endpoint waits only briefly for the request, so it goes out at once.
    m_channel->writeFrame(
        m_listener.nextRequest(), m_timeouts.write,
        [self](const boost::system::error_code& ec) { self->onRequestWritten(ec); });
}

void HubExchange::onRequestWritten(const boost::system::error_code& error)
{
    // Taken first: this handler runs as the write completes.
    m_requestWritten = std::chrono::steady_clock::now();
    if (error)
        return fail("request", error);
    auto self = shared_from_this();
    m_channel->readFrame(m_timeouts.reply,
                         [self](const boost::system::error_code& ec, const std::string& reply) {
                             self->onReplyRead(ec, reply);
                         });
}

void HubExchange::onReplyRead(const boost::system::error_code& error, const std::string& reply)
{
    const auto replyRead = std::chrono::steady_clock::now();
    if (error)
        return fail("reply", error);
    m_channel->close();
    m_listener.onReply(m_channel->peer(), reply);
    m_listener.onExchangeTimed(m_channel->peer(), replyRead - m_requestWritten);
}

void HubExchange::fail(const std::string& step, const boost::system::error_code& error)
{
    m_channel->close();
    const std::string what = error == asio::error::eof ? "connection closed" : error.message();
    m_listener.onExchangeFailed(m_channel->peer(), "no " + step + ": " + what);
}

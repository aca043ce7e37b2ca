#include "SessionAcceptor.h"

#include <cstdio>

namespace asio = boost::asio;
using asio::ip::tcp;

SessionAcceptor::SessionAcceptor(asio::io_context& io, HubExchange::Listener& listener,
                                 HubExchange::Timeouts timeouts,
                                 std::shared_ptr<asio::ssl::context> tls)
    : m_listener(listener), m_timeouts(timeouts), m_tls(std::move(tls)),
      m_certificates(m_tls ? std::make_shared<EndpointCertificates>() : nullptr), m_listeners(io)
{
}

bool SessionAcceptor::listen(const std::vector<std::string>& addresses, std::uint16_t port,
                             const char* who)
{
    std::string error;
    const bool listening = m_listeners.listen(addresses, port, error);
    for (const std::string& warning : m_listeners.warnings())
        std::fprintf(stderr, "%s: %s\n", who, warning.c_str());
    if (!listening) {
        std::fprintf(stderr, "%s: %s\n", who, error.c_str());
        return false;
    }
    for (const std::string& where : m_listeners.listeningOn())
        std::printf("listening on %s\n", where.c_str());
    std::fflush(stdout);
    return true;
}

void SessionAcceptor::start()
{
    for (std::size_t i = 0; i < m_listeners.acceptors().size(); ++i)
        accept(i);
}

void SessionAcceptor::close()
{
    m_listeners.close();
}

void SessionAcceptor::accept(std::size_t index)
{
    auto self = shared_from_this();
    m_listeners.acceptors()[index]->async_accept(
        [self, index](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted ||
                !self->m_listeners.acceptors()[index]->is_open())
                return;
            if (!ec) {
                HubStream stream = self->m_tls ? HubStream(std::move(socket), *self->m_tls)
                                               : HubStream(std::move(socket));
                std::make_shared<HubExchange>(std::move(stream), self->m_listener, self->m_timeouts,
                                              self->m_certificates)
                    ->start();
            }
            // Transient accept errors (too many open files, a peer gone) do not end listening.
            self->accept(index);
        });
}

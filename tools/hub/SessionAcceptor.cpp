#include "SessionAcceptor.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/v6_only.hpp>

namespace asio = boost::asio;
using asio::ip::tcp;

SessionAcceptor::SessionAcceptor(asio::io_context& io, HubExchange::Listener& listener,
                                 HubExchange::Timeouts timeouts,
                                 std::shared_ptr<asio::ssl::context> tls)
    : m_io(io), m_listener(listener), m_timeouts(timeouts), m_tls(std::move(tls)),
      m_certificates(m_tls ? std::make_shared<EndpointCertificates>() : nullptr)
{
}

bool SessionAcceptor::listen(const std::vector<std::string>& addresses, std::uint16_t port,
                             std::string& error)
{
    m_port = port;
    for (const std::string& text : addresses) {
        boost::system::error_code ec;
        const asio::ip::address address = asio::ip::make_address(text, ec);
        if (ec) {
            m_warnings.push_back("not an address: " + text);
            continue;
        }
        auto acceptor = std::make_unique<tcp::acceptor>(m_io);
        const tcp::endpoint endpoint(address, m_port);
        acceptor->open(endpoint.protocol(), ec);
        if (!ec)
            acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
        // Lets an IPv4 and an IPv6 acceptor share the port.
        if (!ec && address.is_v6())
            acceptor->set_option(asio::ip::v6_only(true), ec);
        if (!ec)
            acceptor->bind(endpoint, ec);
        if (!ec)
            acceptor->listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            m_warnings.push_back("cannot listen on " + text + ": " + ec.message());
            continue;
        }
        m_port = acceptor->local_endpoint().port();
        m_acceptors.push_back(std::move(acceptor));
    }
    if (m_acceptors.empty()) {
        error = m_warnings.empty() ? "no address to listen on" : m_warnings.back();
        return false;
    }
    return true;
}

std::vector<std::string> SessionAcceptor::listeningOn() const
{
    std::vector<std::string> texts;
    for (const auto& acceptor : m_acceptors) {
        boost::system::error_code ec;
        const tcp::endpoint local = acceptor->local_endpoint(ec);
        if (ec)
            continue;
        const auto address = local.address();
        texts.push_back((address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) +
                        ":" + std::to_string(local.port()));
    }
    return texts;
}

void SessionAcceptor::start()
{
    for (std::size_t i = 0; i < m_acceptors.size(); ++i)
        accept(i);
}

void SessionAcceptor::close()
{
    for (const auto& acceptor : m_acceptors) {
        boost::system::error_code ignored;
        acceptor->close(ignored);
    }
}

void SessionAcceptor::accept(std::size_t index)
{
    auto self = shared_from_this();
    m_acceptors[index]->async_accept(
        [self, index](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !self->m_acceptors[index]->is_open())
                return;
            if (!ec) {
                HubStream stream = self->m_tls ? HubStream(std::move(socket), *self->m_tls)
                                               : HubStream(std::move(socket));
                std::make_shared<HubExchange>(std::move(stream), self->m_listener,
                                              self->m_timeouts, self->m_certificates)
                    ->start();
            }
            // Transient accept errors (too many open files, a peer gone) do not end listening.
            self->accept(index);
        });
}

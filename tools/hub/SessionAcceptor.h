#pragma once

#include "HubExchange.h"
#include "TcpListeners.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Listens on one port on one or more addresses and starts a HubExchange for every connection.
//
// Thread: the hub's I/O thread. Accept handlers hold the acceptor by shared_ptr and stop once it
// is closed.
class SessionAcceptor : public std::enable_shared_from_this<SessionAcceptor>
{
public:
    // With `tls`, every connection must complete a TLS handshake (HubTls.h) before its hello.
    SessionAcceptor(boost::asio::io_context& io, HubExchange::Listener& listener,
                    HubExchange::Timeouts timeouts,
                    std::shared_ptr<boost::asio::ssl::context> tls = nullptr);

    // Binds every address (empty: all IPv4 and IPv6 interfaces) to the same port, 0 letting the
    // system pick. Says on standard error, after `who`, which addresses could not be bound, and
    // on standard output "listening on ADDRESS:PORT" for each bound one, flushed, as the first
    // lines: scripts starting endpoints read the port from there. False when none was bound.
    bool listen(const std::vector<std::string>& addresses, std::uint16_t port, const char* who);

    std::uint16_t port() const { return m_listeners.port(); }

    void start();
    void close();

private:
    void accept(std::size_t index);

    HubExchange::Listener& m_listener;
    HubExchange::Timeouts m_timeouts;
    std::shared_ptr<boost::asio::ssl::context> m_tls;
    std::shared_ptr<EndpointCertificates> m_certificates;
    roamnode::tools::TcpListeners m_listeners;
};

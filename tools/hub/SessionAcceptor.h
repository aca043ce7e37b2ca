#pragma once

#include "HubExchange.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
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

    // Binds every address to the same port; port 0 lets the system pick for the first address
    // and the others follow it. Addresses that cannot be bound are reported and skipped.
    // Returns false when none could be bound.
    bool listen(const std::vector<std::string>& addresses, std::uint16_t port, std::string& error);

    // "127.0.0.1:PORT", "[::1]:PORT" for each bound address.
    std::vector<std::string> listeningOn() const;
    std::vector<std::string> warnings() const { return m_warnings; }
    std::uint16_t port() const { return m_port; }

    void start();
    void close();

private:
    void accept(std::size_t index);

    boost::asio::io_context& m_io;
    HubExchange::Listener& m_listener;
    HubExchange::Timeouts m_timeouts;
    std::shared_ptr<boost::asio::ssl::context> m_tls;
    std::shared_ptr<EndpointCertificates> m_certificates;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> m_acceptors;
    std::vector<std::string> m_warnings;
    std::uint16_t m_port = 0;
};

#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace roamnode::tools {

// Listening TCP sockets on one port on one or more addresses, as the tools open them: an IPv6
// socket takes IPv6 only, so an IPv4 and an IPv6 socket can share the port.
//
// Thread: the thread running `io`; accepting is left to the owner.
class TcpListeners
{
public:
    explicit TcpListeners(boost::asio::io_context& io) : m_io(io) {}

    // Binds every address to the same port; port 0 lets the system pick for the first address
    // and the others follow it. Empty `addresses`: every IPv4 and IPv6 interface. Addresses that
    // cannot be bound go to warnings() and are skipped. False when none could be bound.
    bool listen(std::vector<std::string> addresses, std::uint16_t port, std::string& error);

    // "127.0.0.1:PORT", "[::1]:PORT" for each bound address.
    std::vector<std::string> listeningOn() const;
    const std::vector<std::string>& warnings() const { return m_warnings; }
    std::uint16_t port() const { return m_port; }
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>>& acceptors()
    {
        return m_acceptors;
    }
    void close();

private:
    boost::asio::io_context& m_io;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> m_acceptors;
    std::vector<std::string> m_warnings;
    std::uint16_t m_port = 0;
};

// "ADDRESS:PORT" or "[IPV6]:PORT" into its parts; false when it is not of that form.
bool splitHostPort(const std::string& text, std::string& address, std::uint16_t& port);

} // namespace roamnode::tools

#include "TcpListeners.h"

#include "DecimalOption.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/v6_only.hpp>

namespace roamnode::tools {

namespace asio = boost::asio;
using asio::ip::tcp;

bool TcpListeners::listen(std::vector<std::string> addresses, std::uint16_t port,
                          std::string& error)
{
    if (addresses.empty())
        addresses = {"0.0.0.0", "::"};
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

std::vector<std::string> TcpListeners::listeningOn() const
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

void TcpListeners::close()
{
    for (const auto& acceptor : m_acceptors) {
        boost::system::error_code ignored;
        acceptor->close(ignored);
    }
}

bool splitHostPort(const std::string& text, std::string& address, std::uint16_t& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    std::uint64_t number = 0;
    if (!parseDecimal(text.substr(colon + 1), 65535, number))
        return false;
    port = static_cast<std::uint16_t>(number);
    return true;
}

} // namespace roamnode::tools

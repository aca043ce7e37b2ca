#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>

#include <functional>
#include <memory>
#include <string>

// One accepted connection, plain TCP or TLS: the frame channel reads and writes through it
// without knowing which.
//
// Thread: the hub's single I/O thread, like the channel that owns it.
class HubStream
{
public:
    using Handler = std::function<void(const boost::system::error_code&, std::size_t)>;

    explicit HubStream(boost::asio::ip::tcp::socket socket);
    // TLS: handshake() must complete before the first read.
    HubStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls);

    bool isTls() const { return m_tls != nullptr; }
    void handshake(std::function<void(const boost::system::error_code&)> handler);
    void readSome(boost::asio::mutable_buffer buffer, Handler handler);
    void write(boost::asio::const_buffer buffer, Handler handler);

    // The TCP socket beneath: its peer, its executor, closing it.
    boost::asio::ip::tcp::socket& socket();

    // After the handshake: the endpoint certificate's subject ("CN=laptop-17,O=Lab").
    std::string peerSubject() const;
    // Why a handshake failed, in words: the endpoint certificate's fault when it had one.
    std::string handshakeFailure(const boost::system::error_code& error) const;

private:
    std::unique_ptr<boost::asio::ip::tcp::socket> m_plain;
    std::unique_ptr<boost::asio::ssl::stream<boost::asio::ip::tcp::socket>> m_tls;
};

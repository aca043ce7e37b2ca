#include "TcpTestPeer.h"

#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;
// Large enough that the peer keeps up with a client writing hundreds of megabytes a second.
constexpr std::size_t kPiece = 262144;

// The upload pattern from any offset: pattern()[offset % 256 + j] is byte offset + j.
const std::array<char, kPiece + 256>& pattern()
{
    static const std::array<char, kPiece + 256> bytes = [] {
        std::array<char, kPiece + 256> filled{};
        for (std::size_t i = 0; i < filled.size(); ++i)
            filled[i] = static_cast<char>((97 + i) % 256);
        return filled;
    }();
    return bytes;
}

// Whether `size` (at most kPiece) bytes received from body offset `offset` on follow the pattern.
bool followsPattern(const char* data, std::size_t size, std::uint64_t offset)
{
    return std::memcmp(data, pattern().data() + offset % 256, size) == 0;
}

} // namespace

class TcpTestPeer::Session : public std::enable_shared_from_this<Session>
{
public:
    Session(TcpTestPeer& peer, boost::asio::ip::tcp::socket socket, std::size_t index)
        : m_peer(peer), m_socket(std::move(socket)), m_closeTimer(m_socket.get_executor()),
          m_index(index)
    {
    }

    void start()
    {
        auto self = shared_from_this();
        boost::asio::async_read_until(
            m_socket, m_head, "\r\n\r\n",
            [self](const boost::system::error_code& error, std::size_t headBytes) {
                self->onHead(error, headBytes);
            });
    }

private:
    void onHead(const boost::system::error_code& error, std::size_t headBytes)
    {
        if (error) {
            end();
            return;
        }
        const std::string request(boost::asio::buffers_begin(m_head.data()),
                                  boost::asio::buffers_begin(m_head.data()) + headBytes);
        const std::size_t extra = m_head.size() - headBytes;
        const std::string extraBytes(boost::asio::buffers_begin(m_head.data()) + headBytes,
                                     boost::asio::buffers_end(m_head.data()));
        m_peer.update(m_index, [&](Connection& c) {
            c.request = request;
            c.bytesReceived = extra;
            c.bodyIsLetterPattern = followsPattern(extraBytes.data(), extra, 0);
        });
        m_reply = m_peer.m_script(m_index);
        auto self = shared_from_this();
        if (m_reply.closeAfter) {
            m_closeTimer.expires_after(*m_reply.closeAfter);
            m_closeTimer.async_wait([self](const boost::system::error_code& e) {
                if (!e)
                    self->end();
            });
        }
        readMore();
        if (!m_reply.head.empty()) {
            boost::asio::async_write(m_socket, boost::asio::buffer(m_reply.head),
                                     [self](const boost::system::error_code& e, std::size_t) {
                                         if (!e)
                                             self->writeBody();
                                     });
        }
    }

    void writeBody()
    {
        if (m_reply.bodyBytes == 0) {
            if (m_reply.closeAfter && m_reply.closeAfter->count() == 0)
                end();
            return;
        }
        m_body.assign(m_reply.bodyBytes, 'x');
        auto self = shared_from_this();
        boost::asio::async_write(m_socket, boost::asio::buffer(m_body),
                                 [self](const boost::system::error_code& e, std::size_t) {
                                     // A body with no closing time ends the connection.
                                     if (!e && !self->m_reply.closeAfter)
                                         self->end();
                                 });
    }

    void readMore()
    {
        auto self = shared_from_this();
        m_socket.async_read_some(boost::asio::buffer(m_piece),
                                 [self](const boost::system::error_code& e, std::size_t n) {
                                     self->m_peer.update(self->m_index, [&](Connection& c) {
                                         c.bodyIsLetterPattern =
                                             c.bodyIsLetterPattern &&
                                             followsPattern(self->m_piece.data(), n,
                                                            c.bytesReceived);
                                         c.bytesReceived += n;
                                     });
                                     if (e) {
                                         self->end();
                                     } else {
                                         self->readMore();
                                     }
                                 });
    }

    void end()
    {
        if (m_ended)
            return;
        m_ended = true;
        m_closeTimer.cancel();
        boost::system::error_code ignored;
        m_socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
        m_peer.update(m_index, [](Connection& c) { c.ended = true; });
    }

    TcpTestPeer& m_peer;
    boost::asio::ip::tcp::socket m_socket;
    boost::asio::steady_timer m_closeTimer;
    std::size_t m_index;
    boost::asio::streambuf m_head{65536};
    std::array<char, kPiece> m_piece{};
    std::string m_body;
    Reply m_reply;
    bool m_ended = false;
};

TcpTestPeer::TcpTestPeer(Script script, const std::string& address)
    : m_acceptor(m_eventLoop), m_script(std::move(script))
{
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address(address), 0);
    m_acceptor.open(endpoint.protocol());
    m_acceptor.bind(endpoint);
    m_acceptor.listen();
    m_port = m_acceptor.local_endpoint().port();
    accept();
    m_thread = std::thread([this] { m_eventLoop.run(); });
}

TcpTestPeer::~TcpTestPeer()
{
    m_eventLoop.stop();
    m_thread.join();
}

TcpTestPeer::Reply TcpTestPeer::ok(std::size_t bodyBytes,
                                   std::optional<std::chrono::milliseconds> closeAfter)
{
    Reply reply;
    reply.head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    reply.bodyBytes = bodyBytes;
    reply.closeAfter = closeAfter;
    return reply;
}

void TcpTestPeer::accept()
{
    m_acceptor.async_accept(
        [this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
            if (error)
                return;
            boost::system::error_code ignored;
            const std::uint16_t peerPort = socket.remote_endpoint(ignored).port();
            const std::size_t index = addConnection(peerPort);
            std::make_shared<Session>(*this, std::move(socket), index)->start();
            accept();
        });
}

std::size_t TcpTestPeer::addConnection(std::uint16_t peerPort)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Connection connection;
    connection.peerPort = peerPort;
    connection.accepted = Clock::now();
    m_connections.push_back(connection);
    m_changed.notify_all();
    return m_connections.size() - 1;
}

void TcpTestPeer::update(std::size_t index, const std::function<void(Connection&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_connections.at(index));
    m_changed.notify_all();
}

std::vector<TcpTestPeer::Connection> TcpTestPeer::connections()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections;
}

bool TcpTestPeer::waitForConnections(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_connections.size() >= count; });
}

bool TcpTestPeer::waitForEnded(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        std::size_t ended = 0;
        for (const Connection& c : m_connections)
            ended += c.ended ? 1 : 0;
        return ended >= count;
    });
}

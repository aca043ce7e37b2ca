#include "HttpServer.h"

#include "bus/TimePoint.h"
#include "flows/RepeatedWrite.h"

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <sstream>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The stats lines carry wall-clock times so that the hub can tell runs apart.
std::int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

constexpr std::size_t kChunk = 65536;
// A GET body goes out in writes of up to this many copies of the chunk (1 MiB), and a PUT body
// is read in pieces of up to kReadSize: loopback moves gigabytes per second, and the server must
// not be what limits a client's figures. The read buffer stays small enough for a core's L2
// cache, which the kernel's copy into it needs at that speed.
constexpr std::size_t kChunksPerWrite = 16;
constexpr std::size_t kMaxTransfer = kChunksPerWrite * kChunk;
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kHeadLimit = 16384;
// A target without "ns" streams for ten seconds; no request holds a connection past an hour.
constexpr std::int64_t kDefaultNs = 10 * roamnode::kNanosecondsPerSecond;
constexpr std::int64_t kMaxNs = 3600 * roamnode::kNanosecondsPerSecond;
constexpr auto kPacingPoll = std::chrono::milliseconds(5);

const std::array<char, kChunk>& bodyChunk()
{
    static const std::array<char, kChunk> chunk = [] {
        std::array<char, kChunk> bytes{};
        for (std::size_t i = 0; i < kChunk; ++i) {
            bytes[i] = static_cast<char>('a' + i % 26);
        }
        return bytes;
    }();
    return chunk;
}

std::int64_t parseNumber(const std::string& text)
{
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::strtoll(text.c_str(), nullptr, 10);
}

} // namespace

RequestParameters parseRequestTarget(const std::string& target)
{
    RequestParameters parameters;
    const std::size_t query = target.find('?');
    if (query == std::string::npos) {
        return parameters;
    }
    std::istringstream pairs(target.substr(query + 1));
    std::string pair;
    while (std::getline(pairs, pair, '&')) {
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = pair.substr(0, equals);
        const std::int64_t value = parseNumber(pair.substr(equals + 1));
        if (key == "ns") {
            parameters.ns = value;
        } else if (key == "rate") {
            parameters.rate = value;
        }
    }
    return parameters;
}

namespace {

// What the connections share with the server; they hold it while they live.
struct ServerShared
{
    ServerShared(const HttpServer::Config& config, std::ostream& out) : config(config), out(out) {}

    HttpServer::Config config;
    std::ostream& out;
    std::size_t active = 0;
    // Where every PUT body is read to and discarded. One buffer serves all connections: their
    // reads run one at a time on the server's one thread, and nothing ever reads it back.
    std::unique_ptr<char[]> discard = std::make_unique<char[]>(kReadSize);
};

// One accepted connection; its pending operations keep it alive.
class Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(boost::asio::ip::tcp::socket socket, std::shared_ptr<ServerShared> server)
        : m_socket(std::move(socket)), m_deadline(m_socket.get_executor()),
          m_pacing(m_socket.get_executor()), m_server(std::move(server))
    {
        ++m_server->active;
    }

    ~Connection() { --m_server->active; }

    void start()
    {
        auto self = shared_from_this();
        // A client that never completes its request head is not kept for ever.
        m_deadline.expires_after(std::chrono::seconds(10));
        m_deadline.async_wait([self](const boost::system::error_code& error) {
            if (!error && !self->m_answered) {
                self->close();
            }
        });
        boost::asio::async_read_until(
            m_socket, m_head, "\r\n\r\n",
            [self](const boost::system::error_code& error, std::size_t headBytes) {
                self->onHead(error, headBytes);
            });
    }

private:
    void onHead(const boost::system::error_code& error, std::size_t headBytes)
    {
        m_deadline.cancel();
        if (error) {
            close();
            return;
        }
        std::istream head(&m_head);
        std::getline(head, m_requestLine);
        if (!m_requestLine.empty() && m_requestLine.back() == '\r') {
            m_requestLine.pop_back();
        }
        std::string line;
        std::size_t consumed = m_requestLine.size() + 2;
        while (consumed < headBytes && std::getline(head, line)) {
            consumed += line.size() + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                m_headers.push_back(line);
            }
        }
        print(m_requestLine);

        std::istringstream fields(m_requestLine);
        std::string method;
        std::string target;
        std::string version;
        fields >> method >> target >> version;
        m_target = target;
        // Taken now: once the client has closed, the socket no longer knows its peer.
        m_peer = peer();
        boost::system::error_code peerError;
        const auto remote = m_socket.remote_endpoint(peerError);
        if (!peerError) {
            // The dual-stack socket shows IPv4 clients as ::ffff:a.b.c.d; the hub knows a.b.c.d.
            auto address = remote.address();
            if (address.is_v6() && address.to_v6().is_v4_mapped())
                address =
                    boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
            m_peerAddress = address.to_string();
            m_peerPort = remote.port();
        }
        if (version.compare(0, 5, "HTTP/") != 0) {
            answerAndClose("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
            return;
        }
        const RequestParameters parameters = parseRequestTarget(target);
        m_ns = parameters.ns < 0 ? kDefaultNs : std::min(parameters.ns, kMaxNs);
        m_rate = parameters.rate;
        m_started = Clock::now();
        m_startedAt = wallClockNs();
        if (method == "GET") {
            m_isPut = false;
            startGet();
        } else if (method == "PUT") {
            m_isPut = true;
            // Body bytes that came with the head count as received.
            m_bytes = m_head.size();
            m_head.consume(m_head.size());
            startPut();
        } else {
            answerAndClose("HTTP/1.1 405 Method Not Allowed\r\nConnection: close\r\n\r\n");
        }
    }

    void answerAndClose(const char* answer)
    {
        auto self = shared_from_this();
        m_answered = true;
        boost::asio::async_write(
            m_socket, boost::asio::buffer(answer, std::strlen(answer)),
            [self](const boost::system::error_code&, std::size_t) { self->close(); });
    }

    void armDeadline()
    {
        auto self = shared_from_this();
        m_deadline.expires_at(m_started + std::chrono::nanoseconds(m_ns));
        m_deadline.async_wait([self](const boost::system::error_code& error) {
            if (!error) {
                self->finish();
            }
        });
    }

    void startGet()
    {
        static const std::string answer = "HTTP/1.1 200 OK\r\n"
                                          "Content-Type: application/octet-stream\r\n"
                                          "Cache-Control: no-cache\r\n"
                                          "Connection: close\r\n\r\n";
        sendAnswer(answer, &Connection::sendBody);
    }

    // Writes the status line and headers, then goes on with the body step.
    void sendAnswer(const std::string& answer, void (Connection::*next)())
    {
        m_answered = true;
        armDeadline();
        auto self = shared_from_this();
        boost::asio::async_write(m_socket, boost::asio::buffer(answer),
                                 [self, next](const boost::system::error_code& error, std::size_t) {
                                     if (error) {
                                         self->finish();
                                     } else {
                                         ((*self).*next)();
                                     }
                                 });
    }

    void sendBody()
    {
        if (m_done) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (now >= m_started + std::chrono::nanoseconds(m_ns)) {
            finish();
            return;
        }
        std::size_t chunk = kMaxTransfer;
        if (m_rate > 0) {
            const double elapsed = std::chrono::duration<double>(now - m_started).count();
            const double allowed =
                elapsed * static_cast<double>(m_rate) - static_cast<double>(m_bytes);
            if (allowed < 1.0) {
                auto self = shared_from_this();
                m_pacing.expires_after(kPacingPoll);
                m_pacing.async_wait([self](const boost::system::error_code& error) {
                    if (!error) {
                        self->sendBody();
                    }
                });
                return;
            }
            chunk = std::min(chunk, static_cast<std::size_t>(allowed));
        }
        auto self = shared_from_this();
        boost::asio::async_write(
            m_socket, roamnode::repeatedBuffers<kChunksPerWrite>(bodyChunk().data(), kChunk, chunk),
            roamnode::WholeWrite{kMaxTransfer},
            [self](const boost::system::error_code& error, std::size_t n) {
                self->m_bytes += n;
                if (error) {
                    self->finish();
                } else {
                    self->sendBody();
                }
            });
    }

    void startPut()
    {
        static const std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
        sendAnswer(answer, &Connection::readBody);
    }

    void readBody()
    {
        auto self = shared_from_this();
        m_socket.async_read_some(boost::asio::buffer(m_server->discard.get(), kReadSize),
                                 [self](const boost::system::error_code& error, std::size_t n) {
                                     self->m_bytes += n;
                                     if (error) {
                                         self->finish();
                                     } else {
                                         self->readBody();
                                     }
                                 });
    }

    // The end of a GET or PUT: the duration has passed, the client closed or an error came.
    void finish()
    {
        if (m_done) {
            return;
        }
        m_done = true;
        const double seconds = std::chrono::duration<double>(Clock::now() - m_started).count();
        if (m_server->config.onConnectionFinished) {
            ConnectionRecord record;
            record.method = m_isPut ? "PUT" : "GET";
            record.target = m_target;
            record.bytes = m_bytes;
            record.seconds = seconds;
            record.peer = m_peer;
            record.address = m_peerAddress;
            record.port = m_peerPort;
            record.startNs = m_startedAt;
            record.endNs = wallClockNs();
            m_server->config.onConnectionFinished(record);
        }
        if (m_server->config.verbose) {
            std::ostringstream summary;
            for (const std::string& header : m_headers) {
                summary << "  " << header << "\n";
            }
            summary << "  " << (m_isPut ? "received " : "sent ") << m_bytes << " bytes in "
                    << seconds << " s, average "
                    << (seconds > 0 ? static_cast<double>(m_bytes) / seconds : 0.0) << " B/s";
            print(summary.str());
        }
        close();
    }

    void close()
    {
        m_deadline.cancel();
        m_pacing.cancel();
        boost::system::error_code ignored;
        m_socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
    }

    void print(const std::string& text) { m_server->out << text << std::endl; }

    std::string peer() const
    {
        boost::system::error_code error;
        const auto remote = m_socket.remote_endpoint(error);
        if (error) {
            return "?";
        }
        const auto address = remote.address();
        return (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" +
               std::to_string(remote.port());
    }

    boost::asio::ip::tcp::socket m_socket;
    boost::asio::steady_timer m_deadline;
    boost::asio::steady_timer m_pacing;
    std::shared_ptr<ServerShared> m_server;
    boost::asio::streambuf m_head{kHeadLimit};
    std::string m_requestLine;
    std::string m_target;
    std::string m_peer;
    std::vector<std::string> m_headers;
    Clock::time_point m_started;
    std::int64_t m_startedAt = 0; // system clock, ns since the epoch
    std::string m_peerAddress;
    std::uint16_t m_peerPort = 0;
    std::int64_t m_ns = 0;
    std::int64_t m_rate = -1;
    std::uint64_t m_bytes = 0;
    bool m_isPut = false;
    bool m_answered = false;
    bool m_done = false;
};

} // namespace

class HttpServer::Impl : public std::enable_shared_from_this<HttpServer::Impl>
{
public:
    Impl(boost::asio::io_context& eventLoop, const Config& config, std::ostream& out)
        : m_config(config), m_shared(std::make_shared<ServerShared>(config, out)),
          m_acceptor(eventLoop)
    {
    }

    void open();
    void accept();

    Config m_config;
    std::shared_ptr<ServerShared> m_shared;
    boost::asio::ip::tcp::acceptor m_acceptor;
};

void HttpServer::Impl::open()
{
    namespace ip = boost::asio::ip;
    ip::tcp::endpoint endpoint;
    if (m_config.bindAddress.empty()) {
        // One dual-stack socket serves IPv6 and IPv4 on the same port; without IPv6 on the
        // host, IPv4 alone.
        boost::system::error_code error;
        m_acceptor.open(ip::tcp::v6(), error);
        if (!error) {
            m_acceptor.set_option(ip::v6_only(false), error);
        }
        if (error) {
            m_acceptor.close(error);
            endpoint = ip::tcp::endpoint(ip::tcp::v4(), m_config.port);
            m_acceptor.open(ip::tcp::v4());
        } else {
            endpoint = ip::tcp::endpoint(ip::tcp::v6(), m_config.port);
        }
    } else {
        endpoint = ip::tcp::endpoint(ip::make_address(m_config.bindAddress), m_config.port);
        m_acceptor.open(endpoint.protocol());
        if (endpoint.protocol() == ip::tcp::v6()) {
            m_acceptor.set_option(ip::v6_only(true));
        }
    }
    m_acceptor.set_option(ip::tcp::acceptor::reuse_address(true));
    m_acceptor.bind(endpoint);
    m_acceptor.listen();
}

void HttpServer::Impl::accept()
{
    std::weak_ptr<Impl> weakSelf = weak_from_this();
    m_acceptor.async_accept(
        [weakSelf](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
            std::shared_ptr<Impl> self = weakSelf.lock();
            if (!self || error == boost::asio::error::operation_aborted) {
                return;
            }
            if (!error) {
                if (self->m_shared->active < self->m_config.maxConnections) {
                    std::make_shared<Connection>(std::move(socket), self->m_shared)->start();
                } else {
                    boost::system::error_code ignored;
                    socket.close(ignored);
                }
            }
            self->accept();
        });
}

HttpServer::HttpServer(boost::asio::io_context& eventLoop, const Config& config, std::ostream& out)
    : m_impl(std::make_shared<Impl>(eventLoop, config, out))
{
    m_impl->open();
}

HttpServer::~HttpServer()
{
    stop();
}

std::uint16_t HttpServer::port() const
{
    return m_impl->m_acceptor.local_endpoint().port();
}

void HttpServer::start()
{
    m_impl->accept();
}

void HttpServer::stop()
{
    boost::system::error_code ignored;
    m_impl->m_acceptor.close(ignored);
}

#include "flows/TcpClient.h"

#include "bus/TimePoint.h"
#include "flows/ApplicationTimer.h"
#include "flows/RepeatedWrite.h"
#include "flows/TokenBucket.h"

#include <QDebug>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/system_timer.hpp>
#include <boost/asio/write.hpp>

#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <istream>
#include <optional>
#include <sstream>

namespace {

constexpr std::size_t kBodySize = 131072;
// An unlimited PUT writes 1 MiB at a time, as whole copies of the body; a limited one never
// more (TokenBucket::forRate).
constexpr std::size_t kBodyCopies = 8;
constexpr std::size_t kMaxWrite = kBodyCopies * kBodySize;
constexpr std::size_t kReadReport = 262144;
// A GET reads straight into this buffer, as much as the socket holds up to its size, and never
// copies. A report's worth per read, and small enough to stay in a core's L2 cache, which the
// kernel's copy into it needs at gigabytes per second.
constexpr std::size_t kReadBufferSize = 256 * 1024;
// Bounds a status line or header that never ends.
constexpr std::size_t kHeadLimit = 65536;
// The most of a refused status line that the flow's result quotes.
constexpr std::size_t kQuotedStatusLimit = 128;
// Keeps now + ns inside the clock's range whatever the hub sends (about 100 years).
constexpr std::int64_t kMaxNs =
    std::int64_t(100) * 365 * 24 * 3600 * roamnode::kNanosecondsPerSecond;

using TypeOfService = boost::asio::detail::socket_option::integer<IPPROTO_IP, IP_TOS>;

// The upload body, shared read-only by every PUT of the process: the letters a, b, c, ... and
// on through all byte values. Its length is a multiple of 256, so copies of it written one after
// the other continue the pattern without a break.
const std::array<char, kBodySize>& uploadBody()
{
    static const std::array<char, kBodySize> body = [] {
        std::array<char, kBodySize> bytes{};
        for (std::size_t i = 0; i < kBodySize; ++i) {
            bytes[i] = static_cast<char>((97 + i) % 256);
        }
        return bytes;
    }();
    return body;
}

std::chrono::system_clock::time_point deadlineAfter(std::int64_t ns)
{
    return std::chrono::system_clock::now() +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(
               std::chrono::nanoseconds(std::clamp<std::int64_t>(ns, 0, kMaxNs)));
}

} // namespace

class TcpClient::Impl
{
public:
    Impl(TcpClient& owner, const std::shared_ptr<Listener>& listener, const Config& config,
         boost::asio::io_context& eventLoop);

    void start();
    void finish();

private:
    bool start_socket();
    void connect();
    void send_request();
    void read_status_line();
    void on_status_line(const boost::system::error_code& error);
    void refuse(const std::string& statusLine);
    void read_body();
    void on_body_read(const boost::system::error_code& error, std::size_t bytes);
    void write_body();
    void wait_for_credit(std::int64_t retryAt);
    void on_body_written(const boost::system::error_code& error, std::size_t bytes,
                         std::int64_t writeStarted);
    std::shared_ptr<ApplicationTimer> makeWatchdog(std::chrono::milliseconds interval);
    void touchWatchdog(std::chrono::system_clock::time_point now);
    void reportBytes(std::size_t bytes, roamnode::time_point now);

    // Every completion handler runs through here: an exception must not leave the event loop's
    // thread, so it is logged and ends this connection.
    template <typename Step> void guarded(const char* step, Step&& body);

    TcpClient& m_owner;
    boost::asio::io_context& m_eventLoop;
    std::shared_ptr<ApplicationTimer> m_watchdog;
    boost::asio::system_timer m_durationTimer;
    boost::asio::ip::tcp::socket m_socket;
    std::string m_request;
    // The status line and headers only; the body of a GET goes to m_readBuffer.
    boost::asio::streambuf m_response{kHeadLimit};
    Config m_config;
    std::weak_ptr<Listener> m_listener;
    std::int64_t m_connectStarted = 0;
    boost::asio::system_timer m_pacingTimer;
    // Paces a PUT with a rate limit; an unlimited PUT has none and never waits.
    std::optional<TokenBucket> m_bucket;
    std::unique_ptr<char[]> m_readBuffer; // a GET's, allocated when its body starts
    std::size_t m_unreported = 0;         // bytes of a GET read since the last report
    bool m_started = false;
    // Until the server's status line has been read, why the request has not got one yet: a
    // client that ends before then reports this as its failure, never as a success.
    bool m_answered = false;
    std::string m_cause = "no answer from the HTTP server";
};

TcpClient::Impl::Impl(TcpClient& owner, const std::shared_ptr<Listener>& listener,
                      const Config& config, boost::asio::io_context& eventLoop)
    : m_owner(owner), m_eventLoop(eventLoop), m_durationTimer(eventLoop), m_socket(eventLoop),
      m_config(config), m_listener(listener), m_connectStarted(roamnode::nowNanoseconds()),
      m_pacingTimer(eventLoop)
{
    if (config.rateLimit > 0) {
        m_bucket.emplace(TokenBucket::forRate(config.rateLimit));
    }
}

template <typename Step> void TcpClient::Impl::guarded(const char* step, Step&& body)
{
    try {
        body();
    } catch (const std::exception& e) {
        qWarning().nospace() << "TcpClient" << static_cast<const void*>(&m_owner) << ": " << step
                             << ": error: " << e.what();
        finish();
    }
}

void TcpClient::Impl::start()
{
    m_started = true;
    m_request = (m_config.method == 1 ? "PUT" : "GET");
    m_request += ' ';
    m_request += m_config.target;
    m_request += " HTTP/1.1\r\n";
    m_request += "User Agent: Pellix WiFi App\r\n";
    m_request += "Host: " + m_config.host + "\r\n";
    m_request += "Accept: */*\r\n";
    m_request += "Connection: close\r\n\r\n";

    if (!start_socket()) {
        qWarning().nospace() << "TcpClient" << static_cast<const void*>(&m_owner)
                             << ": start: Could not open socket, so signaling we failed to start.";
        finish();
        return;
    }
    guarded("start", [this] { connect(); });
}

bool TcpClient::Impl::start_socket()
{
    namespace ip = boost::asio::ip;
    boost::system::error_code error;
    const ip::tcp protocol = m_config.ipv6 ? ip::tcp::v6() : ip::tcp::v4();
    m_socket.open(protocol, error);
    if (!error) {
        m_socket.set_option(boost::asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        // Linux takes IP_TOS on IPv6 sockets as well (it marks IPv4-mapped traffic).
        m_socket.set_option(TypeOfService(m_config.tos), error);
    }
    if (!error && m_config.srcPort != 0) {
        m_socket.bind(ip::tcp::endpoint(protocol, m_config.srcPort), error);
    }
    if (error) {
        m_cause = "cannot open a socket: " + error.message();
        qWarning().nospace() << "TcpClient" << static_cast<const void*>(&m_owner) << "::Impl"
                             << static_cast<const void*>(this)
                             << ": start_socket: error: " << error.message().c_str();
        boost::system::error_code ignored;
        m_socket.close(ignored);
        return false;
    }
    return true;
}

void TcpClient::Impl::connect()
{
    boost::system::error_code invalid;
    const boost::asio::ip::address address = boost::asio::ip::make_address(m_config.host, invalid);
    if (invalid) {
        m_cause = "\"" + m_config.host + "\" is not an address";
        finish();
        return;
    }
    const boost::asio::ip::tcp::endpoint endpoint(address, m_config.dstPort);
    const std::string server = m_config.host + " port " + std::to_string(m_config.dstPort);
    m_cause = "no connection to " + server;

    std::shared_ptr<TcpClient> self = m_owner.shared_from_this();
    m_connectStarted = roamnode::nowNanoseconds();
    m_durationTimer.expires_at(deadlineAfter(m_config.ns));
    m_durationTimer.async_wait([self, this](const boost::system::error_code& error) {
        guarded("on_duration_end", [&] {
            if (error != boost::asio::error::operation_aborted) {
                finish();
            }
        });
    });

    m_watchdog = makeWatchdog(m_config.connectTimeout);
    m_socket.async_connect(endpoint, [self, this, server](const boost::system::error_code& error) {
        guarded("connect", [&] {
            m_watchdog->cancel();
            if (error && m_started)
                m_cause = "cannot connect to " + server + ": " + error.message();
            if (error || !m_started) {
                finish();
                return;
            }
            m_cause = "no status line from " + server;
            send_request();
        });
    });
}

std::shared_ptr<ApplicationTimer> TcpClient::Impl::makeWatchdog(std::chrono::milliseconds interval)
{
    // The callback holds the client weakly: the watchdog belongs to the client.
    std::weak_ptr<TcpClient> weakClient = m_owner.weak_from_this();
    auto watchdog = std::make_shared<ApplicationTimer>(m_eventLoop, interval, [weakClient] {
        if (std::shared_ptr<TcpClient> client = weakClient.lock()) {
            client->finish();
        }
    });
    watchdog->start();
    return watchdog;
}

void TcpClient::Impl::touchWatchdog(std::chrono::system_clock::time_point now)
{
    if (m_watchdog) {
        m_watchdog->touch(now);
    }
}

void TcpClient::Impl::send_request()
{
    m_watchdog = makeWatchdog(m_config.trafficTimeout);
    std::shared_ptr<TcpClient> self = m_owner.shared_from_this();
    boost::asio::async_write(
        m_socket, boost::asio::buffer(m_request),
        [self, this](const boost::system::error_code& error, std::size_t) {
            guarded("on_request_line_sent", [&] {
                touchWatchdog(std::chrono::system_clock::now());
                if (error == boost::asio::error::operation_aborted || !m_started) {
                    finish();
                    return;
                }
                if (error) {
                    m_cause = "cannot send the request: " + error.message();
                    qWarning().nospace()
                        << "TcpClient" << static_cast<const void*>(&m_owner)
                        << ": on_request_line_sent: Error: " << error.message().c_str();
                    finish();
                    return;
                }
                read_status_line();
            });
        });
}

void TcpClient::Impl::read_status_line()
{
    std::shared_ptr<TcpClient> self = m_owner.shared_from_this();
    boost::asio::async_read_until(
        m_socket, m_response, "\r\n",
        [self, this](const boost::system::error_code& error, std::size_t) {
            guarded("on_status_line", [&] { on_status_line(error); });
        });
}

void TcpClient::Impl::on_status_line(const boost::system::error_code& error)
{
    touchWatchdog(std::chrono::system_clock::now());
    if (error && m_started)
        m_cause += ": " + error.message();
    if (error || !m_started) {
        finish();
        return;
    }
    m_answered = true;
    std::istream stream(&m_response);
    std::string line;
    std::getline(stream, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    std::istringstream fields(line);
    std::string version;
    unsigned int code = 0;
    fields >> version >> code;
    if (!fields || version.compare(0, 5, "HTTP/") != 0 || code != 200) {
        refuse(line);
        return;
    }
    // The remaining headers (and any body bytes that came with them) are not counted.
    m_response.consume(m_response.size());
    if (m_config.method == 1) {
        write_body();
    } else {
        read_body();
    }
}

void TcpClient::Impl::refuse(const std::string& statusLine)
{
    // The line is the server's: it goes into the result list as text, so it is kept short and
    // printable.
    std::string quoted = statusLine.substr(0, kQuotedStatusLimit);
    for (char& c : quoted) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') {
            c = '?';
        }
    }
    if (std::shared_ptr<Listener> listener = m_listener.lock()) {
        listener->onClientFailed("the HTTP server answered \"" + quoted + "\"");
    }
    finish();
}

void TcpClient::Impl::read_body()
{
    if (!m_readBuffer) {
        m_readBuffer = std::make_unique<char[]>(kReadBufferSize);
    }
    std::shared_ptr<TcpClient> self = m_owner.shared_from_this();
    m_socket.async_read_some(
        boost::asio::buffer(m_readBuffer.get(), kReadBufferSize),
        [self, this](const boost::system::error_code& error, std::size_t bytes) {
            guarded("on_data_received", [&] { on_body_read(error, bytes); });
        });
}

void TcpClient::Impl::on_body_read(const boost::system::error_code& error, std::size_t bytes)
{
    // Bytes that came since the last report and fall short of kReadReport are not reported at
    // an error or the server's close.
    if (error || !m_started) {
        finish();
        return;
    }
    m_unreported += bytes;
    read_body();
    // Reports, and the watchdog's progress, come only every kReadReport bytes: a download too
    // slow to bring that much within the watchdog's interval ends.
    if (m_unreported >= kReadReport) {
        const auto now = std::chrono::system_clock::now();
        touchWatchdog(now);
        const std::size_t report = m_unreported;
        m_unreported = 0;
        reportBytes(report, now);
    }
}

void TcpClient::Impl::write_body()
{
    if (!m_started) {
        return;
    }
    const std::int64_t now = roamnode::nowNanoseconds();
    std::size_t bytes = kMaxWrite;
    if (m_bucket) {
        const std::int64_t end =
            m_connectStarted + std::clamp<std::int64_t>(m_config.ns, 0, kMaxNs);
        const TokenBucket::Grant grant = m_bucket->take(now, end);
        if (grant.bytes == 0) {
            // With nothing payable before the request's time is up, the duration timer ends
            // the client.
            if (grant.retryAt != TokenBucket::kNever) {
                wait_for_credit(grant.retryAt);
            }
            return;
        }
        bytes = std::min(grant.bytes, kMaxWrite);
    }
    std::shared_ptr<TcpClient> self = m_owner.shared_from_this();
    boost::asio::async_write(
        m_socket, roamnode::repeatedBuffers<kBodyCopies>(uploadBody().data(), kBodySize, bytes),
        roamnode::WholeWrite{kMaxWrite},
        [self, this, now](const boost::system::error_code& error, std::size_t written) {
            guarded("on_data_sent", [&] { on_body_written(error, written, now); });
        });
}

void TcpClient::Impl::wait_for_credit(std::int64_t retryAt)
{
    std::shared_ptr<TcpClient> self = m_owner.shared_from_this();
    m_pacingTimer.expires_at(roamnode::fromNanoseconds(retryAt));
    m_pacingTimer.async_wait([self, this](const boost::system::error_code& error) {
        guarded("try_send", [&] {
            if (error == boost::asio::error::operation_aborted) {
                return; // finish() cancelled it
            }
            if (error) {
                finish();
                return;
            }
            write_body();
        });
    });
}

void TcpClient::Impl::on_body_written(const boost::system::error_code& error, std::size_t bytes,
                                      std::int64_t writeStarted)
{
    if (error == boost::asio::error::operation_aborted) {
        finish();
        return;
    }
    if (!error) {
        touchWatchdog(std::chrono::system_clock::now());
        write_body();
        reportBytes(bytes, roamnode::fromNanoseconds(writeStarted));
        return;
    }
    // A peer that has gone shows up as end of file, a broken pipe or a reset, depending on when
    // its close arrived.
    if (error == boost::asio::error::eof || error == boost::asio::error::broken_pipe ||
        error == boost::asio::error::connection_reset) {
        qWarning().nospace() << "TcpClient" << static_cast<const void*>(&m_owner)
                             << ": Write got EOF, so the connection is closed by the peer. "
                             << error.message().c_str();
    } else {
        qWarning().nospace() << "TcpClient" << static_cast<const void*>(&m_owner)
                             << ": Write got an error: " << error.message().c_str();
    }
    finish();
}

void TcpClient::Impl::reportBytes(std::size_t bytes, roamnode::time_point now)
{
    if (std::shared_ptr<Listener> listener = m_listener.lock()) {
        listener->onBytes(bytes, now);
    }
}

void TcpClient::Impl::finish()
{
    if (!m_started) {
        return;
    }
    // The listener usually drops its reference to this client from onClientFinished.
    std::shared_ptr<TcpClient> self = m_owner.weak_from_this().lock();
    m_started = false;
    if (m_watchdog) {
        m_watchdog->cancel();
    }
    m_pacingTimer.cancel();
    boost::system::error_code ignored;
    m_socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_durationTimer.cancel();
    if (std::shared_ptr<Listener> listener = m_listener.lock()) {
        if (!m_answered)
            listener->onClientFailed(m_cause);
        listener->onClientFinished();
    }
}

TcpClient::TcpClient(const std::shared_ptr<Listener>& listener, const Config& config,
                     boost::asio::io_context& eventLoop)
    : m_impl(std::make_unique<Impl>(*this, listener, config, eventLoop))
{
}

TcpClient::~TcpClient() = default;

void TcpClient::start()
{
    m_impl->start();
}

void TcpClient::finish()
{
    m_impl->finish();
}

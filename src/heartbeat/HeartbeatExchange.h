#pragma once

#include "heartbeat/HeartbeatFrame.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus/TimePoint.h"

namespace roamnode {
class TlsClientContext;
}

// The socket side of one heartbeat exchange: a fresh I/O context and socket, each operation run
// to completion under its own deadline. When a deadline passes first the socket is closed, which
// completes the pending operation with an error.
//
// Thread: created, used and destroyed by the session thread within one exchange. Its I/O context
// is run only from the calls below, so no handler runs after the object is gone (destroying the
// context drops pending handlers without calling them). cancel() is the one call another thread
// may make.
class HeartbeatExchange
{
public:
    enum class Result {
        Ok,
        Failed,    // error, end of stream, deadline, no address, frame too large
        Inactive,  // the heartbeat was stopped while reading; no error
        Cancelled, // cancel() was called; the exchange must end without further work
    };

    HeartbeatExchange();
    ~HeartbeatExchange();
    HeartbeatExchange(const HeartbeatExchange&) = delete;
    HeartbeatExchange& operator=(const HeartbeatExchange&) = delete;

    // Resolves host and port (any family, TCP) and keeps the first address. No deadline: the
    // resolver decides how long a name takes. A slow lookup runs on a helper thread so that
    // cancel() does not have to wait for it.
    Result resolve(const std::string& host, std::uint16_t port);
    // Why the last resolve or connect failed, in words for a person ("Connection refused").
    const std::string& failureReason() const { return m_failureReason; }
    boost::asio::ip::tcp::endpoint endpoint() const { return m_endpoint; }

    // Opens a socket of the first address's family and connects to that address only.
    Result connect(std::int64_t timeoutMs);

    // After connect(): a TLS handshake that verifies the hub's certificate against the CA and
    // `hostName` (a name or a numeric address); every later read and write runs inside TLS.
    Result startTls(roamnode::TlsClientContext& tls, const std::string& hostName,
                    std::int64_t timeoutMs);
    // Why TLS failed, for a person: the hub's certificate was not accepted, or the hub refused
    // this endpoint's (its alert arrives with the first read). Empty while TLS has not failed.
    const std::string& tlsFailure() const { return m_tlsFailure; }

    // One complete write; ec receives the error of a failed write (for the caller's message).
    Result write(const char* data, std::size_t size, std::int64_t timeoutMs,
                 boost::system::error_code* ec = nullptr);

    // Reads one frame: each read waits at most readTimeoutMs, the whole frame at most
    // frameTimeoutMs. After each read isActive() is asked first; false ends the read with
    // Inactive.
    Result readFrame(std::int64_t readTimeoutMs, std::int64_t frameTimeoutMs,
                     const std::function<bool()>& isActive, std::string& payload,
                     roamnode::time_point& receivedAt,
                     std::size_t maxFrameBytes = roamnode::kMaxRequestFrameBytes);

    // Waits at most timeoutMs for the peer to close its side (or for anything else to arrive on
    // the socket). Any outcome but Cancelled is Ok: the wait only puts the peer first.
    Result waitForPeerClose(std::int64_t timeoutMs);

    void close();

    // Any thread: ends the current and every later operation at once with Cancelled.
    void cancel();

private:
    struct ResolveState;

    template <typename Buffer, typename Handler>
    void startRead(const Buffer& buffer, Handler handler);
    template <typename Buffer, typename Handler>
    void startWrite(const Buffer& buffer, Handler handler);
    void noteTlsError(const boost::system::error_code& ec);

    template <typename StartOperation>
    boost::system::error_code runWithDeadline(std::int64_t timeoutMs, StartOperation start,
                                              std::size_t* transferred = nullptr);

    boost::asio::io_context m_io;
    boost::asio::ip::tcp::socket m_socket;
    boost::asio::steady_timer m_deadline;
    boost::asio::ip::tcp::endpoint m_endpoint;
    // Over m_socket once startTls() began; the deadline still closes m_socket beneath it.
    std::unique_ptr<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> m_tls;
    std::string m_tlsFailure;
    std::vector<char> m_buffer;
    std::string m_failureReason;

    // The operation in flight: its handler and its deadline's handler only act when their
    // generation is the current one, so a late deadline never closes the next operation's socket.
    unsigned m_generation = 0;
    bool m_operationDone = false;
    boost::system::error_code m_operationError;
    std::size_t m_operationBytes = 0;

    std::atomic<bool> m_cancelled{false};
    std::shared_ptr<ResolveState> m_resolve;
    std::mutex m_resolveMutex;
};

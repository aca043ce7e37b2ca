#include "heartbeat/HeartbeatExchange.h"

#include "heartbeat/TlsClientContext.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/write.hpp>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace asio = boost::asio;
using asio::ip::tcp;

// Shared between the exchange and the resolver thread, so either may finish first.
struct HeartbeatExchange::ResolveState
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool cancelled = false;
    bool found = false;
    tcp::endpoint first;
};

HeartbeatExchange::HeartbeatExchange()
    : m_socket(m_io), m_deadline(m_io), m_buffer(roamnode::kReceiveBufferBytes, '\0')
{
}

HeartbeatExchange::~HeartbeatExchange()
{
    close();
}

HeartbeatExchange::Result HeartbeatExchange::resolve(const std::string& host, std::uint16_t port)
{
    if (m_cancelled)
        return Result::Cancelled;

    // A numeric address needs no lookup (and no helper thread).
    boost::system::error_code ec;
    const asio::ip::address numeric = asio::ip::make_address(host, ec);
    if (!ec) {
        m_endpoint = tcp::endpoint(numeric, port);
        return Result::Ok;
    }
    if (host.empty()) {
        m_failureReason = "no hub address";
        return Result::Failed;
    }

    auto state = std::make_shared<ResolveState>();
    {
        std::lock_guard<std::mutex> lock(m_resolveMutex);
        m_resolve = state;
    }
    // The lookup may outlive this exchange (a cancelled one does not wait for it); it owns only
    // the shared state.
    std::thread([state, host, port]() {
        asio::io_context io;
        tcp::resolver resolver(io);
        boost::system::error_code error;
        const auto results = resolver.resolve(host, std::to_string(port), error);
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!error && !results.empty()) {
            state->found = true;
            state->first = results.begin()->endpoint();
        }
        state->finished = true;
        state->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(state->mutex);
    state->done.wait(lock, [&state]() { return state->finished || state->cancelled; });
    if (state->cancelled)
        return Result::Cancelled;
    if (!state->found) {
        m_failureReason = "name not resolved";
        return Result::Failed;
    }
    m_endpoint = state->first;
    return Result::Ok;
}

template <typename StartOperation>
boost::system::error_code HeartbeatExchange::runWithDeadline(std::int64_t timeoutMs,
                                                             StartOperation start,
                                                             std::size_t* transferred)
{
    const unsigned generation = ++m_generation;
    m_operationDone = false;
    m_operationError = asio::error::operation_aborted;
    m_operationBytes = 0;

    m_deadline.expires_after(std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)));
    m_deadline.async_wait([this, generation](const boost::system::error_code& ec) {
        if (ec == asio::error::operation_aborted)
            return;
        if (generation != m_generation || m_operationDone)
            return;
        boost::system::error_code ignored;
        m_socket.close(ignored);
    });

    start([this, generation](const boost::system::error_code& ec, std::size_t bytes) {
        if (generation != m_generation)
            return;
        m_operationDone = true;
        m_operationError = ec;
        m_operationBytes = bytes;
    });

    while (!m_operationDone && !m_cancelled) {
        if (m_io.run_one() == 0)
            break;
    }
    m_deadline.cancel();
    if (transferred)
        *transferred = m_operationBytes;
    if (!m_operationDone)
        return asio::error::operation_aborted;
    return m_operationError;
}

HeartbeatExchange::Result HeartbeatExchange::connect(std::int64_t timeoutMs)
{
    if (m_cancelled)
        return Result::Cancelled;
    boost::system::error_code ec;
    m_socket.open(m_endpoint.protocol(), ec);
    if (ec) {
        m_failureReason = ec.message();
        return Result::Failed;
    }
    ec = runWithDeadline(timeoutMs, [this](auto handler) {
        m_socket.async_connect(
            m_endpoint, [handler](const boost::system::error_code& error) { handler(error, 0); });
    });
    if (m_cancelled)
        return Result::Cancelled;
    if (!ec)
        return Result::Ok;
    // The deadline closes the socket, which the connect reports as aborted.
    m_failureReason = ec == asio::error::operation_aborted
                          ? "no answer within " + std::to_string(timeoutMs) + " ms"
                          : ec.message();
    return Result::Failed;
}

template <typename Buffer, typename Handler>
void HeartbeatExchange::startRead(const Buffer& buffer, Handler handler)
{
    if (m_tls)
        m_tls->async_read_some(buffer, handler);
    else
        m_socket.async_read_some(buffer, handler);
}

template <typename Buffer, typename Handler>
void HeartbeatExchange::startWrite(const Buffer& buffer, Handler handler)
{
    if (m_tls)
        asio::async_write(*m_tls, buffer, handler);
    else
        asio::async_write(m_socket, buffer, handler);
}

void HeartbeatExchange::noteTlsError(const boost::system::error_code& ec)
{
    if (!m_tls || !ec || ec.category() != asio::error::get_ssl_category() || !m_tlsFailure.empty())
        return;
    // In TLS 1.3 the hub checks this endpoint's certificate after the handshake, so its refusal
    // is an alert ("sslv3 alert certificate expired") that the next read or write meets.
    const std::string reason = roamnode::tlsErrorText(ec);
    const std::size_t alert = reason.find("alert ");
    m_tlsFailure =
        alert == std::string::npos
            ? "TLS: " + reason
            : "TLS: the hub refused this endpoint's certificate: " + reason.substr(alert + 6);
}

HeartbeatExchange::Result HeartbeatExchange::startTls(roamnode::TlsClientContext& tls,
                                                      const std::string& hostName,
                                                      std::int64_t timeoutMs)
{
    if (m_cancelled)
        return Result::Cancelled;
    m_tls = std::make_unique<asio::ssl::stream<tcp::socket&>>(m_socket, tls.context());
    SSL* ssl = m_tls->native_handle();
    // The hub's certificate must name the host as it was given: its address or its name.
    boost::system::error_code ec;
    asio::ip::make_address(hostName, ec);
    if (!ec) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostName.c_str());
    } else {
        SSL_set1_host(ssl, hostName.c_str());
        SSL_set_tlsext_host_name(ssl, hostName.c_str());
    }
    ec = runWithDeadline(timeoutMs, [this](auto handler) {
        m_tls->async_handshake(
            asio::ssl::stream_base::client,
            [handler](const boost::system::error_code& error) { handler(error, 0); });
    });
    if (m_cancelled)
        return Result::Cancelled;
    if (!ec)
        return Result::Ok;
    const long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK)
        m_tlsFailure = std::string("TLS: the hub's certificate is not accepted: ") +
                       X509_verify_cert_error_string(verify);
    else if (ec == asio::error::operation_aborted)
        m_tlsFailure = "TLS: no handshake within " + std::to_string(timeoutMs) + " ms";
    else
        noteTlsError(ec);
    if (m_tlsFailure.empty())
        m_tlsFailure = "TLS: " + roamnode::tlsErrorText(ec);
    m_failureReason = m_tlsFailure;
    return Result::Failed;
}

HeartbeatExchange::Result HeartbeatExchange::write(const char* data, std::size_t size,
                                                   std::int64_t timeoutMs,
                                                   boost::system::error_code* error)
{
    if (m_cancelled)
        return Result::Cancelled;
    const boost::system::error_code ec =
        runWithDeadline(timeoutMs, [this, data, size](auto handler) {
            startWrite(asio::buffer(data, size), handler);
        });
    if (m_cancelled)
        return Result::Cancelled;
    noteTlsError(ec);
    if (error)
        *error = ec;
    return ec ? Result::Failed : Result::Ok;
}

HeartbeatExchange::Result
HeartbeatExchange::readFrame(std::int64_t readTimeoutMs, std::int64_t frameTimeoutMs,
                             const std::function<bool()>& isActive, std::string& payload,
                             roamnode::time_point& receivedAt, std::size_t maxFrameBytes)
{
    roamnode::FrameAccumulator frame(maxFrameBytes);
    payload.clear();
    const auto frameDeadline = std::chrono::steady_clock::now() +
                               std::chrono::milliseconds(std::max<std::int64_t>(frameTimeoutMs, 0));
    for (;;) {
        if (frame.state() == roamnode::FrameAccumulator::State::Complete) {
            receivedAt = std::chrono::system_clock::now();
            payload = frame.takePayload();
            return Result::Ok;
        }
        if (m_cancelled)
            return Result::Cancelled;
        const std::int64_t frameLeftMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                             frameDeadline - std::chrono::steady_clock::now())
                                             .count();
        if (frameLeftMs <= 0)
            return Result::Failed;
        std::size_t received = 0;
        const boost::system::error_code ec = runWithDeadline(
            std::min(readTimeoutMs, frameLeftMs),
            [this](auto handler) { startRead(asio::buffer(m_buffer), handler); }, &received);
        if (m_cancelled)
            return Result::Cancelled;
        noteTlsError(ec);
        if (!isActive())
            return Result::Inactive;
        if (ec)
            return Result::Failed;
        if (frame.add(m_buffer.data(), received) == roamnode::FrameAccumulator::State::TooLarge)
            return Result::Failed;
    }
}

HeartbeatExchange::Result HeartbeatExchange::waitForPeerClose(std::int64_t timeoutMs)
{
    if (m_cancelled)
        return Result::Cancelled;
    runWithDeadline(timeoutMs,
                    [this](auto handler) { startRead(asio::buffer(m_buffer), handler); });
    return m_cancelled ? Result::Cancelled : Result::Ok;
}

void HeartbeatExchange::close()
{
    boost::system::error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

void HeartbeatExchange::cancel()
{
    m_cancelled = true;
    m_io.stop();
    std::lock_guard<std::mutex> lock(m_resolveMutex);
    if (m_resolve) {
        std::lock_guard<std::mutex> stateLock(m_resolve->mutex);
        m_resolve->cancelled = true;
        m_resolve->done.notify_all();
    }
}

#include "heartbeat/HeartbeatSession.h"

#include "heartbeat/HeartbeatExchange.h"
#include "heartbeat/TlsClientContext.h"

#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>

HeartbeatSession::HeartbeatSession(Parent* parent) : m_parent(parent), m_timer(new QTimer())
{
    m_timer->setSingleShot(false);
    // The lambda runs in the timer's thread and queues the exchange only when none is waiting:
    // ticks that pass during a long exchange collapse into one, so the endpoint does not make up
    // for lost time with a burst of connections.
    connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this]() { queueExchange(); });
}

void HeartbeatSession::queueExchange()
{
    bool expected = false;
    if (m_exchangeQueued.compare_exchange_strong(expected, true))
        QMetaObject::invokeMethod(this, "on_heartbeat_timer", Qt::QueuedConnection);
}

HeartbeatSession::~HeartbeatSession() = default;

int HeartbeatSession::timerPeriod(std::int64_t periodMs)
{
    return static_cast<int>(std::clamp<std::int64_t>(periodMs, kMinimumPeriodMs, INT_MAX));
}

void HeartbeatSession::start()
{
    queueExchange();
    m_timer->start(timerPeriod(m_parent->currentInterval()));
}

void HeartbeatSession::restartTimer(std::int64_t periodMs)
{
    m_timer->start(timerPeriod(periodMs));
}

void HeartbeatSession::stop()
{
    m_timer->stop();
}

void HeartbeatSession::setHelloMessage(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_helloMutex);
    m_helloMessage = text;
}

std::string HeartbeatSession::helloMessage() const
{
    std::lock_guard<std::mutex> lock(m_helloMutex);
    return m_helloMessage;
}

void HeartbeatSession::abort()
{
    m_aborted = true;
    std::lock_guard<std::mutex> lock(m_exchangeMutex);
    if (m_exchange)
        m_exchange->cancel();
}

void HeartbeatSession::on_heartbeat_timer()
{
    // From here on a tick queues the next exchange again.
    m_exchangeQueued = false;
    HeartbeatExchange exchange;
    {
        std::lock_guard<std::mutex> lock(m_exchangeMutex);
        if (m_aborted)
            return;
        m_exchange = &exchange;
    }
    const Outcome outcome = runExchange(exchange);
    {
        std::lock_guard<std::mutex> lock(m_exchangeMutex);
        m_exchange = nullptr;
    }
    exchange.close();

    // After abort() the parent may be going away: it hears nothing more from this session.
    if (outcome == Outcome::Aborted || m_aborted)
        return;
    switch (outcome) {
    case Outcome::Failed:
        m_parent->heartbeatDone(true);
        break;
    case Outcome::Stopped:
        m_parent->sessionStopped();
        break;
    case Outcome::Done:
        if (m_parent->isActive())
            m_parent->heartbeatDone(false);
        else
            m_parent->sessionStopped();
        break;
    case Outcome::Aborted:
        break;
    }
}

HeartbeatSession::Outcome HeartbeatSession::runExchange(HeartbeatExchange& exchange)
{
    using Result = HeartbeatExchange::Result;
    const HeartbeatSettings settings = m_parent->settings();
    // Taken now so that a hello replaced during the exchange is sent whole, old or new.
    const std::string hello = helloMessage();

    // A tls:// hub without certificates is unreachable, for the reason the start gave.
    if (settings.tls && !settings.tlsContext) {
        m_parent->contactResult("TLS: " + settings.tlsUnavailable);
        return Outcome::Failed;
    }
    // 1. and 2.: resolve, then the first address only.
    Result result = exchange.resolve(settings.rvpHost, settings.rvpPort);
    if (result == Result::Ok)
        result = exchange.connect(settings.connectTimeout);
    // The handshake gets a deadline of its own: two round trips and the hub's signature.
    if (result == Result::Ok && settings.tls)
        result = exchange.startTls(*settings.tlsContext, settings.rvpHost,
                                   settings.connectTimeout + settings.readTimeout);
    if (result == Result::Cancelled)
        return Outcome::Aborted;
    // Over TLS the hub may still refuse this endpoint's certificate after the handshake: the
    // contact counts as made only once the request has been read (reportTls below).
    if (result != Result::Ok || !settings.tls)
        m_parent->contactResult(result == Result::Ok ? std::string() : exchange.failureReason());
    if (result != Result::Ok)
        return Outcome::Failed;
    const auto reportTls = [&]() {
        if (settings.tls)
            m_parent->contactResult(exchange.tlsFailure());
    };
    m_parent->hubReached(exchange.endpoint().address().to_string());

    // 3. The heartbeat was stopped while connecting: send nothing.
    if (!m_parent->isActive())
        return Outcome::Stopped;

    // 4. The hello.
    boost::system::error_code writeError;
    result = exchange.write(hello.data(), hello.size(), settings.writeTimeout, &writeError);
    if (result == Result::Cancelled)
        return Outcome::Aborted;
    if (result != Result::Ok) {
        std::fprintf(stderr, "Heartbeat: Could not write request to socket: %s\n",
                     writeError.message().c_str());
        reportTls();
        return Outcome::Failed;
    }

    // 5. and 6.: one request frame.
    std::string request;
    roamnode::time_point receivedAt;
    result = exchange.readFrame(
        settings.readTimeout, settings.requestTimeout, [this]() { return m_parent->isActive(); },
        request, receivedAt);
    if (result == Result::Cancelled)
        return Outcome::Aborted;
    reportTls();
    if (result == Result::Failed)
        return Outcome::Failed;
    if (result == Result::Inactive)
        return Outcome::Stopped;
    // An empty request ("0000#", "#", "abc#") from a hub while the heartbeat still runs is a
    // broken exchange, not a stop: taking it as one would leave the endpoint silent for good.
    if (request.empty())
        return m_parent->isActive() ? Outcome::Failed : Outcome::Stopped;

    // 7. The reply, in pieces each under its own deadline. A reply that cannot be written still
    // counts as a heartbeat: the request did arrive.
    const std::string reply = m_parent->processRequest(request, receivedAt);
    if (m_aborted)
        return Outcome::Aborted;
    bool cancelled = false;
    const std::size_t written = roamnode::writeInSegments(
        reply, settings.segmentSize, [&](const char* data, std::size_t size) {
            const Result piece = exchange.write(data, size, settings.writeTimeout);
            cancelled = piece == Result::Cancelled;
            return piece == Result::Ok;
        });
    if (cancelled)
        return Outcome::Aborted;

    // 8. comes once the hub has the reply. A hub on this machine is woken onto this thread's CPU
    // to read it; closing, the result signal and the main thread's work on it (bus, console line)
    // would otherwise run first and sit in the hub's reply time. The hub closes when it has read.
    if (!reply.empty() && written == reply.size() &&
        exchange.waitForPeerClose(kHubCloseWaitMs) == Result::Cancelled)
        return Outcome::Aborted;
    return Outcome::Done;
}

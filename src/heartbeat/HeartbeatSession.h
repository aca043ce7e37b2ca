#pragma once

#include "heartbeat/HeartbeatSettings.h"

#include "bus/TimePoint.h"

#include <QMetaType>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class QTimer;
class HeartbeatExchange;

// The endpoint's side of the control channel: on every timer tick one self-contained exchange
// over a fresh TCP connection (connect, hello, one request, one reply, close). What to do is
// asked of the parent; the session keeps nothing between exchanges but the hello text.
//
// Threads: the object lives in the heartbeat session thread, where on_heartbeat_timer() runs.
// Its timer lives in the thread that constructed it (the main thread); start(), restartTimer()
// and stop() are called there, and each tick reaches the session as a queued call; at most one
// such call waits at a time, however long an exchange takes.
// setHelloMessage() and abort() may be called from any thread: the hello text is guarded by a
// mutex and copied at the start of each exchange; abort() only sets a flag and cancels the
// running exchange's I/O, which is safe from another thread.
class HeartbeatSession : public QObject, public std::enable_shared_from_this<HeartbeatSession>
{
    Q_OBJECT

public:
    // Implemented by the heartbeat manager. Every operation is called from the session thread.
    class Parent
    {
    public:
        virtual ~Parent() = default;
        // A copy: the owner may change the settings while an exchange runs.
        virtual HeartbeatSettings settings() const = 0;
        virtual bool isActive() const = 0;
        virtual std::int64_t currentInterval() const = 0;
        // The exchange ended; failed when it did not get as far as a received request.
        virtual void heartbeatDone(bool failed) = 0;
        virtual void sessionStopped() = 0;
        // After each attempt to reach the hub: empty when connected, else why not.
        virtual void contactResult(const std::string& failure) { (void)failure; }
        // The numeric address the exchange reached the hub at.
        virtual void hubReached(const std::string& address) { (void)address; }
        // Blocks until the framed reply is ready; empty when there is nothing to send.
        virtual std::string processRequest(const std::string& request,
                                           roamnode::time_point receivedAt) = 0;
    };

    // Periods below this are not used for the timer: a value such as 0 ms would otherwise make
    // the endpoint hammer the hub. The value set is kept and reported unchanged.
    static constexpr std::int64_t kMinimumPeriodMs = 100;

    // After the reply, how long the session waits for the hub to close before it closes and
    // reports. Far below the minimum period, so a hub that keeps the connection open delays
    // only the bookkeeping of each exchange, never the next one.
    static constexpr std::int64_t kHubCloseWaitMs = 10;

    explicit HeartbeatSession(Parent* parent);
    ~HeartbeatSession() override;

    // One immediate exchange, then one every currentInterval().
    void start();
    void restartTimer(std::int64_t periodMs);
    // The running exchange is not interrupted.
    void stop();
    void setHelloMessage(const std::string& text);
    std::string helloMessage() const;

    // Any thread, once, before the owner ends the session thread: the running exchange ends at
    // once and neither it nor any later tick calls the parent again.
    void abort();

    static int timerPeriod(std::int64_t periodMs);

public slots:
    void on_heartbeat_timer();

private:
    enum class Outcome { Failed, Stopped, Done, Aborted };
    Outcome runExchange(HeartbeatExchange& exchange);
    // Timer's thread: queues one exchange unless one is queued already.
    void queueExchange();

    Parent* m_parent;
    mutable std::mutex m_helloMutex;
    std::string m_helloMessage;
    std::unique_ptr<QTimer> m_timer;

    std::atomic<bool> m_aborted{false};
    // Set when an exchange is queued to the session thread, cleared when it begins.
    std::atomic<bool> m_exchangeQueued{false};
    std::mutex m_exchangeMutex;
    HeartbeatExchange* m_exchange = nullptr; // the running exchange, guarded by m_exchangeMutex
};

Q_DECLARE_METATYPE(std::shared_ptr<HeartbeatSession>)

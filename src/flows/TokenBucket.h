#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

// Paces a sender to an average byte rate. Every write is taken on credit: the bucket grants the
// next write only once the debt of the previous ones is repaid, so the bytes written before any
// write never exceed the rate times the time since the first one.
//
// Credit that builds up while the sender is away (a late timer, a busy machine, a socket that
// does not take data) is kept up to `capacity` and spent at once. What the sender misses beyond
// that goes to a backlog of up to `backlogLimit`, made up at `catchUp` times the rate on top of
// it, so that a stall of a tenth of a second costs the average nothing and is followed by no
// burst longer than the capacity. Only credit beyond both is dropped.
//
// Pure: the caller hands in the times (nanoseconds on any one clock), so tests drive time.
// Threads: not synchronised; its owner (one TcpClient) uses it on its event loop's thread.
class TokenBucket
{
public:
    struct Config
    {
        double bytesPerSecond = 1e6; // under 1 counts as 1
        double capacity = 8192;      // bytes of credit kept for a sender that comes late
        double backlogLimit = 0;     // bytes of missed credit made up later
        double catchUp = 0.25;       // the backlog is made up at this fraction of the rate
        std::size_t chunk = 131072;  // bytes granted per write
    };

    // The bucket for a limit in bytes per second. The capacity keeps 10 ms of credit (at least
    // 8,192 bytes): timer wake-ups late by a few milliseconds then cost no rate, and the burst
    // after a longer stall stays 10 ms of traffic. The backlog keeps 250 ms, made up at 25 %
    // above the rate within a second. Writes cover about 1 ms in whole 131,072-byte units (1 to
    // 8): whole copies of the upload body, so its pattern runs on unbroken from one write to the
    // next, and never less than one unit, so that a limit under 65,536 bytes per second leaves a
    // PUT waiting longer than its 2 s watchdog allows.
    static Config forRate(std::int64_t bytesPerSecond);

    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    struct Grant
    {
        std::size_t bytes = 0;    // to write now; 0: nothing now
        std::int64_t retryAt = 0; // with bytes 0: when to ask again, kNever for no more
    };

    explicit TokenBucket(const Config& config);

    // Asks at `now` for the next write. Every byte granted is paid by `end`: near it the grant
    // shrinks to what the remaining time pays for, and once that is under one byte, or `end`
    // has come, nothing more is granted. The first ask starts the clock with an empty bucket, so
    // the first write is taken wholly on credit.
    Grant take(std::int64_t now, std::int64_t end);

    // Credit now held; negative while a debt is being repaid.
    double tokens() const { return m_tokens; }
    // Missed credit still to be made up.
    double backlog() const { return m_backlog; }
    // Credit dropped so far because both the bucket and the backlog were full: the sender was
    // away for longer than they cover.
    double dropped() const { return m_dropped; }

private:
    void refill(std::int64_t now);
    // Nanoseconds until the refill has repaid `debt`, the backlog's share included.
    double repayNs(double debt) const;

    Config m_config;
    double m_bytesPerNs;
    double m_tokens = 0.0;
    double m_backlog = 0.0;
    double m_dropped = 0.0;
    std::int64_t m_lastRefill = 0;
    bool m_running = false;
};

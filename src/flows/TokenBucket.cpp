#include "flows/TokenBucket.h"

#include "bus/TimePoint.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinCapacity = 8192;
constexpr double kCreditSeconds = 0.010;
constexpr double kBacklogSeconds = 0.250;
constexpr double kCatchUp = 0.25;
constexpr double kChunkSeconds = 0.001;
constexpr std::size_t kWriteUnit = 131072;
constexpr std::size_t kMaxUnits = 8;

} // namespace

TokenBucket::Config TokenBucket::forRate(std::int64_t bytesPerSecond)
{
    const double rate = std::max<double>(1.0, static_cast<double>(bytesPerSecond));
    Config config;
    config.bytesPerSecond = rate;
    config.capacity = std::max(kMinCapacity, rate * kCreditSeconds);
    config.backlogLimit = rate * kBacklogSeconds;
    config.catchUp = kCatchUp;
    const double units = std::floor(rate * kChunkSeconds / static_cast<double>(kWriteUnit));
    config.chunk =
        kWriteUnit * std::clamp<std::size_t>(static_cast<std::size_t>(units), 1, kMaxUnits);
    return config;
}

TokenBucket::TokenBucket(const Config& config)
    : m_config(config),
      m_bytesPerNs(std::max(1.0, config.bytesPerSecond) / roamnode::kNanosecondsPerSecond)
{
    m_config.catchUp = std::max(0.0, m_config.catchUp);
    m_config.backlogLimit = std::max(0.0, m_config.backlogLimit);
}

void TokenBucket::refill(std::int64_t now)
{
    if (!m_running) {
        m_running = true;
        m_lastRefill = now;
        return;
    }
    // A clock that steps back earns nothing until it has passed the last refill again: the
    // limit must hold whatever the clock does.
    if (now <= m_lastRefill) {
        return;
    }
    const double earned = static_cast<double>(now - m_lastRefill) * m_bytesPerNs;
    const double madeUp = std::min(m_backlog, earned * m_config.catchUp);
    m_lastRefill = now;
    m_backlog -= madeUp;
    m_tokens += earned + madeUp;
    if (m_tokens > m_config.capacity) {
        const double missed = m_tokens - m_config.capacity;
        const double kept = std::min(missed, m_config.backlogLimit - m_backlog);
        m_tokens = m_config.capacity;
        m_backlog += kept;
        m_dropped += missed - kept;
    }
}

double TokenBucket::repayNs(double debt) const
{
    // While the backlog lasts, the debt is repaid at (1 + catchUp) times the rate.
    const double fast = m_bytesPerNs * (1 + m_config.catchUp);
    if (m_backlog >= (fast - m_bytesPerNs) * (debt / fast)) {
        return debt / fast;
    }
    return (debt - m_backlog) / m_bytesPerNs;
}

TokenBucket::Grant TokenBucket::take(std::int64_t now, std::int64_t end)
{
    refill(now);
    if (m_tokens < 0) {
        // One nanosecond more than the debt needs, so that the retry finds it repaid despite
        // the rounding of the refill.
        const double wait = std::ceil(repayNs(-m_tokens)) + 1;
        return {0, m_lastRefill + static_cast<std::int64_t>(wait)};
    }
    // Credit earned after the end is no part of the request's time.
    if (now >= end) {
        return {0, kNever};
    }
    const double remaining = static_cast<double>(end - now) * m_bytesPerNs;
    const double payable = m_tokens + remaining + std::min(m_backlog, remaining * m_config.catchUp);
    if (payable < 1.0) {
        return {0, kNever};
    }
    const std::size_t bytes =
        std::min(m_config.chunk, static_cast<std::size_t>(std::floor(payable)));
    m_tokens -= static_cast<double>(bytes);
    return {bytes, now};
}

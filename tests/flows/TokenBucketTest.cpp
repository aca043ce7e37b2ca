#include "flows/TokenBucket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

namespace {

constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kSecond = 1000 * kMs;

// A sender driven by simulated time, the way TcpClient drives the bucket: it asks whenever a
// write has gone out (which takes bytes / socketRate) or when the bucket's retry time has come,
// plus the lateness that its timer has at that wake-up.
struct PacedRun
{
    struct Write
    {
        std::int64_t at;
        std::size_t bytes;
    };
    std::vector<Write> writes;
    double bytes = 0;
    bool everyWritePaidBeforeTheNext = true;
    double dropped = 0;

    // The most written within any span of `window` that starts at a write.
    double mostWithin(std::int64_t window) const
    {
        double most = 0;
        for (std::size_t first = 0, last = 0; first < writes.size(); ++first) {
            double sum = 0;
            for (last = first; last < writes.size() && writes[last].at < writes[first].at + window;
                 ++last) {
                sum += static_cast<double>(writes[last].bytes);
            }
            most = std::max(most, sum);
        }
        return most;
    }
};

PacedRun pace(std::int64_t rate, std::int64_t duration,
              const std::function<std::int64_t(int wakeUp)>& lateness,
              double socketBytesPerSecond = 1e10)
{
    TokenBucket bucket(TokenBucket::forRate(rate));
    PacedRun run;
    std::int64_t now = 0;
    // The request ends at `duration`, whatever is still owed or held.
    for (int wakeUp = 0; now < duration && wakeUp < 10000000;) {
        const TokenBucket::Grant grant = bucket.take(now, duration);
        if (grant.bytes > 0) {
            // Nothing may be written beyond what the time since the first write has paid for.
            if (run.bytes > static_cast<double>(rate) * static_cast<double>(now) / 1e9 + 1e-3) {
                run.everyWritePaidBeforeTheNext = false;
            }
            run.bytes += static_cast<double>(grant.bytes);
            run.writes.push_back({now, grant.bytes});
            now += static_cast<std::int64_t>(static_cast<double>(grant.bytes) /
                                             socketBytesPerSecond * 1e9);
        } else if (grant.retryAt == TokenBucket::kNever) {
            break;
        } else {
            EXPECT_GT(grant.retryAt, now);
            now = grant.retryAt + lateness(wakeUp++);
        }
    }
    run.dropped = bucket.dropped();
    return run;
}

} // namespace

TEST(TokenBucket, HoldsTheLimitWithinOnePercentFromOneMegabyteToOneGigabyte)
{
    // Timer wake-ups late by a fraction of a millisecond on every wait, by several ms now and
    // then, a tenth of a second once, and a socket barely faster than the limit: a bucket whose
    // capacity or poll does not scale with the rate, or that cannot make up a stall, falls
    // short here.
    struct Case
    {
        std::int64_t rate;
        std::int64_t lateNs; // how late every lateEvery-th wake-up is; the others 5 µs
        int lateEvery;
        double socketRatio; // how much faster than the limit the socket takes data
    };
    const Case cases[] = {
        {1000000, 0, 1, 100},              // a punctual sender
        {1000000, 5 * kMs, 1, 100},        // every wake-up 5 ms late
        {100000000, 100000, 1, 100},       // timer slack on every wait
        {100000000, 8 * kMs, 7, 1.5},      // a busy machine now and then, a slow socket
        {500000000, 100000, 1, 100},       // timer slack
        {500000000, 300000, 1, 1.2},       // more slack, a socket barely faster than the limit
        {1000000000, 150000, 1, 4},        // timer slack at a gigabyte
        {1000000000, 9 * kMs, 20, 1.5},    // a busy machine now and then
        {1000000000, 500000, 1, 1.1},      // half a millisecond late on every wait
        {1000000, 120 * kMs, 1000, 100},   // a stall longer than the capacity, made up later
        {100000000, 100 * kMs, 1000, 2},   // the same at 100 MB/s
        {1000000000, 120 * kMs, 5000, 2},  // and at a gigabyte
        {100000000, 100 * kMs, 1000, 100}, // the same with a fast socket
    };
    for (const Case& c : cases) {
        const PacedRun run = pace(
            c.rate, kSecond,
            [&](int wakeUp) { return wakeUp % c.lateEvery == 0 ? c.lateNs : 5000; },
            static_cast<double>(c.rate) * c.socketRatio);
        const double limit = static_cast<double>(c.rate);
        SCOPED_TRACE(testing::Message() << "rate " << c.rate << " late " << c.lateNs);
        EXPECT_TRUE(run.everyWritePaidBeforeTheNext);
        EXPECT_LE(run.bytes, limit);
        EXPECT_GE(run.bytes, 0.99 * limit);
        EXPECT_EQ(run.dropped, 0.0);
        // After a stall the capacity goes out at once and the rest at 25 % above the rate: within
        // any 50 ms, the rate with its catch-up, plus the capacity and one write on credit.
        const TokenBucket::Config config = TokenBucket::forRate(c.rate);
        EXPECT_LE(run.mostWithin(50 * kMs),
                  1.25 * limit * 0.05 + config.capacity + static_cast<double>(config.chunk));
    }
}

TEST(TokenBucket, ScalesCapacityBacklogAndWritesWithTheRate)
{
    // For a rate: 10 ms of credit, at least 8,192 bytes; 250 ms of backlog; about 1 ms per write
    // in whole 131,072-byte units, at least one so that the first write is always a full unit.
    const std::tuple<std::int64_t, double, double, std::size_t> cases[] = {
        {1000, 8192, 250, 131072},
        {1000000, 10000, 250000, 131072},
        {500000000, 5000000, 125000000, 3 * 131072},
        {1000000000, 10000000, 250000000, 7 * 131072},
        {10000000000, 100000000, 2500000000, 8 * 131072},
    };
    for (const auto& [rate, capacity, backlogLimit, chunk] : cases) {
        const TokenBucket::Config config = TokenBucket::forRate(rate);
        EXPECT_DOUBLE_EQ(config.capacity, capacity) << rate;
        EXPECT_DOUBLE_EQ(config.backlogLimit, backlogLimit) << rate;
        EXPECT_EQ(config.chunk, chunk) << rate;
    }
}

TEST(TokenBucket, DropsWhatIsMissedBeyondCapacityAndBacklog)
{
    const std::int64_t rate = 100000000;
    const TokenBucket::Config config = TokenBucket::forRate(rate);
    TokenBucket bucket(config);
    const std::int64_t end = 10 * kSecond;
    ASSERT_EQ(bucket.take(0, end).bytes, config.chunk);
    // Away for 2 s: 10 ms of credit are held, 250 ms kept in the backlog, the rest dropped.
    const std::int64_t back = 2 * kSecond;
    std::size_t burst = 0;
    for (TokenBucket::Grant grant = bucket.take(back, end); grant.bytes > 0;
         grant = bucket.take(back, end)) {
        burst += grant.bytes;
    }
    EXPECT_GE(static_cast<double>(burst), config.capacity);
    EXPECT_LE(static_cast<double>(burst), config.capacity + static_cast<double>(config.chunk));
    EXPECT_DOUBLE_EQ(bucket.backlog(), config.backlogLimit);
    EXPECT_NEAR(bucket.dropped(),
                2.0 * rate - static_cast<double>(config.chunk) - config.capacity -
                    config.backlogLimit,
                1.0);
}

// The first write goes on credit and the next waits for its debt, which a clock stepped back
// does not forgive; the last write is paid by the end of the request, and nothing comes after.
TEST(TokenBucket, EveryWriteIsPaidBeforeTheNextAndTheLastByTheEnd)
{
    TokenBucket bucket(TokenBucket::forRate(1000000));
    ASSERT_EQ(bucket.take(10 * kSecond, 20 * kSecond).bytes, 131072u);
    const TokenBucket::Grant next = bucket.take(10 * kSecond + kMs, 20 * kSecond);
    EXPECT_EQ(next.bytes, 0u);
    // 131,072 bytes at 1,000,000 B/s take 131.072 ms to repay.
    EXPECT_NEAR(static_cast<double>(next.retryAt - 10 * kSecond), 131072000.0, 2.0);
    // Stepped back by a second: the debt is still owed in full once the clock comes back.
    const TokenBucket::Grant stepped = bucket.take(9 * kSecond, 20 * kSecond);
    EXPECT_EQ(stepped.bytes, 0u);
    EXPECT_GE(stepped.retryAt, 10 * kSecond + 131072000);
    EXPECT_EQ(bucket.take(10 * kSecond + 131072000 - kMs, 20 * kSecond).bytes, 0u);
    EXPECT_EQ(bucket.take(10 * kSecond + 131072001, 20 * kSecond).bytes, 131072u);

    // 300,000 bytes fit a request of 300 ms; the last write shrinks to what is left of it.
    const PacedRun run = pace(1000000, 300 * kMs, [](int) { return 0; });
    EXPECT_LE(run.bytes, 300000.0);
    EXPECT_GE(run.bytes, 299999.0);

    // 5 µs pay for 5 bytes: once they are repaid at the end, nothing more is granted.
    TokenBucket ending(TokenBucket::forRate(1000000));
    ASSERT_EQ(ending.take(0, 5000).bytes, 5u);
    const TokenBucket::Grant debt = ending.take(2000, 5000);
    ASSERT_EQ(debt.bytes, 0u);
    const TokenBucket::Grant after = ending.take(debt.retryAt, 5000);
    EXPECT_EQ(after.bytes, 0u);
    EXPECT_EQ(after.retryAt, TokenBucket::kNever);
    // Credit earned after the end is no part of the request either.
    EXPECT_EQ(ending.take(1000000, 5000).bytes, 0u);
}

#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The per-second counts and latency statistics of one flow in one run.
//
// Threads: filled by its flow on the engine's thread while the run lasts; written out by the
// result list on the main thread. Every member is behind m_lock, so a read during a run sees a
// consistent snapshot; the lock is never contended in the hot path (one writer per result).
class PXFlowResult
{
public:
    struct CountEntry
    {
        std::int64_t time = 0; // first sample of its second, ns since the epoch, not rounded
        std::uint64_t samples = 0;
        std::uint64_t bytes = 0;
    };

    struct LatencyEntry
    {
        std::int64_t time = 0;
        std::uint64_t count = 0;
        std::uint64_t rejected = 0;
        std::int64_t min = 0; // ns
        std::int64_t max = 0; // ns
        double mean = 0.0;
        double squaredDeviations = 0.0; // Welford's running sum
    };

    // Latency values whose magnitude is beyond this are clock trouble, not network delay.
    static constexpr std::int64_t maxLatency = 60000000000;

    explicit PXFlowResult(std::int64_t id);

    void addSample(std::uint64_t bytes, std::int64_t time);
    // False when the latency was rejected (beyond maxLatency): counted, not measured. The
    // caller says so in the log, as often as it sees fit: a peer can send such frames by the
    // thousand.
    bool addSample(std::uint64_t bytes, std::int64_t time, std::int64_t latency);
    // An empty latency entry for the second that starts at `time` (a trigger's speed reset).
    void addLatencyEntry(std::int64_t time);

    void setSuccess();
    void setError(const std::string& message);

    std::int64_t id() const { return m_id; }
    std::int64_t interval() const { return m_interval; }
    std::string status() const;
    std::string errorMessage() const;
    std::int64_t firstTime() const;
    std::int64_t lastTime() const;
    std::vector<CountEntry> countEntries() const;
    std::vector<LatencyEntry> latencyEntries() const;

    // The flow result object of the result list.
    std::string json() const;
    void appendJson(std::string& out) const;

private:
    std::int64_t second(std::int64_t time) const;
    void addCount(std::uint64_t bytes, std::int64_t time);

    mutable std::mutex m_lock;
    const std::int64_t m_id;
    std::string m_status;
    std::string m_errorMessage;
    const std::int64_t m_interval = 1; // s
    std::int64_t m_firstTime = 0;
    std::int64_t m_lastTime = 0;
    std::vector<CountEntry> m_counts;
    std::vector<LatencyEntry> m_latencies;
    bool m_firstSample = true;
};

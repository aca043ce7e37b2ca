#pragma once

#include <atomic>
#include <cstddef>

// The samples that all monitors of one scenario run may take together. Each monitor is bounded
// on its own too, but a hub can set any number of monitors; with one budget per run the run's
// result stays bounded however many there are.
//
// Threads: shared by the monitors of a run; take() is called from the main thread (first
// samples) and the run thread (later ones), so the count is atomic.
class MonitorSampleBudget
{
public:
    // A day of two monitors sampling once a second, and some 40 MB of result at most.
    static constexpr std::size_t kDefaultLimit = 200000;

    explicit MonitorSampleBudget(std::size_t limit = kDefaultLimit) : m_limit(limit) {}

    // One sample's share. False once the run's limit is reached; the first refusal is logged.
    bool take();

    std::size_t taken() const { return m_taken.load(); }
    std::size_t limit() const { return m_limit; }

private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_taken{0};
    std::atomic<bool> m_warned{false};
};

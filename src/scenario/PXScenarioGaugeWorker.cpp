#include "scenario/PXScenarioGaugeWorker.h"

#include "bus/TimePoint.h"

PXScenarioGaugeWorker::PXScenarioGaugeWorker(std::chrono::milliseconds interval)
    : m_interval(interval)
{
}

void PXScenarioGaugeWorker::setActive(bool active)
{
    m_active = active;
}

void PXScenarioGaugeWorker::addRxSample(const SpeedSample& sample)
{
    // Reports that arrive between runs are stale; dropping them keeps memory bounded.
    if (!m_active)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_rxSamples.push_back(sample);
}

void PXScenarioGaugeWorker::addTxSample(const SpeedSample& sample)
{
    if (!m_active)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_txSamples.push_back(sample);
}

void PXScenarioGaugeWorker::clearSamples()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_rxSamples.clear();
    m_txSamples.clear();
}

void PXScenarioGaugeWorker::requestStop()
{
    m_keepRunning = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopRequested = true;
    }
    m_wake.notify_all();
}

float PXScenarioGaugeWorker::speed(const std::vector<SpeedSample>& samples,
                                   std::chrono::milliseconds interval)
{
    if (samples.empty())
        return 0.0f;
    // Reports of several flows within the same interval add up; anything older than the
    // newest report by (interval - 10 ms) or more belongs to an earlier tick.
    const std::int64_t bound = samples.back().time -
                               roamnode::millisecondsToNanoseconds(interval.count()) +
                               roamnode::millisecondsToNanoseconds(10);
    float sum = 0.0f;
    for (auto it = samples.rbegin(); it != samples.rend(); ++it) {
        if (it->time <= bound)
            break;
        if (it->intervalMs <= 0)
            continue;
        // Bits per millisecond, divided by 1000: Mbit/s.
        sum += it->value * 8.0f / static_cast<float>(it->intervalMs) / 1000.0f;
    }
    return sum;
}

void PXScenarioGaugeWorker::run()
{
    m_keepRunning = true;
    // A steady grid: the next tick is one interval after the last, whatever the work took.
    auto tick = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_keepRunning && !m_stopRequested) {
        tick += m_interval;
        m_wake.wait_until(lock, tick, [this] { return m_stopRequested; });
        if (m_stopRequested)
            break;
        if (!m_active)
            continue;
        const float rx = speed(m_rxSamples, m_interval);
        const float tx = speed(m_txSamples, m_interval);
        m_rxSamples.clear();
        m_txSamples.clear();
        emit gaugeRxSpeed(rx);
        emit gaugeTxSpeed(tx);
    }
    m_stopRequested = false;
}

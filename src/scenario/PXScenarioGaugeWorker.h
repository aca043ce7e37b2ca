#pragma once

#include "bus/TimePoint.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// Turns the flows' byte reports into one receive and one transmit speed in Mbit/s, once per
// interval on a fixed grid.
//
// Threads: run() is the loop of the gauge thread for the whole life of the worker. The sample
// sequences are appended on the main thread and read and emptied by the loop, both under
// m_lock; m_keepRunning and m_active are atomic flags set from the main and run threads. The
// loop waits on m_wake so that requestStop() ends it at once instead of after a whole tick.
class PXScenarioGaugeWorker : public QObject
{
    Q_OBJECT

public:
    struct SpeedSample
    {
        std::int64_t time = 0;       // ns since the epoch
        std::int64_t intervalMs = 0; // the length of the reported span
        float value = 0.0f;          // bytes counted in that span
    };

    explicit PXScenarioGaugeWorker(
        std::chrono::milliseconds interval = std::chrono::milliseconds(1000));

    std::chrono::milliseconds interval() const { return m_interval; }

    void setActive(bool active);
    bool active() const { return m_active; }
    void addRxSample(const SpeedSample& sample);
    void addTxSample(const SpeedSample& sample);
    void clearSamples();
    // Ends the loop at its next wait.
    void requestStop();

    // The sum of the rates of the reports within one interval of the newest one, in Mbit/s.
    static float speed(const std::vector<SpeedSample>& samples, std::chrono::milliseconds interval);

signals:
    void gaugeRxSpeed(float speed);
    void gaugeTxSpeed(float speed);

public slots:
    void run();

private:
    std::atomic<bool> m_keepRunning{false};
    const std::chrono::milliseconds m_interval;
    std::atomic<bool> m_active{false};
    std::vector<SpeedSample> m_rxSamples;
    std::vector<SpeedSample> m_txSamples;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopRequested = false; // guarded by m_lock
};

#pragma once

#include "device/InterfaceSource.h"
#include "device/PXMonitor.h"
#include "device/PXNetworkInfoMonitorResultSet.h"

#include <cstdint>
#include <memory>

// Samples the network interfaces (through the InterfaceSource it is given) once at the start of
// a run and then once per interval, never beyond the run's duration.
//
// Threads: start runs on the main thread and takes the first sample there; the later samples,
// stop and takeResult run on the run thread that drives the event loop given to start. The
// samples are guarded by the sampler's mutex because the first one may land while the loop
// already runs. Each wait owns its timer and holds the sampler only weakly, so destroying the
// monitor while a wait is pending is safe: the wait finds the sampler gone and does nothing.
// stop must be called on the loop's thread, before the loop is destroyed, for the run to end
// without waiting out the interval.
class PXNetworkInfoMonitor : public PXMonitor
{
public:
    // A run keeps at most this many samples (over a day at one per second), so a tiny interval
    // set by the hub cannot grow memory without bound. All monitors of a run together are
    // bounded by the run's MonitorSampleBudget.
    static constexpr std::size_t kMaxSamples = 100000;

    // An interval of 0 or less takes the first sample only. The source must outlive the run:
    // it is read from the run thread.
    PXNetworkInfoMonitor(std::int32_t id, std::int64_t intervalNs, InterfaceSource& source);
    ~PXNetworkInfoMonitor() override;

    void start(boost::asio::io_context& eventLoop, std::uint64_t durationNs) override;
    void stop() override;
    std::shared_ptr<PXMonitorResultSet> takeResult() override;

    std::int64_t interval() const { return m_intervalNs; }

private:
    class Sampler;

    std::int64_t m_intervalNs;
    InterfaceSource& m_source;
    std::shared_ptr<Sampler> m_sampler;
    std::shared_ptr<PXNetworkInfoMonitorResultSet> m_result;
};

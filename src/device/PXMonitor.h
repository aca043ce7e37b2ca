#pragma once

#include "device/MonitorSampleBudget.h"
#include "device/PXMonitorResultSet.h"

#include <cstdint>
#include <memory>

namespace boost::asio {
class io_context;
}

// A scenario component that samples something while a run lasts. Per run, in this order:
// start (main thread, with the run thread's event loop), stop (run thread), takeResult (run
// thread, after the loop can no longer run its handlers).
class PXMonitor
{
public:
    explicit PXMonitor(std::int32_t id) : m_id(id) {}
    virtual ~PXMonitor() = default;

    virtual void start(boost::asio::io_context& eventLoop, std::uint64_t durationNs) = 0;
    virtual void stop() = 0;
    virtual std::shared_ptr<PXMonitorResultSet> takeResult() = 0;

    std::int32_t id() const { return m_id; }

    // The budget the monitors of the next run share; set on the main thread before start. Without
    // one only the monitor's own bound applies.
    void setSampleBudget(std::shared_ptr<MonitorSampleBudget> budget)
    {
        m_budget = std::move(budget);
    }

protected:
    const std::shared_ptr<MonitorSampleBudget>& sampleBudget() const { return m_budget; }

private:
    std::int32_t m_id;
    std::shared_ptr<MonitorSampleBudget> m_budget;
};

#pragma once

#include "device/PXMonitorResultSet.h"
#include "scenario/PXFlowResult.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The record of one scenario run: one flow result per flow started, one monitor result set per
// monitor. Shared by the scenario of the run and the manager's result list.
//
// Threads: flow results are created on the main thread (flows start there), monitor results are
// appended on the run thread after the run, the result list reads on the main thread; m_lock
// guards both sequences. The timestamp is set on the main thread before the run starts.
class PXScenarioResult
{
public:
    explicit PXScenarioResult(std::int32_t id);

    std::int32_t id() const { return m_id; }
    std::int64_t timestamp() const;
    void setTimestamp(std::int64_t timestamp);

    std::shared_ptr<PXFlowResult> createFlowResult(std::int64_t flowId);
    void addMonitorResult(const std::shared_ptr<PXMonitorResultSet>& result);
    void clear();

    std::vector<std::shared_ptr<PXFlowResult>> flowResults() const;
    std::vector<std::shared_ptr<PXMonitorResultSet>> monitorResults() const;

    // The scenario result object of the result list.
    std::string json() const;
    void appendJson(std::string& out) const;

private:
    mutable std::mutex m_lock;
    const std::int32_t m_id;
    std::int64_t m_timestamp = 0;
    std::vector<std::shared_ptr<PXFlowResult>> m_flowResults;
    std::vector<std::shared_ptr<PXMonitorResultSet>> m_monitorResults;
};

// The value of the "resultlist" variable: every record, oldest first.
std::string resultListJson(const std::vector<std::shared_ptr<PXScenarioResult>>& results);

#include "scenario/PXScenarioResult.h"

#include "bus/JsonText.h"

namespace {

const char* monitorStatusText(std::int32_t status)
{
    switch (status) {
    case 0:
        return "success";
    case 1:
        return "error";
    default:
        return "unknown";
    }
}

// Type name and message are the monitor's own fixed texts, written as they are.
std::string monitorJson(const PXMonitorResultSet& result)
{
    return "{\"id\":" + std::to_string(result.id) + ", \"type\":\"" + result.typeName +
           "\", \"status\":\"" + monitorStatusText(result.status) + "\", \"errormsg\":\"" +
           result.errorMessage + "\", \"monitorresult\":" + result.resultJson() + "}";
}

} // namespace

PXScenarioResult::PXScenarioResult(std::int32_t id) : m_id(id) {}

std::int64_t PXScenarioResult::timestamp() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timestamp;
}

void PXScenarioResult::setTimestamp(std::int64_t timestamp)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_timestamp = timestamp;
}

std::shared_ptr<PXFlowResult> PXScenarioResult::createFlowResult(std::int64_t flowId)
{
    auto result = std::make_shared<PXFlowResult>(flowId);
    std::lock_guard<std::mutex> guard(m_lock);
    m_flowResults.push_back(result);
    return result;
}

void PXScenarioResult::addMonitorResult(const std::shared_ptr<PXMonitorResultSet>& result)
{
    if (!result)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_monitorResults.push_back(result);
}

void PXScenarioResult::clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_flowResults.clear();
    m_monitorResults.clear();
}

std::vector<std::shared_ptr<PXFlowResult>> PXScenarioResult::flowResults() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_flowResults;
}

std::vector<std::shared_ptr<PXMonitorResultSet>> PXScenarioResult::monitorResults() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_monitorResults;
}

std::string PXScenarioResult::json() const
{
    std::string out;
    appendJson(out);
    return out;
}

void PXScenarioResult::appendJson(std::string& out) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    out += "{\"scenarioid\": ";
    roamnode::appendNumber(out, m_id);
    out += ", \"timestamp\": ";
    roamnode::appendNumber(out, m_timestamp);
    out += ", \"flows\":[";
    for (std::size_t i = 0; i < m_flowResults.size(); ++i) {
        if (i > 0)
            out += ", ";
        m_flowResults[i]->appendJson(out);
    }
    out += ']';
    if (!m_monitorResults.empty()) {
        out += ", \"monitors\":[";
        for (std::size_t i = 0; i < m_monitorResults.size(); ++i) {
            if (i > 0)
                out += ", ";
            out += monitorJson(*m_monitorResults[i]);
        }
        out += ']';
    }
    out += '}';
}

std::string resultListJson(const std::vector<std::shared_ptr<PXScenarioResult>>& results)
{
    std::string out = "[";
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (i > 0)
            out += ", ";
        results[i]->appendJson(out);
    }
    out += ']';
    return out;
}

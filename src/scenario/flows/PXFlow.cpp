#include "scenario/flows/PXFlow.h"

#include "scenario/PXFlowResult.h"

#include <QtGlobal>

PXFlow::PXFlow(std::uint32_t id, FlowKind kind, IpVersion ipVersion,
               std::shared_ptr<PXFlowResult> result)
    : m_id(id), m_kind(kind), m_ipVersion(ipVersion), m_result(std::move(result))
{
}

PXFlow::~PXFlow() = default;

void PXFlow::resetSpeed()
{
    m_bytesSinceReport = 0;
    m_lastReport = roamnode::wholeSecond(roamnode::nowNanoseconds());
}

void PXFlow::reportBytes(roamnode::time_point now, std::uint64_t counted)
{
    m_bytesSinceReport += counted;
    const std::int64_t intervalMs = (m_result ? m_result->interval() : 1) * 1000;
    const std::int64_t elapsedMs =
        roamnode::nanosecondsToMilliseconds(roamnode::toNanoseconds(now) - m_lastReport);
    if (elapsedMs < intervalMs)
        return;
    const float bytes = static_cast<float>(m_bytesSinceReport);
    const std::chrono::milliseconds diffTime(elapsedMs);
    if (m_kind == FlowKind::HttpPut || m_kind == FlowKind::UdpStream)
        emit flowTxSpeed(now, bytes, diffTime);
    else
        emit flowRxSpeed(now, bytes, diffTime);
    m_bytesSinceReport = 0;
    m_lastReport = roamnode::toNanoseconds(now);
}

void PXFlow::failStart(const std::string& what, const std::string& cause)
{
    const std::string message = what + ": " + cause;
    qWarning("PXFlow::run: %s", message.c_str());
    failResult(message);
}

void PXFlow::finishResult()
{
    std::lock_guard<std::mutex> lock(m_endLock);
    if (m_result && !m_failed)
        m_result->setSuccess();
}

void PXFlow::failResult(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_endLock);
    m_failed = true;
    if (m_result)
        m_result->setError(message);
}

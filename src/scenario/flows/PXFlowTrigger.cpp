#include "scenario/flows/PXFlowTrigger.h"

#include "scenario/PXFlowResult.h"

PXFlowTrigger::PXFlowTrigger(std::uint32_t id, IpVersion ipVersion, const PXTriggerPlan& plan,
                             std::uint64_t receiveDuration, std::shared_ptr<PXFlowResult> result)
    : PXFlow(id, FlowKind::UdpTrigger, ipVersion, std::move(result)), m_config(plan.engine),
      m_frameOverhead(ipVersion == IpVersion::V6 ? 62 : 42)
{
    m_config.receiveDuration = receiveDuration;
}

PXFlowTrigger::~PXFlowTrigger() = default;

void PXFlowTrigger::stop()
{
    if (m_engine)
        m_engine->stop();
}

void PXFlowTrigger::releaseEngine()
{
    m_engine.reset();
}

void PXFlowTrigger::resetSpeed()
{
    PXFlow::resetSpeed();
    if (m_config.latencyOn && result())
        result()->addLatencyEntry(lastReport());
}

void PXFlowTrigger::run()
{
    const std::string what = "Cannot start Trigger flow " + std::to_string(id()) +
                             " (local UDP port " + std::to_string(m_config.dstPort) + ", source " +
                             m_config.source + " port " + std::to_string(m_config.srcPort) + ")";
    startEngine(m_engine, std::weak_ptr<Trigger::Listener>(weak_from_this()), m_config, what);
}

void PXFlowTrigger::onFrameReceived(roamnode::time_point now, std::size_t bytes)
{
    const std::uint64_t counted = bytes + m_frameOverhead;
    reportBytes(now, counted);
    result()->addSample(counted, roamnode::toNanoseconds(now));
}

void PXFlowTrigger::onFrameReceivedWithLatency(roamnode::time_point now, std::size_t bytes,
                                               std::int64_t latencyNs)
{
    const std::uint64_t counted = bytes + m_frameOverhead;
    reportBytes(now, counted);
    if (!result()->addSample(counted, roamnode::toNanoseconds(now), latencyNs)) {
        m_rejectedTagWarnings.warn([latencyNs] {
            return "PXFlowResult:: Rejecting timestamp, more than 60s ago! " +
                   std::to_string(latencyNs);
        });
    }
}

void PXFlowTrigger::onFinished()
{
    finishResult();
}

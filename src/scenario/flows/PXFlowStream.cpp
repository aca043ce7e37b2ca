#include "scenario/flows/PXFlowStream.h"

#include "scenario/PXFlowResult.h"

PXFlowStream::PXFlowStream(std::uint32_t id, IpVersion ipVersion, const Stream::Config& config,
                           std::shared_ptr<PXFlowResult> result)
    : PXFlow(id, FlowKind::UdpStream, ipVersion, std::move(result)), m_config(config),
      m_frameOverhead(ipVersion == IpVersion::V6 ? 62 : 42)
{
}

PXFlowStream::~PXFlowStream() = default;

void PXFlowStream::stop()
{
    if (m_engine)
        m_engine->stop();
}

void PXFlowStream::releaseEngine()
{
    m_engine.reset();
}

void PXFlowStream::run()
{
    const std::string what = "Cannot start STREAM flow " + std::to_string(id()) +
                             " (local UDP port " + std::to_string(m_config.srcPort) +
                             ", destination " + m_config.destination + " port " +
                             std::to_string(m_config.dstPort) + ")";
    startEngine(m_engine, std::weak_ptr<Stream::Listener>(weak_from_this()), m_config, what);
}

void PXFlowStream::onFrameSent(roamnode::time_point now, std::size_t bytes)
{
    const std::uint64_t counted = bytes + m_frameOverhead;
    reportBytes(now, counted);
    result()->addSample(counted, roamnode::toNanoseconds(now));
}

void PXFlowStream::onFinished()
{
    finishResult();
}

void PXFlowStream::onFailed(const std::string& reason)
{
    failResult(reason);
}

#include "scenario/flows/PXFlowTcp.h"

#include "scenario/PXFlowResult.h"

PXFlowTcp::PXFlowTcp(std::uint32_t id, IpVersion ipVersion, const MultiConnect::Config& config,
                     std::shared_ptr<PXFlowResult> result)
    : PXFlow(id, config.method == 1 ? FlowKind::HttpPut : FlowKind::HttpGet, ipVersion,
             std::move(result)),
      m_config(config)
{
}

PXFlowTcp::~PXFlowTcp() = default;

void PXFlowTcp::stop()
{
    if (m_engine)
        m_engine->stop();
}

void PXFlowTcp::releaseEngine()
{
    m_engine.reset();
}

void PXFlowTcp::run()
{
    const std::string what = "Cannot start TCP flow " + std::to_string(id()) + " (local TCP port " +
                             std::to_string(m_config.srcPort) + ", server " + m_config.destination +
                             " port " + std::to_string(m_config.dstPort) + ")";
    startEngine(m_engine, std::weak_ptr<MultiConnect::Listener>(weak_from_this()), m_config, what);
}

void PXFlowTcp::onBytes(std::size_t bytes, roamnode::time_point now)
{
    reportBytes(now, bytes);
}

void PXFlowTcp::onFinished()
{
    finishResult();
}

void PXFlowTcp::onFailed(const std::string& reason)
{
    failResult(reason);
}

#pragma once

#include "flows/MultiConnect.h"
#include "scenario/flows/PXFlow.h"

#include <memory>

// An HTTP GET or PUT flow over TCP ("tcpv4", "tcpv6") against the hub's test server.
//
// Threads: see PXFlow. onBytes and onFinished arrive on the MultiConnect's own thread.
class PXFlowTcp : public PXFlow,
                  public MultiConnect::Listener,
                  public std::enable_shared_from_this<PXFlowTcp>
{
    Q_OBJECT

public:
    // GET or PUT as the configuration's method says.
    PXFlowTcp(std::uint32_t id, IpVersion ipVersion, const MultiConnect::Config& config,
              std::shared_ptr<PXFlowResult> result);
    ~PXFlowTcp() override;

    void stop() override;
    void releaseEngine() override;
    void run() override;

    void onBytes(std::size_t bytes, roamnode::time_point now) override;
    void onFinished() override;
    void onFailed(const std::string& reason) override;

    const MultiConnect::Config& config() const { return m_config; }
    bool hasEngine() const { return m_engine != nullptr; }

private:
    std::shared_ptr<MultiConnect> m_engine;
    const MultiConnect::Config m_config;
};

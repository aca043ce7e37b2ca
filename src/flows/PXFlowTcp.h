#pragma once

#include "MultiConnect.h"
#include "PXFlow.h"

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
    PXFlowTcp(std::uint32_t id, FlowKind kind, IpVersion ipVersion, PXScenario* scenario);
    ~PXFlowTcp() override;

    ScenarioErrorCode parseFlowContent(const Json::Value& content) override;
    void stop() override;
    void releaseEngine() override;
    void run() override;

    void onBytes(std::size_t bytes, roamnode::time_point now) override;
    void onFinished() override;
    void onFailed(const std::string& reason) override;

    const MultiConnect::Config& config() const { return m_config; }
    bool hasEngine() const { return m_engine != nullptr; }

    // "get" or "put", read before the flow is created because it decides the flow's kind.
    // Returns 0 and sets kind, or code 11 (missing, not a string) or 12 (another method).
    static ScenarioErrorCode readRequestMethod(const Json::Value& content, FlowKind& kind);

private:
    std::shared_ptr<MultiConnect> m_engine;
    MultiConnect::Config m_config;
};

#pragma once

#include "flows/Trigger.h"
#include "flows/WarningLimiter.h"
#include "scenario/flows/PXFlow.h"

#include <memory>

// A UDP flow that this endpoint receives ("triggerv4", "triggerv6"), optionally measuring the
// one-way latency from the sender's time tag.
//
// Threads: see PXFlow. The listener operations arrive on the thread of the UdpContext of
// (family, dstPort).
class PXFlowTrigger : public PXFlow,
                      public Trigger::Listener,
                      public std::enable_shared_from_this<PXFlowTrigger>
{
    Q_OBJECT

public:
    // The engine receives for `receiveDuration` ns, the scenario's duration.
    PXFlowTrigger(std::uint32_t id, IpVersion ipVersion, const PXTriggerPlan& plan,
                  std::uint64_t receiveDuration, std::shared_ptr<PXFlowResult> result);
    ~PXFlowTrigger() override;

    void stop() override;
    void releaseEngine() override;
    void resetSpeed() override;
    void run() override;

    void onFrameReceived(roamnode::time_point now, std::size_t bytes) override;
    void onFrameReceivedWithLatency(roamnode::time_point now, std::size_t bytes,
                                    std::int64_t latencyNs) override;
    void onFinished() override;

    const Trigger::Config& config() const { return m_config; }
    std::uint64_t frameOverhead() const { return m_frameOverhead; }
    bool hasEngine() const { return m_engine != nullptr; }

private:
    std::shared_ptr<Trigger> m_engine;
    Trigger::Config m_config;
    const std::uint64_t m_frameOverhead;
    // Frames whose tag is far off (a sender without a synchronised clock, a frame too short for
    // the tag) can come by the thousand a second. Used on the engine's thread only.
    WarningLimiter m_rejectedTagWarnings;
};

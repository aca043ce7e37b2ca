#pragma once

#include "flows/Stream.h"
#include "scenario/flows/PXFlow.h"

#include <memory>

// A UDP stream that this endpoint sends ("streamv4", "streamv6").
//
// Threads: see PXFlow. onFrameSent and onFinished arrive on the thread of the UdpContext of
// (family, srcPort).
class PXFlowStream : public PXFlow,
                     public Stream::Listener,
                     public std::enable_shared_from_this<PXFlowStream>
{
    Q_OBJECT

public:
    PXFlowStream(std::uint32_t id, IpVersion ipVersion, const Stream::Config& config,
                 std::shared_ptr<PXFlowResult> result);
    ~PXFlowStream() override;

    void stop() override;
    void releaseEngine() override;
    void run() override;

    void onFrameSent(roamnode::time_point now, std::size_t bytes) override;
    void onFinished() override;
    void onFailed(const std::string& reason) override;

    const Stream::Config& config() const { return m_config; }
    std::uint64_t frameOverhead() const { return m_frameOverhead; }
    bool hasEngine() const { return m_engine != nullptr; }

private:
    const Stream::Config m_config;
    // Ethernet (14), IPv4 (20) or IPv6 (40) and UDP (8) headers, counted with every frame.
    const std::uint64_t m_frameOverhead;
    // Held by the flow alone; shared only because the engine's handlers may keep weak references.
    std::shared_ptr<Stream> m_engine;
};

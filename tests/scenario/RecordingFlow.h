#pragma once

#include "scenario/PXFlowResult.h"
#include "scenario/flows/PXFlow.h"

#include <atomic>

// A flow without engine that records what the executor asks of it.
class RecordingFlow : public PXFlow
{
public:
    explicit RecordingFlow(std::uint32_t id)
        : PXFlow(id, FlowKind::UdpTrigger, IpVersion::V4, std::make_shared<PXFlowResult>(id))
    {
    }

    void stop() override { ++stops; }
    void releaseEngine() override
    {
        // The executor releases after every flow has been stopped.
        stoppedBeforeRelease = stops.load() > 0;
        ++releases;
    }
    void run() override { ++runs; }

    std::atomic<int> runs{0};
    std::atomic<int> stops{0};
    std::atomic<int> releases{0};
    std::atomic<bool> stoppedBeforeRelease{false};
};

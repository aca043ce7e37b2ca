#pragma once

#include "PXFlow.h"

#include <atomic>

// A flow without engine that records what the executor asks of it; run emits one speed
// report per direction so the worker's connections can be counted.
class RecordingFlow : public PXFlow
{
public:
    RecordingFlow(std::uint32_t id, PXScenario* scenario)
        : PXFlow(id, FlowKind::UdpTrigger, IpVersion::V4, scenario)
    {
    }

    ScenarioErrorCode parseFlowContent(const Json::Value&) override { return SCENARIO_OK; }
    void stop() override { ++stops; }
    void releaseEngine() override
    {
        // The executor releases after every flow has been stopped.
        stoppedBeforeRelease = stops.load() > 0;
        ++releases;
    }
    void run() override
    {
        prepare();
        ++runs;
        emit flowRxSpeed(std::chrono::system_clock::now(), 125000.0f,
                         std::chrono::milliseconds(1000));
    }

    int speedConnections()
    {
        return receivers(
            SIGNAL(flowRxSpeed(roamnode::time_point, float, std::chrono::milliseconds)));
    }

    std::atomic<int> runs{0};
    std::atomic<int> stops{0};
    std::atomic<int> releases{0};
    std::atomic<bool> stoppedBeforeRelease{false};
};

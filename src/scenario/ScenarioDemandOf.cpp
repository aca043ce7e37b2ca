#include "ScenarioDemandOf.h"

#include "PXFlowStream.h"
#include "PXFlowTcp.h"
#include "PXFlowTrigger.h"

#include <algorithm>

ScenarioDemand scenarioDemandOf(const PXScenario& scenario)
{
    ScenarioDemand demand;
    demand.duration = scenario.duration;
    demand.flowCount = scenario.flows.size();
    for (const auto& flow : scenario.flows) {
        if (const auto* stream = dynamic_cast<const PXFlowStream*>(flow.get())) {
            const Stream::Config& config = stream->config();
            // The largest frame: a content list that mixes sizes is held to its worst case.
            std::size_t frameBytes = 0;
            for (const FrameTemplate& frame : config.frames)
                frameBytes = std::max(frameBytes, frame.bytes.size());
            demand.destinations.push_back(config.destination);
            demand.streamRates.push_back(streamBitsPerSecond(frameBytes, config.interFrameGap));
            demand.localUdpPorts.push_back(config.srcPort);
        } else if (const auto* tcp = dynamic_cast<const PXFlowTcp*>(flow.get())) {
            demand.destinations.push_back(tcp->config().destination);
            demand.httpRateLimits.push_back(tcp->config().rateLimit);
        } else if (const auto* trigger = dynamic_cast<const PXFlowTrigger*>(flow.get())) {
            demand.localUdpPorts.push_back(trigger->config().dstPort);
        }
    }
    return demand;
}

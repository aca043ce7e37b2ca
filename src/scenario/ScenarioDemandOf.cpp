#include "scenario/ScenarioDemandOf.h"

#include <algorithm>

ScenarioDemand scenarioDemandOf(const PXScenarioPlan& scenario)
{
    ScenarioDemand demand;
    demand.duration = scenario.duration;
    demand.flowCount = scenario.flows.size();
    for (const PXFlowPlan& flow : scenario.flows) {
        if (const auto* stream = std::get_if<Stream::Config>(&flow.content)) {
            // The largest frame: a content list that mixes sizes is held to its worst case.
            std::size_t frameBytes = 0;
            for (const FrameTemplate& frame : stream->frames)
                frameBytes = std::max(frameBytes, frame.bytes.size());
            demand.destinations.push_back(stream->destination);
            demand.streamRates.push_back(streamBitsPerSecond(frameBytes, stream->interFrameGap));
            demand.localUdpPorts.push_back(stream->srcPort);
        } else if (const auto* http = std::get_if<MultiConnect::Config>(&flow.content)) {
            demand.destinations.push_back(http->destination);
            demand.httpRateLimits.push_back(http->rateLimit);
        } else if (const auto* trigger = std::get_if<PXTriggerPlan>(&flow.content)) {
            demand.localUdpPorts.push_back(trigger->engine.dstPort);
        }
    }
    return demand;
}

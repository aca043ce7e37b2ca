#include "scenario/ScenarioSpec.h"

FlowKind PXFlowSpec::kind() const
{
    if (std::holds_alternative<Stream::Config>(content))
        return FlowKind::UdpStream;
    if (std::holds_alternative<PXTriggerSpec>(content))
        return FlowKind::UdpTrigger;
    return std::get<MultiConnect::Config>(content).method == 1 ? FlowKind::HttpPut
                                                               : FlowKind::HttpGet;
}

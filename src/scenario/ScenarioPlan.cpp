#include "scenario/ScenarioPlan.h"

FlowKind PXFlowPlan::kind() const
{
    if (std::holds_alternative<Stream::Config>(content))
        return FlowKind::UdpStream;
    if (std::holds_alternative<PXTriggerPlan>(content))
        return FlowKind::UdpTrigger;
    return std::get<MultiConnect::Config>(content).method == 1 ? FlowKind::HttpPut
                                                               : FlowKind::HttpGet;
}

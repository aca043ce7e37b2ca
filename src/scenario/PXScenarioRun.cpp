#include "scenario/PXScenarioRun.h"

#include "device/PXNetworkInfoMonitor.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/flows/PXFlowStream.h"
#include "scenario/flows/PXFlowTcp.h"
#include "scenario/flows/PXFlowTrigger.h"

namespace {

std::shared_ptr<PXFlow> buildFlow(const PXFlowPlan& plan, std::uint64_t duration,
                                  std::shared_ptr<PXFlowResult> result)
{
    if (const auto* stream = std::get_if<Stream::Config>(&plan.content))
        return std::make_shared<PXFlowStream>(plan.id, plan.ipVersion, *stream, std::move(result));
    if (const auto* trigger = std::get_if<PXTriggerPlan>(&plan.content))
        return std::make_shared<PXFlowTrigger>(plan.id, plan.ipVersion, *trigger, duration,
                                               std::move(result));
    return std::make_shared<PXFlowTcp>(
        plan.id, plan.ipVersion, std::get<MultiConnect::Config>(plan.content), std::move(result));
}

} // namespace

std::shared_ptr<PXScenarioRun> buildScenarioRun(const PXScenarioPlan& plan,
                                                std::shared_ptr<PXScenarioResult> result,
                                                InterfaceSource& interfaces,
                                                const std::shared_ptr<MonitorSampleBudget>& budget)
{
    auto run = std::make_shared<PXScenarioRun>();
    run->duration = plan.duration;
    run->result = std::move(result);
    for (const PXFlowPlan& flow : plan.flows) {
        // The result list carries the 32-bit id widened with its sign.
        auto flowResult = run->result->createFlowResult(static_cast<std::int32_t>(flow.id));
        run->flows.push_back(buildFlow(flow, plan.duration, std::move(flowResult)));
    }
    for (const PXMonitorPlan& monitor : plan.monitors) {
        auto built =
            std::make_shared<PXNetworkInfoMonitor>(monitor.id, monitor.intervalNs, interfaces);
        built->setSampleBudget(budget);
        run->monitors.push_back(std::move(built));
    }
    return run;
}

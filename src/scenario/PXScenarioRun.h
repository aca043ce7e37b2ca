#pragma once

#include "device/MonitorSampleBudget.h"
#include "scenario/ScenarioPlan.h"

#include <cstdint>
#include <memory>
#include <vector>

class InterfaceSource;
class PXFlow;
class PXMonitor;
class PXScenarioResult;

// The runtime side of one run: the flows and monitors built from a scenario plan when its start
// time comes, and the result record they count into.
//
// Threads: built on the main thread; the executor starts, stops and releases them as
// PXScenarioExecutor says. Nothing here changes after it is built.
struct PXScenarioRun
{
    std::uint64_t duration = 0; // ns
    std::shared_ptr<PXScenarioResult> result;
    std::vector<std::shared_ptr<PXFlow>> flows;
    std::vector<std::shared_ptr<PXMonitor>> monitors;
};

// One flow result per flow, in the order of the description, and one monitor per monitor plan
// sampling `interfaces`; the monitors share `budget`.
std::shared_ptr<PXScenarioRun> buildScenarioRun(const PXScenarioPlan& plan,
                                                std::shared_ptr<PXScenarioResult> result,
                                                InterfaceSource& interfaces,
                                                const std::shared_ptr<MonitorSampleBudget>& budget);

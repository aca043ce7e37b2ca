// The scenario description parser on any text, and the result list a parsed scenario writes.
#include "FuzzSupport.h"
#include "device/InterfaceSource.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/PXScenarioRun.h"
#include "scenario/ScenarioDescription.h"

#include <string>

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    PXScenarioPlan scenario;
    const ScenarioErrorCode code = parseScenarioDescription(text, scenario);
    if (code != 0) {
        require(scenario.description.empty() && scenario.flows.empty(),
                "a refused description leaves the scenario as it was");
        require(!scenarioErrorText(code).empty(), "every refusal has its text");
        return 0;
    }
    require(!scenario.description.empty(), "an accepted description keeps its text");
    auto record = std::make_shared<PXScenarioResult>(scenario.id);
    const auto run = buildScenarioRun(scenario, record, hostInterfaceSource(), nullptr);
    require(run->flows.size() == scenario.flows.size(), "a flow for every flow read");
    require(fuzzsupport::isJson(resultListJson({record})),
            "the result list of a parsed scenario is JSON");
    return 0;
}

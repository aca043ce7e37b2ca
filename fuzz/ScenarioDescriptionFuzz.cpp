// The scenario description parser on any text, and the result list a parsed scenario writes.
#include "FuzzSupport.h"
#include "PXScenario.h"
#include "PXScenarioResult.h"
#include "ScenarioDescription.h"

#include <string>

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::shared_ptr<PXScenario> scenario;
    const ScenarioErrorCode code = parseScenarioDescription(text, scenario);
    if (code != 0) {
        require(scenario == nullptr, "a refused description leaves the scenario as it was");
        require(!scenarioErrorText(code).empty(), "every refusal has its text");
        return 0;
    }
    require(scenario != nullptr && scenario->result != nullptr, "an accepted description");
    require(fuzzsupport::isJson(resultListJson({scenario->result})),
            "the result list of a parsed scenario is JSON");
    return 0;
}

#pragma once

#include "PXScenario.h"
#include "ScenarioDemand.h"

// What a parsed scenario asks for, in the local policy's terms. The one place that knows both
// the flow objects and the policy's plain record.
ScenarioDemand scenarioDemandOf(const PXScenario& scenario);

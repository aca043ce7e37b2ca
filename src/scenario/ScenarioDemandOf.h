#pragma once

#include "policy/ScenarioDemand.h"
#include "scenario/ScenarioPlan.h"

// What a parsed scenario asks for, in the local policy's terms. The one place that knows both
// the scenario's records and the policy's plain record.
ScenarioDemand scenarioDemandOf(const PXScenarioPlan& scenario);

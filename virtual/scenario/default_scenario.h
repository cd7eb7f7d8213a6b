// The embedded default scenario, what is attached when the library is first used, and the reset.
#pragma once

#include "scenario/scenario_file.h"

namespace vcable {

// Identity of the embedded default cable.
constexpr const char* kDefaultDescription = "ZV7300LNK";
constexpr const char* kDefaultSerial = "ZV000001";

// Attaches the default devices to an empty table.
void LoadDefaultDevices();

// Back to the scenario a reset restores: devices, library version, call log, fault rules, model
// errors, model clock.
void ResetScenario();

// Makes resets restore a copy of this parsed scenario instead of the embedded default (null: the
// default again). Applying a parsed scenario builds only what it describes, so a small one resets
// quickly.
void SetResetScenario(const scenario_file::ScenarioDesc* scenario);

}  // namespace vcable

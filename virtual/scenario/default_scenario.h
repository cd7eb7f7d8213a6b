// The embedded default scenario, what is attached when the library is first used, and the reset.
#pragma once

namespace vcable {

// Identity of the embedded default cable.
constexpr const char* kDefaultDescription = "ZV7300LNK";
constexpr const char* kDefaultSerial = "ZV000001";

// Attaches the default devices to an empty table.
void LoadDefaultDevices();

// Back to the default scenario: devices, library version, call log, fault rules, model errors.
void ResetScenario();

}  // namespace vcable

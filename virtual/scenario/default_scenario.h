// Scenarios: what is attached when the library loads and after a reset.
#pragma once

namespace vcable {

// Identity of the embedded default cable; also the manufacturer of every programmed device a
// scenario adds without saying otherwise.
constexpr const char* kDefaultDescription = "ZV7300LNK";
constexpr const char* kDefaultSerial = "ZV000001";
constexpr const char* kDefaultManufacturer = "Zelvorinex";
constexpr const char* kDefaultManufacturerId = "ZV";

// Attaches the default devices to an empty table.
void LoadDefaultDevices();

// What the table holds when it is first used: the scenario file named by the environment variable
// VCABLE_SCENARIO, or the default devices when it is unset or cannot be loaded.
void LoadInitialScenario();

// Back to the default scenario: devices, library version, call log, fault rules, model errors.
void ResetScenario();

}  // namespace vcable

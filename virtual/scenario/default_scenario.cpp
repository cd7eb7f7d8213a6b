// The embedded default scenario: one programmed ZV7300LNK cable with a loopback on channel B.
#include "scenario/default_scenario.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "chip/devices.h"
#include "chip/model_options.h"
#include "faults/faults.h"
#include "record/call_log.h"
#include "scenario/program_files.h"

namespace vcable {
namespace {

// What the device table holds when it is first used: the scenario file named by the environment
// variable VCABLE_SCENARIO, or the default devices when it is unset or cannot be loaded.
void LoadInitialScenario() {
    LoadDefaultDevices();
    const char* path = std::getenv("VCABLE_SCENARIO");
    std::string error;
    if (path != nullptr && *path != '\0' && !scenario_file::LoadFile(path, error)) {
        std::fprintf(stderr, "virtual cable: VCABLE_SCENARIO: %s; using the default scenario\n",
                     error.c_str());
    }
    StartProgramFiles();
}

// Installed when the library loads, before anything can use the table.
[[maybe_unused]] const bool kInitialLoaderInstalled =
    (SetInitialScenarioLoader(&LoadInitialScenario), true);

// The scenario a reset restores when it is not the embedded default; written by the control API.
std::optional<scenario_file::ScenarioDesc>& ResetTarget() {
    static std::optional<scenario_file::ScenarioDesc> scenario;
    return scenario;
}

}  // namespace

void LoadDefaultDevices() {
    int cable = AddDualDevice(kDefaultDescription, kDefaultSerial, true);
    DeviceAt(cable)->channels[1].peer = MakeLoopbackPeer();
}

void ResetScenario() {
    if (ResetTarget()) {
        scenario_file::Apply(*ResetTarget());
    } else {
        ClearDevices();
        LoadDefaultDevices();
        SetLibraryVersion(kDefaultLibraryVersion);
        SetScenarioOptions(ReplyDelivery::kImmediate, Platform::kWindows);
        ClearCallLog();
        ClearModelErrors();
        ClearFaults();
    }
    ResetWireClock();
}

void SetResetScenario(const scenario_file::ScenarioDesc* scenario) {
    if (scenario) {
        ResetTarget() = *scenario;
    } else {
        ResetTarget().reset();
    }
}

}  // namespace vcable

// The embedded default scenario: one programmed ZV7300LNK cable with a loopback on channel B.
#include "scenario/default_scenario.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "chip/devices.h"
#include "chip/model_options.h"
#include "faults/faults.h"
#include "record/call_log.h"
#include "scenario/scenario_file.h"

namespace vcable {
namespace {

// What the device table holds when it is first used: the scenario file named by the environment
// variable VCABLE_SCENARIO, or the default devices when it is unset or cannot be loaded.
void LoadInitialScenario() {
    LoadDefaultDevices();
    const char* path = std::getenv("VCABLE_SCENARIO");
    if (path == nullptr || *path == '\0') return;
    std::string error;
    if (!scenario_file::LoadFile(path, error)) {
        std::fprintf(stderr, "virtual cable: VCABLE_SCENARIO: %s; using the default scenario\n",
                     error.c_str());
    }
}

// Installed when the library loads, before anything can use the table.
[[maybe_unused]] const bool kInitialLoaderInstalled =
    (SetInitialScenarioLoader(&LoadInitialScenario), true);

}  // namespace

void LoadDefaultDevices() {
    int cable = AddDualDevice(kDefaultDescription, kDefaultSerial, true);
    DeviceAt(cable)->channels[1].peer = MakeLoopbackPeer();
}

void ResetScenario() {
    ClearDevices();
    LoadDefaultDevices();
    SetLibraryVersion(kDefaultLibraryVersion);
    SetScenarioOptions(ReplyDelivery::kImmediate, Platform::kWindows);
    ClearCallLog();
    ClearModelErrors();
    ClearFaults();
    ResetWireClock();
}

}  // namespace vcable

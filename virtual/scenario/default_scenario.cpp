// The embedded default scenario: one programmed ZV7300LNK cable with a loopback on channel B.
#include "scenario/default_scenario.h"

#include "chip/devices.h"
#include "faults/faults.h"
#include "record/call_log.h"

namespace vcable {

void LoadDefaultDevices() {
    int cable = AddDualDevice(kDefaultDescription, kDefaultSerial, true);
    DeviceAt(cable)->channels[1].peer = MakeLoopbackPeer();
}

void ResetScenario() {
    ClearDevices();
    LoadDefaultDevices();
    SetLibraryVersion(kDefaultLibraryVersion);
    ClearCallLog();
    ClearModelErrors();
    ClearFaults();
    ResetWireClock();
}

}  // namespace vcable

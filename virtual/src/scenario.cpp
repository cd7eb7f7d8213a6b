// The embedded default scenario: one programmed ZV7300LNK cable with a loopback on channel B.
#include "scenario.h"

#include "call_log.h"
#include "devices.h"
#include "faults.h"

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

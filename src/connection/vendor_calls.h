// The exports that are thin shells over single vendor calls, and the port cycle that the
// provisioning procedures share with ResetDevice2.
#pragma once

namespace kl::connection {

// Cycles the USB port of the current channel, so that the chip enumerates again from its EEPROM:
// 0, or 4 when the vendor library reported a failure.
int CycleCurrentPort();

}  // namespace kl::connection

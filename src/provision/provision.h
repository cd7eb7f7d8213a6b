// The factory procedures that give a cable its USB identity (ProgramDevice) or take it back to a
// blank EEPROM (Erase_ProgedEEPROM), and the pieces they are built from.
#pragma once

#include <cstdint>

#include "binding/program_data.h"
#include "platform/platform.h"

namespace kl::provision {

// The cable's USB identity as the template programs it. A private test pair, not a vendor's:
// see docs/usb-identity.md before shipping cables with it.
constexpr uint16_t kCableVendorId = 0x1209;
constexpr uint16_t kCableProductId = 0x0002;

// Narrow copies of the caller's strings, NUL included (63, 15 and 63 characters).
constexpr uint32_t kDescriptionCopyBytes = 64;
constexpr uint32_t kSerialCopyBytes = 16;
constexpr uint32_t kUserTextCopyBytes = 64;

// ProgramTemplate: the record FT_EE_Program receives, initialised at load. Only its Description
// and SerialNumber change, and only for the length of one programming run.
FtProgramData& ProgramTemplate();
void ResetProgramTemplateForTests();

// Erases and programs the EEPROM on the current handle, writes and reads back the user area and
// logs manufacturer, user-area size and user-area text. No status stops it; the result is the
// status of its last vendor call (the user-area read).
FtStatus ProgramCableEeprom(const WChar* description, const WChar* serial, const WChar* userText);

// Results of the provisioning procedures.
enum : int {
    kProvisionOk = 0,
    kProvisionCloseFailed = 1,
    kProvisionRescanFailed = 2,
    kProvisionListNotCreated = 3,
    kProvisionListNotFetched = 4,
    kProvisionNoDevice = 5,
    kProvisionCountNot2 = 6,
    kProvisionResetFailed = 6,
    kProvisionOpenFailed = 8,
    kProvisionTooManyDevices = 19,
};

// How both procedures begin: stale close, rescan, list, the wait for the cable, the count
// checks, opening both channels, channel A current. 0 or the procedure's result (the
// report already made). Erasing also shows each description it examines and "201.1".
enum class Discovery { Program, Erase };
int DiscoverAndOpenCable(Discovery kind);

}  // namespace kl::provision

// What the MPSSE open variants share beyond the open sequence: the EEPROM read-back of
// OpenDevice_EDP2.
#pragma once

#include "binding/d2xx.h"
#include "platform/platform.h"

namespace kl::connection {

// On the current handle (channel A): reads the EEPROM record and the first 32 bytes of the user
// area, logs the manufacturer and the user-area text (one line each) and, when textOut is not
// null, stores there an owned copy of the text (platform::AllocOleString; empty, never null, when
// the user area starts with a zero byte). Returns the status of the user-area read.
FtStatus ReadUserAreaText(WChar** textOut);

}  // namespace kl::connection

// What a libusb or libftdi1 failure means to a D2XX caller. libftdi1's own results only say that
// a request failed (its negative codes number the failing step, not the cause), so callers map
// them by the kind of step; libusb's codes carry the cause.
#pragma once

#include "ft_types.h"

namespace ftl {

enum class Step {
    kOpen,  // finding and claiming a channel
    kCall,  // a transfer or control request on an open channel
    kEepromRead,
    kEepromWrite,
    kEepromErase,
};

// A libusb result (0 or a negative LIBUSB_ERROR_* code) as the status of the given step.
FtStatus StatusFromUsb(int usbResult, Step step);

// A libftdi1 result (negative on failure) as the status of the given step: I/O error for a
// request, device not opened for an open, the EEPROM's own failure for an EEPROM step.
FtStatus StatusFromFtdi(int ftdiResult, Step step);

}  // namespace ftl

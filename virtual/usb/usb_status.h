// What a failed vendor call means to a USB host.
#pragma once

#include "faults/faults.h"
#include "usb/usb_abi.h"
#include "usb/usb_chip.h"

namespace vcable::usb {

// A gone device gives LIBUSB_ERROR_NO_DEVICE; a failure a fault rule made gives the rule's error
// (an I/O error unless it names one); a request the chip refuses stalls (LIBUSB_ERROR_PIPE).
inline int FailedCall(Session& session) {
    if (!SessionAlive(session)) return LIBUSB_ERROR_NO_DEVICE;
    const FaultDecision& fault = LastFaultDecision();
    if (fault.fail) return fault.usbError != 0 ? fault.usbError : LIBUSB_ERROR_IO;
    return LIBUSB_ERROR_PIPE;
}

}  // namespace vcable::usb

#include "status_map.h"

#include <libusb-1.0/libusb.h>

namespace ftl {
namespace {

struct UsbRow {
    int usbError;
    FtStatus onOpen;
    FtStatus onCall;  // an EEPROM step gives its own failure instead, unless the device is gone
};

// An unplugged cable is not found by an open and gives I/O errors on its handles, the two
// statuses hosts already treat as "cable gone".
constexpr UsbRow kUsbRows[] = {
    {LIBUSB_ERROR_IO, kFtIoError, kFtIoError},
    {LIBUSB_ERROR_INVALID_PARAM, kFtInvalidParameter, kFtInvalidParameter},
    {LIBUSB_ERROR_ACCESS, kFtDeviceNotOpened, kFtIoError},
    {LIBUSB_ERROR_NO_DEVICE, kFtDeviceNotFound, kFtIoError},
    {LIBUSB_ERROR_NOT_FOUND, kFtDeviceNotFound, kFtIoError},
    {LIBUSB_ERROR_BUSY, kFtDeviceNotOpened, kFtIoError},
    {LIBUSB_ERROR_TIMEOUT, kFtIoError, kFtIoError},
    {LIBUSB_ERROR_OVERFLOW, kFtIoError, kFtIoError},
    {LIBUSB_ERROR_PIPE, kFtIoError, kFtIoError},
    {LIBUSB_ERROR_INTERRUPTED, kFtIoError, kFtIoError},
    {LIBUSB_ERROR_NO_MEM, kFtInsufficientResources, kFtInsufficientResources},
    {LIBUSB_ERROR_NOT_SUPPORTED, kFtNotSupported, kFtNotSupported},
};

FtStatus EepromFailure(Step step) {
    switch (step) {
        case Step::kEepromRead:
            return kFtEepromReadFailed;
        case Step::kEepromWrite:
            return kFtEepromWriteFailed;
        case Step::kEepromErase:
            return kFtEepromEraseFailed;
        default:
            return kFtIoError;
    }
}

bool IsEepromStep(Step step) {
    return step == Step::kEepromRead || step == Step::kEepromWrite || step == Step::kEepromErase;
}

}  // namespace

FtStatus StatusFromUsb(int usbResult, Step step) {
    if (usbResult >= 0) return kFtOk;
    for (const UsbRow& row : kUsbRows) {
        if (row.usbError != usbResult) continue;
        if (step == Step::kOpen) return row.onOpen;
        bool gone = usbResult == LIBUSB_ERROR_NO_DEVICE || usbResult == LIBUSB_ERROR_NOT_FOUND;
        return IsEepromStep(step) && !gone ? EepromFailure(step) : row.onCall;
    }
    return IsEepromStep(step) ? EepromFailure(step) : kFtOtherError;
}

FtStatus StatusFromFtdi(int ftdiResult, Step step) {
    if (ftdiResult >= 0) return kFtOk;
    if (step == Step::kOpen) return kFtDeviceNotOpened;
    return EepromFailure(step);
}

}  // namespace ftl

// What the libusb-0.1 face keeps behind the records it hands out: the chip a device record was
// listed from, an open device's session on the chip, and the errors its calls return.
#pragma once

#include <cstdint>

#include "chip/devices.h"
#include "usb/usb_chip.h"
#include "usb0/usb0_abi.h"

// The first fields are laid out as the library's own, which libftdi's 0.x series reaches into:
// it waits on the device file's descriptor, the first field, when it ends asynchronous writes.
// The face has no device file, so that field holds /dev/null, which select() sees ready at once
// and on which the kernel refuses every USB request.
struct usb_dev_handle {
    int fd = -1;
    usb_bus* bus = nullptr;
    UsbDeviceRecord* device = nullptr;
    vcable::usb::Session session;
    int interface = -1;  // the interface claimed last, which usb_set_altinterface acts on
};

namespace vcable::usb0 {

// What a device record's `dev` points to: the enumeration of the chip it was listed from.
struct Listing {
    uint64_t enumeration = 0;
};

// The chip a record was listed from, while that enumeration of it is on the bus; else null.
Device* ChipOf(const UsbDeviceRecord& record);
// Fills the record's device descriptor and builds its configurations from the chip's; false
// when they cannot be built (the record then holds no configurations).
bool FillDescriptors(UsbDeviceRecord& record, const Device& chip);

// Every failing call goes through these: the text usb_strerror gives ("<what>: <errno text>"),
// errno, and the call's result, minus the errno value.
int Fail(int errnoValue, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A result of the chip's USB side (a byte count, or a libusb-1.0 error code) as a call of this
// face returns it.
int Result(int usbResult, const char* format, ...) __attribute__((format(printf, 2, 3)));
// 0 while the handle's device is there, else the failure for a gone device (ENODEV).
int Alive(usb_dev_handle* dev);

}  // namespace vcable::usb0

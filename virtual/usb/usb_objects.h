// What the libusb face hands out: contexts, devices (one per chip on the bus, reference-counted)
// and device handles (a session on the chip).
#pragma once

#include <deque>

#include "usb/usb_abi.h"
#include "usb/usb_chip.h"

struct libusb_context {
    std::deque<libusb_transfer*> submitted;  // in submission order, run by the event handlers
    std::deque<libusb_transfer*> cancelled;  // their callbacks still to run
};

struct libusb_device {
    int refs = 0;
    vcable::Device* device = nullptr;
    uint8_t address = 0;
    uint8_t port = 0;
    uint64_t enumeration = 0;  // the chip's when listed: a later one is another device
};

struct libusb_device_handle {
    libusb_device* dev = nullptr;
    libusb_context* ctx = nullptr;
    vcable::usb::Session session;
    int configuration = 1;
};

namespace vcable::usb {

// The context of calls that pass none.
libusb_context* DefaultContext();
libusb_context* ContextOf(libusb_context* ctx);

// Records a call the model does not implement and returns LIBUSB_ERROR_NOT_SUPPORTED.
int NotSupported(const char* function);

}  // namespace vcable::usb

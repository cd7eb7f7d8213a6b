// What the libusb face hands out: contexts, devices (one per chip on the bus, reference-counted)
// and device handles (a session on the chip), and what its files share about them. One queue of
// transfers and one event loop serve every context: hosts use one, and a device belongs to all.
#pragma once

#include <deque>
#include <vector>

#include "usb/usb_abi.h"
#include "usb/usb_chip.h"

struct libusb_context {
    std::deque<libusb_transfer*> submitted;  // in submission order, run by the event handlers
    std::deque<libusb_transfer*> cancelled;  // their callbacks still to run
    bool noDeviceDiscovery = false;          // lists no device and hears of none arriving
};

struct libusb_device {
    int refs = 0;
    vcable::Device* device = nullptr;
    uint8_t address = 0;
    uint8_t port = 0;
    uint64_t enumeration = 0;             // the chip's when listed: a later one is another device
    libusb_device_descriptor descriptor;  // as it enumerated: still there once it has left
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
// The context whose transfers and events a call reaches: the one every context shares.
libusb_context* ContextOf(libusb_context* ctx);
// The context a call names, the default one for none: where its own options live.
inline libusb_context* Named(libusb_context* ctx) {
    return ctx != nullptr ? ctx : DefaultContext();
}

// Records what the model cannot do as a model error and returns the libusb error a host gets
// for it from a real chip.
int ModelGap(int error, const char* what);

// The chips on the bus now, in enumeration order, each with a reference for the caller.
std::vector<libusb_device*> ListDevices();
// The listed device of a chip on the bus, with a reference for the caller.
libusb_device* ListedDevice(Device* device);
void UnrefDevice(libusb_device* dev);
// Opens a handle on a listed device; LIBUSB_ERROR_NO_DEVICE once it has left the bus.
int OpenDevice(libusb_device* dev, libusb_device_handle** handle);
// LIBUSB_SUCCESS while the handle's device is there, else LIBUSB_ERROR_NO_DEVICE.
int HandleAlive(libusb_device_handle* handle);

// Runs the submitted transfers (not those their callbacks submit) and the cancelled ones'
// callbacks, until `completed` is set if given. Returns how many callbacks ran.
int RunTransfers(int* completed);
// Whether transfers wait for an event handler.
bool TransfersWaiting();

// Reports the arrivals and departures since the last look to the hotplug callbacks.
void DeliverHotplugEvents();
// Whether callbacks are registered and the bus changed since they last heard of it.
bool HotplugEventsWaiting();
// Whether any hotplug callback is registered.
bool HotplugArmed();
// Deregisters the callbacks of a context that ends.
void ForgetHotplugCallbacks(libusb_context* ctx);

}  // namespace vcable::usb

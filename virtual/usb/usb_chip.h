// The chip as a USB host reaches it: standard and vendor control requests, and the bulk
// endpoints of each channel. Everything the chip does goes through the vendor entry points on
// the channels this session opened, so both faces run the same model, record the same calls and
// meet the same fault rules. Returns are libusb error codes (0 or negative) or, for control
// requests, the bytes transferred.
#pragma once

#include <cstdint>

#include "chip/devices.h"

namespace vcable::usb {

// One host's open device: the model handle of each channel it has used.
struct Session {
    Device* device = nullptr;
    void* channels[2] = {nullptr, nullptr};
    uint64_t enumeration = 0;  // the device's when the session began
    bool lost = false;         // the device went away (unplug, port cycle, new scenario): for good
};

// Whether the session's device is still there; marks the session lost when it is not.
bool SessionAlive(Session& session);
// Opens the channel of interface `interface` for the session (claiming it); 0 or a libusb error.
int OpenInterface(Session& session, int interface);
// Closes the channel of interface `interface`, which the session opened (the chip keeps its
// settings); 0, or LIBUSB_ERROR_NOT_FOUND when the session has no such channel open.
int ReleaseInterface(Session& session, int interface);
// Whether the session has a channel open (an interface claimed, or taken by a transfer).
bool ClaimsAny(const Session& session);
// Closes the channels the session opened.
void EndSession(Session& session);
// A port reset on the session's device: the channels it had come back afresh, unless the device
// re-enumerated as another (new strings or IDs), which ends the session. 0 or a libusb error.
int ResetSession(Session& session);

int ControlRequest(Session& session, uint8_t requestType, uint8_t request, uint16_t value,
                   uint16_t index, uint8_t* data, uint16_t length);

// One bulk transfer: OUT carries host bytes to the channel; IN returns packets of two status
// bytes and up to 62 data bytes, ending with the first short packet. An endpoint the chip lacks
// gives LIBUSB_ERROR_NOT_FOUND.
int BulkTransfer(Session& session, uint8_t endpoint, uint8_t* data, int length, uint32_t timeoutMs,
                 int* transferred);

// The two status bytes every IN packet starts with, and the modem status request returns.
constexpr uint8_t kModemStatus = 0x01;
constexpr uint8_t kLineStatus = 0x60;  // transmitter holding register and shift register empty

}  // namespace vcable::usb

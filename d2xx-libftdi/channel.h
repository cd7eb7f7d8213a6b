// One open channel: its libftdi1 context, its receive queue and the settings the D2XX calls keep.
// The queue fills on demand: a status poll or a read fetches what the chip has sent (one bulk
// transfer drains its buffer), so there is no reader thread and no data moves between calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "ft_types.h"

struct ftdi_context;
struct libusb_device;

namespace ftl {

struct Channel {
    std::mutex mutex;  // held for every call on the channel
    ftdi_context* ftdi = nullptr;
    libusb_device* device = nullptr;  // referenced while open; tells a chip's channels apart
    int interface = 0;
    bool kernelDriverDetached = false;  // the kernel's serial driver had the interface before

    // Identity as the list gave it when the channel was opened.
    uint32_t type = kDeviceTypeUnknown;
    uint32_t id = 0;  // vendor ID in the high half, product ID in the low
    uint32_t location = 0;
    std::string description;
    std::string serial;

    std::deque<uint8_t> rx;
    uint16_t modemStatus = 0;     // the two status bytes of the last packet
    uint32_t readTimeoutMs = 0;   // 0: a read waits for its whole count
    uint32_t writeTimeoutMs = 0;  // 0: a write waits until the chip takes it
    uint8_t latencyMs = 16;
    uint8_t bits = 8, stop = 0, parity = 0;  // kept for the break calls

    // Unplugged: every call gives an I/O error. Cycled: the chip went away on purpose (port
    // cycle or port reset), so a second cycle through another channel is no fault.
    std::atomic<bool> unplugged = false;
    std::atomic<bool> cycled = false;
};

// Fetches what the chip has sent into the queue, waiting at most timeoutMs for the first packet.
// A time-out is no failure; other failures give their status and mark an unplugged chip.
FtStatus Poll(Channel& channel, uint32_t timeoutMs);

// Waits for count bytes (until the read time-out) and takes what is there, at most count.
FtStatus Read(Channel& channel, uint8_t* out, uint32_t count, uint32_t& got);

// Sends the bytes in the chip's packet size; a write time-out ends it early with success and the
// count sent, as the D2XX write does.
FtStatus Write(Channel& channel, const uint8_t* data, uint32_t count, uint32_t& written);

// Whether the channel's chip has left the bus (or been cycled away); asks the bus when it is not
// known, and marks an unplugged chip.
bool Gone(Channel& channel);

// The status of a libftdi1 request on the channel: kFtOk, or an I/O error (and the chip marked
// unplugged when it has left the bus).
FtStatus Checked(Channel& channel, int ftdiResult);

}  // namespace ftl

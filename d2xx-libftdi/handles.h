// The open channels behind the D2XX handles, and the libusb context the device list uses.
// Handles are numbers that never repeat within a process and are only ever looked up, so a
// closed or made-up handle is refused safely.
#pragma once

#include <memory>

#include "channel.h"
#include "ft_types.h"

struct libusb_context;

namespace ftl {

// The library's own libusb context, created on first use; null when libusb cannot start.
libusb_context* UsbContext();

// Takes an opened channel and returns its new handle.
FtHandle AddChannel(std::unique_ptr<Channel> channel);

// The channel behind a handle, or null. The caller locks its mutex for the call.
std::shared_ptr<Channel> FindChannel(FtHandle handle);

// Removes the handle; returns its channel (to be closed) or null.
std::shared_ptr<Channel> RemoveChannel(FtHandle handle);

// The handle of the open channel at a location, or null; a handle whose chip has left the bus
// or been cycled since does not count.
FtHandle HandleAt(uint32_t location);

// Marks every open channel of the chip as ended by a port cycle or reset (the chip re-enumerates).
void MarkChipCycled(const Channel& cycled);

}  // namespace ftl

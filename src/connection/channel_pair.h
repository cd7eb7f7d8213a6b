// The cable's channel pair: the device list, the two matched list positions and whether a
// connection counts as open, plus the procedures every open is built from. Result values are
// those the opens return for the step.
#pragma once

#include <cstdint>

#include "binding/d2xx.h"
#include "platform/platform.h"

namespace kl::connection {

constexpr int kSlotCount = 20;
constexpr int kSlotA = 0;
constexpr int kSlotB = 1;

// Results of the discovery steps (the opens return them unchanged).
enum : int {
    kStaleCloseFailed = 1,
    kListNotCreated = 3,
    kListNotFetched = 4,
    kNoMatch = 5,
    kMatchCountNot2 = 6,
    kTooManyMatches = 19,
};

// 0 to go on; 1 when closing the still-open connection's current channel failed.
int CloseStaleChannel();

// 0; 3 when counting failed or found no device; 4 when fetching the list failed.
int BuildDeviceList();

// 0 when exactly two nodes match both substrings (null counts as empty); 5 none; 6 another
// count; 19 at a 21st match. Slot 0 receives the earlier position (channel A).
int FindCablePair(const WChar* descriptionPart, const WChar* serialPart);

// The status-recording FT_OpenEx by location (the 32-bit value itself, flag 4) into
// CurrentHandle.
FtStatus Open_USB_Device_By_Location(uint32_t location, FtStatus& status);

// Opens the node of a slot by its location and records the new handle in the node.
FtStatus OpenPairedChannel(int slot, FtStatus& status);

// Makes a slot's channel current: copies the handle recorded in its node into CurrentHandle.
// Without a device list there is no handle to select, and CurrentHandle becomes null.
void SelectChannel(int slot);

// State access.
bool ConnectionOpen();
void SetConnectionOpen(bool open);
bool HasDeviceList();
uint32_t DeviceCount();
FtDeviceListInfoNode* DeviceNode(uint32_t position);  // null outside the list
uint32_t ChannelSlot(int slot);
void SetChannelSlot(int slot, uint32_t position);

// Replaces the list with a new zeroed one of count nodes (at least one); false when out of memory
// (the old list stays). Used by the provisioning wait, which re-reads the list.
bool AllocateDeviceList(uint32_t count);
// Fetches the vendor's list into the held array, growing it when the vendor reports more
// devices than it holds; DeviceCount becomes what the vendor filled.
FtStatus FetchDeviceList();
void SetDeviceCount(uint32_t count);
uint32_t* DeviceCountSlot();

void ReleaseDeviceList();
void ResetConnectionForTests();

}  // namespace kl::connection

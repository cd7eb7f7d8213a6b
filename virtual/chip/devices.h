// The attached devices in enumeration order, their handles, unplugging and re-enumeration.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chip/channel.h"
#include "chip/eeprom.h"
#include "engine/mpsse_port.h"
#include "targets/target_setup.h"
#include "vendor_api/ft_types.h"

namespace vcable {

// What the host sees of a device on the bus; taken from the EEPROM when the device enumerates.
struct UsbIdentity {
    bool programmed = false;
    std::string manufacturer;
    std::string description;  // without the channel suffix
    std::string serial;       // without the channel suffix
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

struct Device {
    bool dual = true;  // two channels (A, B) or one
    bool plugged = true;
    uint32_t cycleAbsence = 0;     // list creations a port cycle keeps the device away for
    uint32_t absentCreations = 0;  // list creations still to miss
    UsbIdentity identity;
    // A number no other enumeration in this process had: it changes when the device leaves the
    // bus or comes back as a new device, so the USB face can tell stale handles and listings.
    uint64_t enumeration = 0;
    Eeprom eeprom;
    Channel channels[2];
    std::unique_ptr<MpssePort> engine;  // channel A's MPSSE engine (dual-channel chips only)

    int ChannelCount() const { return dual ? 2 : 1; }
    bool Visible() const { return plugged && absentCreations == 0; }
    MpssePort* EngineFor(int channel) { return channel == 0 ? engine.get() : nullptr; }
};

// A channel found by its handle.
struct ChannelRef {
    Device* device = nullptr;
    int channel = 0;
    Channel& Get() const { return device->channels[channel]; }
    MpssePort* Engine() const { return device->EngineFor(channel); }
};

constexpr uint16_t kChipVendorId = 0x0403;
constexpr uint16_t kDualChipProductId = 0x6010;
constexpr uint16_t kSingleChipProductId = 0x6001;
constexpr uint32_t kDefaultLibraryVersion = 0x00030216;

// The manufacturer of every programmed device that is added without saying otherwise.
constexpr const char* kDefaultManufacturer = "Zelvorinex";
constexpr const char* kDefaultManufacturerId = "ZV";

// What fills the empty table when it is first used. The scenario layer installs its loader when
// the library loads; without one the table starts empty.
using InitialScenarioLoader = void (*)();
void SetInitialScenarioLoader(InitialScenarioLoader loader);

// Device table.
void ClearDevices();
// A dual-channel device's channel A drives the targets of `targets` (the default wiring unless
// given).
int AddDualDevice(const char* description, const char* serial, bool programmed,
                  const TargetSetup& targets = TargetSetup{});
int AddSingleDevice(const char* description, const char* serial);
int DeviceCount();
Device* DeviceAt(int index);  // null when out of range
Channel* ChannelAt(int device, int channel);
// The MPSSE engine of cable `cable` (0-based, in scenario order), or null when there is no such
// cable or it has no MPSSE.
MpssePort* CableMpssePort(int cable);

// Handles: a fresh value for every open, looked up in the table and never dereferenced.
ChannelRef FindHandle(void* handle);
bool ReleaseOrphanedHandle(void* handle);  // true when it was an orphan (now forgotten)
void* OpenByRef(const ChannelRef& ref);

// Channels the host can see now, in enumeration order.
std::vector<ChannelRef> VisibleChannels();
std::string ChannelDescription(const Device& device, int channel);
std::string ChannelSerial(const Device& device, int channel);
void FillNode(const Device& device, int channel, FtDeviceListInfoNode& node);
// The location a listing reports: the Linux vendor library reports none (0) for an open channel.
uint32_t ListedLocation(const Device& device, int channel);

// The snapshot taken by FT_CreateDeviceInfoList and handed out by FT_GetDeviceInfoList. Taking
// one counts down the absence of devices that are re-enumerating after a port cycle.
uint32_t CreateDeviceList();
const std::vector<FtDeviceListInfoNode>& DeviceList();

// Bus events: all of them close the device's handles.
// A port cycle re-enumerates from the EEPROM after the device's absence. Its handles become
// orphans: calls on them fail as on any dead handle, but FT_Close still succeeds and releases
// them once, as with the vendor's driver, so a host that cycled its own port can close it.
void CycleDevice(Device& device);
void UnplugDevice(Device& device);
void ReplugDevice(Device& device);  // enumerates from the EEPROM at once
// A USB port reset: the channels close and the device enumerates again from the EEPROM without
// leaving the bus. True when it comes back with another identity (a new device to the host).
bool ResetPort(Device& device);

uint32_t LibraryVersion();
void SetLibraryVersion(uint32_t version);

}  // namespace vcable

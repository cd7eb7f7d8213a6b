// The device table: enumeration order, locations, handles and bus events.
#include "chip/devices.h"

#include <algorithm>
#include <cstring>

#include "chip/model_options.h"

namespace vcable {
namespace {

// Location of device k's channel c: kLocationBase + k * kLocationStride + 1 + c (0x0211, 0x0212,
// then 0x0311, ...), so every channel of every device has its own.
constexpr uint32_t kLocationBase = 0x0210;
constexpr uint32_t kLocationStride = 0x100;

// Handle values are counters spaced like heap pointers; they never repeat within a process, so a
// stale handle can never reach a later open.
constexpr uintptr_t kHandleBase = 0x7C000010;
constexpr uintptr_t kHandleStride = 0x10;

const char* const kBlankDescription = "Dual RS232";

// Owned by this file; written by the scenario, the control API and the entry points.
struct DeviceTable {
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<FtDeviceListInfoNode> list;  // the last FT_CreateDeviceInfoList snapshot
    std::vector<void*> orphans;              // handles a port cycle left behind, not yet closed
    uintptr_t nextHandle = kHandleBase;
    uint32_t libraryVersion = kDefaultLibraryVersion;
    bool initialised = false;
};

// Set once, when the library loads.
InitialScenarioLoader initialLoader = nullptr;

// Enumerations so far; never reset, so a device recreated at a freed address gets a new number.
uint64_t enumerations = 0;

bool SameIdentity(const UsbIdentity& a, const UsbIdentity& b) {
    return a.programmed == b.programmed && a.manufacturer == b.manufacturer &&
           a.description == b.description && a.serial == b.serial && a.vendorId == b.vendorId &&
           a.productId == b.productId;
}

DeviceTable& Table() {
    static DeviceTable table;
    if (!table.initialised) {
        // Marked first: the loader fills the table through the functions below.
        table.initialised = true;
        if (initialLoader != nullptr) initialLoader();
    }
    return table;
}

void CloseAll(Device& device) {
    for (int c = 0; c < device.ChannelCount(); ++c) {
        CloseChannel(device.channels[c], device.EngineFor(c));
    }
}

void Enumerate(Device& device) {
    UsbIdentity id;
    id.programmed = device.eeprom.programmed;
    if (id.programmed) {
        id.manufacturer = device.eeprom.manufacturer;
        id.description = device.eeprom.description;
        id.serial = device.eeprom.serial;
        id.vendorId = device.eeprom.record.vendorId;
        id.productId = device.eeprom.record.productId;
    } else {
        id.manufacturer = kDefaultManufacturer;
        id.description = device.dual ? kBlankDescription : "";
        id.vendorId = kChipVendorId;
        id.productId = device.dual ? kDualChipProductId : kSingleChipProductId;
    }
    device.identity = id;
}

void NewEnumeration(Device& device) { device.enumeration = ++enumerations; }

int Add(std::unique_ptr<Device> device) {
    DeviceTable& table = Table();
    uint32_t base = kLocationBase + static_cast<uint32_t>(table.devices.size()) * kLocationStride;
    for (int c = 0; c < 2; ++c) device->channels[c].location = base + 1 + c;
    Enumerate(*device);
    NewEnumeration(*device);
    table.devices.push_back(std::move(device));
    return static_cast<int>(table.devices.size()) - 1;
}

void CopyText(const std::string& text, char* out, size_t size) {
    size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

void SetInitialScenarioLoader(InitialScenarioLoader loader) { initialLoader = loader; }

void ClearDevices() {
    DeviceTable& table = Table();
    table.devices.clear();
    table.list.clear();
    table.orphans.clear();
}

int AddDualDevice(const char* description, const char* serial, bool programmed,
                  const TargetSetup& targets) {
    auto device = std::make_unique<Device>();
    device->dual = true;
    if (programmed) {
        ProgramEeprom(device->eeprom, DefaultRecord(kChipVendorId, kDualChipProductId),
                      kDefaultManufacturer, kDefaultManufacturerId, description, serial);
    }
    device->engine = MakeMpssePort(targets);
    return Add(std::move(device));
}

int AddSingleDevice(const char* description, const char* serial) {
    auto device = std::make_unique<Device>();
    device->dual = false;
    ProgramEeprom(device->eeprom, DefaultRecord(kChipVendorId, kSingleChipProductId),
                  kDefaultManufacturer, kDefaultManufacturerId, description, serial);
    return Add(std::move(device));
}

int DeviceCount() { return static_cast<int>(Table().devices.size()); }

Device* DeviceAt(int index) {
    DeviceTable& table = Table();
    if (index < 0 || index >= static_cast<int>(table.devices.size())) return nullptr;
    return table.devices[static_cast<size_t>(index)].get();
}

MpssePort* CableMpssePort(int cable) {
    Device* device = DeviceAt(cable);
    return device ? device->engine.get() : nullptr;
}

Channel* ChannelAt(int device, int channel) {
    Device* d = DeviceAt(device);
    if (d == nullptr || channel < 0 || channel >= d->ChannelCount()) return nullptr;
    return &d->channels[channel];
}

ChannelRef FindHandle(void* handle) {
    if (handle == nullptr) return {};
    for (auto& device : Table().devices) {
        for (int c = 0; c < device->ChannelCount(); ++c) {
            if (device->channels[c].handle == handle) return {device.get(), c};
        }
    }
    return {};
}

bool ReleaseOrphanedHandle(void* handle) {
    std::vector<void*>& orphans = Table().orphans;
    auto it = std::find(orphans.begin(), orphans.end(), handle);
    if (handle == nullptr || it == orphans.end()) return false;
    orphans.erase(it);
    return true;
}

void* OpenByRef(const ChannelRef& ref) {
    DeviceTable& table = Table();
    void* handle = reinterpret_cast<void*>(table.nextHandle);
    table.nextHandle += kHandleStride;
    OpenChannel(ref.Get(), handle);
    return handle;
}

std::vector<ChannelRef> VisibleChannels() {
    std::vector<ChannelRef> refs;
    for (auto& device : Table().devices) {
        if (!device->Visible()) continue;
        for (int c = 0; c < device->ChannelCount(); ++c) refs.push_back({device.get(), c});
    }
    return refs;
}

std::string ChannelDescription(const Device& device, int channel) {
    if (!device.dual) return device.identity.description;
    return device.identity.description + (channel == 0 ? " A" : " B");
}

std::string ChannelSerial(const Device& device, int channel) {
    // A blank chip has no serial number to extend.
    if (!device.dual || device.identity.serial.empty()) return device.identity.serial;
    return device.identity.serial + (channel == 0 ? "A" : "B");
}

void FillNode(const Device& device, int channel, FtDeviceListInfoNode& node) {
    const Channel& ch = device.channels[channel];
    node = FtDeviceListInfoNode{};
    node.flags = ch.IsOpen() ? kNodeFlagOpened : 0;
    node.type = device.dual ? kDeviceTypeDualChannel : kDeviceTypeSingleChannel;
    node.id = (uint32_t{device.identity.vendorId} << 16) | device.identity.productId;
    node.locId = ListedLocation(device, channel);
    CopyText(ChannelSerial(device, channel), node.serialNumber, sizeof node.serialNumber);
    CopyText(ChannelDescription(device, channel), node.description, sizeof node.description);
    node.ftHandle = ch.handle;
}

uint32_t ListedLocation(const Device& device, int channel) {
    const Channel& ch = device.channels[channel];
    return ch.IsOpen() && CurrentPlatform() == Platform::kLinux ? 0 : ch.location;
}

uint32_t CreateDeviceList() {
    DeviceTable& table = Table();
    table.list.clear();
    for (auto& device : table.devices) {
        if (!device->plugged) continue;
        if (device->absentCreations > 0) {
            --device->absentCreations;
            continue;
        }
        for (int c = 0; c < device->ChannelCount(); ++c) {
            FillNode(*device, c, table.list.emplace_back());
        }
    }
    return static_cast<uint32_t>(table.list.size());
}

const std::vector<FtDeviceListInfoNode>& DeviceList() { return Table().list; }

void CycleDevice(Device& device) {
    for (int c = 0; c < device.ChannelCount(); ++c) {
        if (device.channels[c].IsOpen()) Table().orphans.push_back(device.channels[c].handle);
    }
    CloseAll(device);
    device.absentCreations = device.cycleAbsence;
    Enumerate(device);
    NewEnumeration(device);
}

void UnplugDevice(Device& device) {
    device.plugged = false;
    NewEnumeration(device);
}

void ReplugDevice(Device& device) {
    CloseAll(device);
    device.plugged = true;
    device.absentCreations = 0;
    Enumerate(device);
    NewEnumeration(device);
}

bool ResetPort(Device& device) {
    CloseAll(device);
    const UsbIdentity before = device.identity;
    Enumerate(device);
    if (SameIdentity(before, device.identity)) return false;
    NewEnumeration(device);
    return true;
}

uint32_t LibraryVersion() { return Table().libraryVersion; }
void SetLibraryVersion(uint32_t version) { Table().libraryVersion = version; }

}  // namespace vcable

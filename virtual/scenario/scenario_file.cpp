// Loading a scenario into the model: devices, their targets and peers, fault rules.
#include "scenario/scenario_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "chip/devices.h"
#include "faults/faults.h"
#include "record/call_log.h"
#include "uart/uart_peers.h"

namespace vcable::scenario_file {
namespace {

// The peer a channel gets (null for none).
std::unique_ptr<UartPeer> MakePeer(const PeerDesc& peer) {
    switch (peer.kind) {
        case PeerKind::kNone:
            return nullptr;
        case PeerKind::kLoopback:
            return MakeRecordingLoopbackPeer();
        case PeerKind::kEcho:
            return MakeEchoPeer(peer.delayPolls);
        case PeerKind::kSink:
            return MakeSinkPeer();
        case PeerKind::kScript:
            return MakeScriptedPeer(
                peer.data, peer.onDtrRise ? ScriptTrigger::kDtrRise : ScriptTrigger::kAfterPolls,
                peer.polls);
    }
    return nullptr;
}

void ApplyDevice(const DeviceDesc& d) {
    const int index =
        d.dual ? AddDualDevice(d.description.c_str(), d.serial.c_str(), d.programmed, d.targets)
               : AddSingleDevice(d.description.c_str(), d.serial.c_str());
    Device& device = *DeviceAt(index);
    if (d.programmed && (d.manufacturer || d.manufacturerId || d.vendorId || d.productId)) {
        const uint16_t product = d.dual ? kDualChipProductId : kSingleChipProductId;
        ProgramEeprom(
            device.eeprom,
            DefaultRecord(d.vendorId.value_or(kChipVendorId), d.productId.value_or(product)),
            d.manufacturer.value_or(kDefaultManufacturer).c_str(),
            d.manufacturerId.value_or(kDefaultManufacturerId).c_str(), d.description.c_str(),
            d.serial.c_str());
        ReplugDevice(device);  // enumerates with the programmed identity
    }
    if (d.userAreaSize) FixUserAreaSize(device.eeprom, *d.userAreaSize);
    std::vector<uint8_t>& area = device.eeprom.userArea;
    std::copy_n(d.userAreaData.begin(), std::min(d.userAreaData.size(), area.size()), area.begin());
    device.cycleAbsence = d.cycleAbsence;
    for (int c = 0; c < device.ChannelCount(); ++c) device.channels[c].peer = MakePeer(d.peers[c]);
}

void ApplyFault(const FaultDesc& f) {
    switch (f.kind) {
        case FaultKind::kFail:
            AddFailRule(f.entry, f.nth, f.status, f.persistent, f.usbError);
            break;
        case FaultKind::kShortWrite:
            AddShortWriteRule(f.nth, f.maxBytes);
            break;
        case FaultKind::kUnplug:
            AddUnplugRule(f.entry, f.nth, f.device);
            break;
        case FaultKind::kInjectRx:
            AddInjectRule(f.entry, f.nth, f.device, f.channel, f.data.data(),
                          static_cast<uint32_t>(f.data.size()));
            break;
        case FaultKind::kSplitRx:
            AddGateRule(f.entry, f.nth, f.device, f.channel, f.maxBytes, 1);
            break;
        case FaultKind::kHoldRx:
            AddGateRule(f.entry, f.nth, f.device, f.channel, 0, f.polls);
            break;
    }
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

void Apply(const ScenarioDesc& scenario) {
    ClearDevices();
    SetLibraryVersion(scenario.libraryVersion.value_or(kDefaultLibraryVersion));
    SetScenarioOptions(scenario.delivery, scenario.platform);
    ClearCallLog();
    ClearModelErrors();
    ClearFaults();
    for (const DeviceDesc& device : scenario.devices) ApplyDevice(device);
    for (const FaultDesc& fault : scenario.faults) ApplyFault(fault);
}

bool LoadText(const std::string& text, const std::string& origin, const std::string& folder,
              std::string& error) {
    ScenarioDesc scenario;
    if (!Parse(text, origin, folder, scenario, error)) return false;
    Apply(scenario);
    return true;
}

bool LoadFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot read the scenario file";
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return LoadText(text, path, FolderOf(path), error);
}

}  // namespace vcable::scenario_file

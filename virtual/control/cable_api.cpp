// The exported control API: thin wrappers over the model's own functions.
#include <cstring>

#include "chip/devices.h"
#include "chip/model_options.h"
#include "entry_points/model_lock.h"
#include "faults/faults.h"
#include "record/call_log.h"
#include "scenario/default_scenario.h"
#include "vcable.h"

using namespace vcable;

namespace {

void CopyText(const std::string& text, char* out, size_t size) {
    size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

extern "C" {

VC_API void vc_reset(void) {
    const ModelLock lock;
    ResetScenario();
}

VC_API void vc_clear_devices(void) {
    const ModelLock lock;
    ClearDevices();
}

VC_API int vc_add_cable(const char* description, const char* serial, int programmed) {
    const ModelLock lock;
    return AddDualDevice(description ? description : "", serial ? serial : "", programmed != 0);
}

VC_API int vc_add_single(const char* description, const char* serial) {
    const ModelLock lock;
    return AddSingleDevice(description ? description : "", serial ? serial : "");
}

VC_API int vc_device_count(void) {
    const ModelLock lock;
    return DeviceCount();
}

VC_API int vc_unplug(int device) {
    const ModelLock lock;
    Device* d = DeviceAt(device);
    if (d == nullptr) return -1;
    UnplugDevice(*d);
    return 0;
}

VC_API int vc_replug(int device) {
    const ModelLock lock;
    Device* d = DeviceAt(device);
    if (d == nullptr) return -1;
    ReplugDevice(*d);
    return 0;
}

VC_API int vc_set_cycle_absence(int device, uint32_t creations) {
    const ModelLock lock;
    Device* d = DeviceAt(device);
    if (d == nullptr) return -1;
    d->cycleAbsence = creations;
    return 0;
}

VC_API int vc_set_user_area_size(int device, uint32_t size) {
    const ModelLock lock;
    Device* d = DeviceAt(device);
    if (d == nullptr) return -1;
    FixUserAreaSize(d->eeprom, size);
    return 0;
}

VC_API int vc_set_loopback_peer(int device, int channel, int enable) {
    const ModelLock lock;
    Channel* c = ChannelAt(device, channel);
    if (c == nullptr) return -1;
    c->peer = enable ? MakeLoopbackPeer() : nullptr;
    return 0;
}

VC_API void vc_set_library_version(uint32_t version) {
    const ModelLock lock;
    SetLibraryVersion(version);
}

VC_API int vc_set_reply_delivery(int delivery) {
    const ModelLock lock;
    if (delivery != VC_DELIVERY_IMMEDIATE && delivery != VC_DELIVERY_USB) return -1;
    OverrideReplyDelivery(delivery == VC_DELIVERY_USB ? ReplyDelivery::kUsb
                                                      : ReplyDelivery::kImmediate);
    return 0;
}

VC_API int vc_reply_delivery(void) {
    const ModelLock lock;
    return CurrentReplyDelivery() == ReplyDelivery::kUsb ? VC_DELIVERY_USB : VC_DELIVERY_IMMEDIATE;
}

VC_API int vc_set_platform(int platform) {
    const ModelLock lock;
    if (platform != VC_PLATFORM_WINDOWS && platform != VC_PLATFORM_LINUX) return -1;
    SetPlatform(platform == VC_PLATFORM_LINUX ? Platform::kLinux : Platform::kWindows);
    return 0;
}

VC_API int vc_platform(void) {
    const ModelLock lock;
    return CurrentPlatform() == Platform::kLinux ? VC_PLATFORM_LINUX : VC_PLATFORM_WINDOWS;
}

VC_API int vc_fault_fail(const char* entry, uint32_t nth, uint32_t status, int persistent) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0) return -1;
    return AddFailRule(static_cast<Entry>(index), nth, status, persistent != 0);
}

VC_API int vc_fault_fail_usb(const char* entry, uint32_t nth, uint32_t status, int usb_error,
                             int persistent) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0 || usb_error > 0) return -1;
    return AddFailRule(static_cast<Entry>(index), nth, status, persistent != 0, usb_error);
}

VC_API int vc_fault_short_write(uint32_t nth, uint32_t max_bytes) {
    const ModelLock lock;
    return AddShortWriteRule(nth, max_bytes);
}

VC_API int vc_fault_unplug(const char* entry, uint32_t nth, int device) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0) return -1;
    return AddUnplugRule(static_cast<Entry>(index), nth, device);
}

VC_API int vc_fault_inject_rx(const char* entry, uint32_t nth, int device, int channel,
                              const uint8_t* data, uint32_t length) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0) return -1;
    return AddInjectRule(static_cast<Entry>(index), nth, device, channel, data, length);
}

VC_API int vc_fault_split_rx(const char* entry, uint32_t nth, int device, int channel,
                             uint32_t max_bytes) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0) return -1;
    return AddGateRule(static_cast<Entry>(index), nth, device, channel, max_bytes, 1);
}

VC_API int vc_fault_hold_rx(const char* entry, uint32_t nth, int device, int channel,
                            uint32_t polls) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0) return -1;
    return AddGateRule(static_cast<Entry>(index), nth, device, channel, 0, polls);
}

VC_API uint32_t vc_fault_hits(int rule) {
    const ModelLock lock;
    return FaultHits(rule);
}

VC_API void vc_fault_clear(void) {
    const ModelLock lock;
    ClearFaults();
}

VC_API uint32_t vc_log_count(void) {
    const ModelLock lock;
    return CallCount();
}

VC_API uint32_t vc_log_count_entry(const char* entry) {
    const ModelLock lock;
    int index = EntryIndex(entry);
    if (index < 0) return 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < CallCount(); ++i) {
        if (CallAt(i)->entry == static_cast<Entry>(index)) ++count;
    }
    return count;
}

VC_API int vc_log_get(uint32_t index, VcCall* out) {
    const ModelLock lock;
    const CallRecord* record = CallAt(index);
    if (record == nullptr || out == nullptr) return -1;
    auto entry = static_cast<uint32_t>(record->entry);
    *out = VcCall{};
    out->entry = EntryName(entry);
    out->entry_index = entry;
    out->handle = record->handle;
    std::memcpy(out->args, record->args, sizeof out->args);
    out->arg_count = record->argCount;
    out->status = record->status;
    out->transferred = record->transferred;
    out->data = record->dataLength == 0 ? nullptr : record->data;
    out->data_length = record->dataLength;
    out->faulted = record->faulted ? 1 : 0;
    return 0;
}

VC_API void vc_log_clear(void) {
    const ModelLock lock;
    ClearCallLog();
}

VC_API const char* vc_entry_name(uint32_t index) {
    const ModelLock lock;
    return EntryName(index);
}

VC_API uint32_t vc_model_error_count(void) {
    const ModelLock lock;
    return ModelErrorCount();
}

VC_API const char* vc_model_error(uint32_t index) {
    const ModelLock lock;
    return ModelErrorAt(index);
}

VC_API int vc_channel_settings(int device, int channel, VcChannelSettings* out) {
    const ModelLock lock;
    const Channel* c = ChannelAt(device, channel);
    if (c == nullptr || out == nullptr) return -1;
    const ChannelSettings& s = c->settings;
    *out = VcChannelSettings{};
    out->open = c->IsOpen() ? 1 : 0;
    out->handle = c->handle;
    out->location = c->location;
    out->bit_mode = s.bitMode;
    out->bit_mask = s.bitMask;
    out->latency_ms = s.latencyMs;
    out->word_length = s.wordLength;
    out->stop_bits = s.stopBits;
    out->parity = s.parity;
    out->flow_control = s.flowControl;
    out->xon = s.xon;
    out->xoff = s.xoff;
    out->baud_rate = s.baudRate;
    out->dtr = s.dtr ? 1 : 0;
    out->dtr_changes = c->dtrChanges;
    out->resets = c->resets;
    out->read_timeout_ms = s.readTimeoutMs;
    out->write_timeout_ms = s.writeTimeoutMs;
    out->achieved_baud_rate = s.achievedBaud;
    return 0;
}

VC_API int vc_inject_rx(int device, int channel, const uint8_t* data, uint32_t length) {
    const ModelLock lock;
    Channel* c = ChannelAt(device, channel);
    if (c == nullptr || (data == nullptr && length > 0)) return -1;
    c->rx.Append(data, length);
    return 0;
}

VC_API uint32_t vc_rx_pending(int device, int channel) {
    const ModelLock lock;
    const Channel* c = ChannelAt(device, channel);
    return c == nullptr ? 0 : static_cast<uint32_t>(c->rx.Pending());
}

VC_API uint32_t vc_tx_size(int device, int channel) {
    const ModelLock lock;
    const Channel* c = ChannelAt(device, channel);
    return c == nullptr ? 0 : static_cast<uint32_t>(c->txCapture.size());
}

VC_API uint32_t vc_tx_read(int device, int channel, uint32_t offset, uint8_t* out,
                           uint32_t capacity) {
    const ModelLock lock;
    const Channel* c = ChannelAt(device, channel);
    if (c == nullptr || out == nullptr || offset >= c->txCapture.size()) return 0;
    size_t n = c->txCapture.size() - offset;
    if (n > capacity) n = capacity;
    std::memcpy(out, c->txCapture.data() + offset, n);
    return static_cast<uint32_t>(n);
}

VC_API void vc_tx_clear(int device, int channel) {
    const ModelLock lock;
    if (Channel* c = ChannelAt(device, channel)) c->txCapture.clear();
}

VC_API int vc_eeprom_view(int device, VcEepromView* out) {
    const ModelLock lock;
    const Device* d = DeviceAt(device);
    if (d == nullptr || out == nullptr) return -1;
    const Eeprom& e = d->eeprom;
    *out = VcEepromView{};
    out->programmed = e.programmed ? 1 : 0;
    out->vendor_id = e.record.vendorId;
    out->product_id = e.record.productId;
    CopyText(e.manufacturer, out->manufacturer, sizeof out->manufacturer);
    CopyText(e.manufacturerId, out->manufacturer_id, sizeof out->manufacturer_id);
    CopyText(e.description, out->description, sizeof out->description);
    CopyText(e.serial, out->serial_number, sizeof out->serial_number);
    out->user_area_size = static_cast<uint32_t>(e.userArea.size());
    out->programs = e.programs;
    out->erases = e.erases;
    return 0;
}

VC_API uint32_t vc_eeprom_user_area(int device, uint8_t* out, uint32_t capacity) {
    const ModelLock lock;
    const Device* d = DeviceAt(device);
    if (d == nullptr || out == nullptr) return 0;
    size_t n = d->eeprom.userArea.size() < capacity ? d->eeprom.userArea.size() : capacity;
    std::memcpy(out, d->eeprom.userArea.data(), n);
    return static_cast<uint32_t>(n);
}

VC_API int vc_eeprom_program(int device, const char* manufacturer, const char* manufacturer_id,
                             const char* description, const char* serial) {
    const ModelLock lock;
    Device* d = DeviceAt(device);
    if (d == nullptr) return -1;
    uint16_t product = d->dual ? kDualChipProductId : kSingleChipProductId;
    ProgramEeprom(d->eeprom, DefaultRecord(kChipVendorId, product),
                  manufacturer ? manufacturer : "", manufacturer_id ? manufacturer_id : "",
                  description ? description : "", serial ? serial : "");
    return 0;
}

VC_API int vc_eeprom_erase(int device) {
    const ModelLock lock;
    Device* d = DeviceAt(device);
    if (d == nullptr) return -1;
    EraseEeprom(d->eeprom);
    return 0;
}

}  // extern "C"

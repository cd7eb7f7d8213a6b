// Discovery of the cable's two channels in the vendor's device list, and the pair's state.
#include "connection/channel_pair.h"

#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace kl::connection {
namespace {

// Written by the discoveries (list, count, slots), the opens and closes (open flag). The channel
// handles live in the list's nodes, so the list is held while a connection is open.
struct PairState {
    FtDeviceListInfoNode* list = nullptr;
    uint32_t capacity = 0;  // nodes allocated
    uint32_t count = 0;     // DeviceCount as the vendor last reported it
    uint32_t slots[kSlotCount] = {};
    bool connectionOpen = false;
};
PairState state;

constexpr size_t kMatchBufferUnits = 128;

}  // namespace

bool ConnectionOpen() { return state.connectionOpen; }
void SetConnectionOpen(bool open) { state.connectionOpen = open; }
bool HasDeviceList() { return state.list != nullptr; }
uint32_t DeviceCount() { return state.count; }
void SetDeviceCount(uint32_t count) { state.count = count; }
uint32_t* DeviceCountSlot() { return &state.count; }
uint32_t ChannelSlot(int slot) { return state.slots[slot]; }
void SetChannelSlot(int slot, uint32_t position) { state.slots[slot] = position; }

FtDeviceListInfoNode* DeviceNode(uint32_t position) {
    if (!state.list || position >= state.capacity) return nullptr;
    return &state.list[position];
}

bool AllocateDeviceList(uint32_t count) {
    if (count == 0) count = 1;
    auto* nodes = static_cast<FtDeviceListInfoNode*>(calloc(count, sizeof(FtDeviceListInfoNode)));
    if (!nodes) return false;
    free(state.list);
    state.list = nodes;
    state.capacity = count;
    return true;
}

FtStatus FetchDeviceList() {
    if (state.count > state.capacity && !AllocateDeviceList(state.count)) return kFtIoError;
    uint32_t filled = state.count;
    FtStatus status = ft::FT_GetDeviceInfoList(state.list, &filled);
    state.count = filled < state.capacity ? filled : state.capacity;
    return status;
}

void ReleaseDeviceList() {
    free(state.list);
    state.list = nullptr;
    state.capacity = 0;
    state.count = 0;
    memset(state.slots, 0, sizeof(state.slots));
}

void ResetConnectionForTests() {
    ReleaseDeviceList();
    state = PairState{};
}

int CloseStaleChannel() {
    if (!state.connectionOpen) return 0;
    FtStatus status = 0;
    if (ft::FT_Close(status) != kFtOk) {
        state.connectionOpen = false;
        return kStaleCloseFailed;
    }
    return 0;
}

int BuildDeviceList() {
    uint32_t count = 0;
    if (ft::FT_CreateDeviceInfoList(&count) != kFtOk || count == 0) {
        return kListNotCreated;
    }
    if (!AllocateDeviceList(count)) return kListNotCreated;
    state.count = count;
    return FetchDeviceList() == kFtOk ? 0 : kListNotFetched;
}

int FindCablePair(const WChar* descriptionPart, const WChar* serialPart) {
    uint32_t matches = 0;
    for (uint32_t position = 0; position < state.count; ++position) {
        const FtDeviceListInfoNode& node = state.list[position];
        WChar description[kMatchBufferUnits];
        WChar serial[kMatchBufferUnits];
        text::NarrowToWide(description, kMatchBufferUnits, node.Description,
                           sizeof(node.Description));
        text::NarrowToWide(serial, kMatchBufferUnits, node.SerialNumber, sizeof(node.SerialNumber));
        if (!text::Contains(description, descriptionPart) || !text::Contains(serial, serialPart)) {
            continue;
        }
        if (matches == kSlotCount) return kTooManyMatches;
        state.slots[matches++] = position;
    }
    if (matches == 0) return kNoMatch;
    return matches == 2 ? 0 : kMatchCountNot2;
}

FtStatus Open_USB_Device_By_Location(uint32_t location, FtStatus& status) {
    void* locationArgument = reinterpret_cast<void*>(static_cast<uintptr_t>(location));
    return ft::FT_OpenEx(locationArgument, kFtOpenByLocation, binding::CurrentHandleSlot(), status);
}

FtStatus OpenPairedChannel(int slot, FtStatus& status) {
    FtDeviceListInfoNode* node = DeviceNode(state.slots[slot]);
    if (!node) return status = kFtDeviceNotFound;
    if (Open_USB_Device_By_Location(node->LocId, status) == kFtOk) {
        node->ftHandle = binding::CurrentHandle();
    }
    return status;
}

}  // namespace kl::connection

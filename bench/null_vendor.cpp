// A vendor library that does nothing: the 38 entry points, each succeeding at once. FT_Write takes
// every byte, the device list shows one cable's two channels, and the one reply a host can need to
// open a connection (the echo of the sync probe) is queued when the probe is written. Benchmarks
// load it in place of the vendor library to measure what the library itself costs per byte.
#include <cstdint>
#include <cstring>

#define NULL_API extern "C" __attribute__((visibility("default")))

namespace {

using Status = uint32_t;
constexpr Status kOk = 0;

// The vendor's 104-byte device-list record.
struct ListNode {
    uint32_t flags;
    uint32_t type;
    uint32_t id;
    uint32_t location;
    char serial[16];
    char description[64];
    void* handle;
};
static_assert(sizeof(ListNode) == 96 + sizeof(void*));

constexpr uint8_t kSyncProbe = 0xAA;
constexpr uint8_t kBadCommandReply = 0xFA;

// Bytes waiting for the host: only ever the two-byte echo.
struct Pending {
    uint8_t bytes[2];
    uint32_t count;
};
Pending pending{};
int handles[2];

void FillNode(ListNode& node, int channel) {
    node = ListNode{};
    node.type = 6;  // dual-channel chip
    node.id = 0x04036010;
    node.location = 0x0211 + static_cast<uint32_t>(channel);
    std::strcpy(node.serial, channel ? "NULL0001B" : "NULL0001A");
    std::strcpy(node.description, channel ? "ZV7300LNK B" : "ZV7300LNK A");
}

}  // namespace

NULL_API Status FT_Write(void*, const void* buffer, uint32_t count, uint32_t* written) {
    if (count == 1 && *static_cast<const uint8_t*>(buffer) == kSyncProbe) {
        pending = {{kBadCommandReply, kSyncProbe}, 2};
    }
    *written = count;
    return kOk;
}

NULL_API Status FT_Read(void*, void* buffer, uint32_t count, uint32_t* got) {
    const uint32_t n = count < pending.count ? count : pending.count;
    std::memcpy(buffer, pending.bytes, n);
    pending.count = 0;
    *got = n;
    return kOk;
}

NULL_API Status FT_GetQueueStatus(void*, uint32_t* count) {
    *count = pending.count;
    return kOk;
}

NULL_API Status FT_GetStatus(void*, uint32_t* rx, uint32_t* tx, uint32_t* events) {
    *rx = pending.count;
    *tx = 0;
    *events = 0;
    return kOk;
}

NULL_API Status FT_CreateDeviceInfoList(uint32_t* count) {
    *count = 2;
    return kOk;
}

NULL_API Status FT_GetDeviceInfoList(ListNode* nodes, uint32_t* count) {
    FillNode(nodes[0], 0);
    FillNode(nodes[1], 1);
    *count = 2;
    return kOk;
}

NULL_API Status FT_OpenEx(void* location, uint32_t, void** handle) {
    *handle = &handles[reinterpret_cast<uintptr_t>(location) & 1 ? 0 : 1];
    return kOk;
}

NULL_API Status FT_Open(int device, void** handle) {
    *handle = &handles[device & 1];
    return kOk;
}

NULL_API Status FT_GetLatencyTimer(void*, uint8_t* ms) {
    *ms = 2;
    return kOk;
}

NULL_API Status FT_GetBitMode(void*, uint8_t* mode) {
    *mode = 0xFF;
    return kOk;
}

NULL_API Status FT_GetLibraryVersion(uint32_t* version) {
    *version = 0x00030216;
    return kOk;
}

NULL_API Status FT_EE_UASize(void*, uint32_t* size) {
    *size = 96;
    return kOk;
}

NULL_API Status FT_EE_UARead(void*, uint8_t* data, uint32_t length, uint32_t* got) {
    std::memset(data, 0, length);
    *got = length;
    return kOk;
}

// Entry points whose outputs no benchmark path reads: success and nothing else.
#define NULL_ENTRY(name) \
    NULL_API Status name() { return kOk; }
NULL_ENTRY(FT_ListDevices)
NULL_ENTRY(FT_Close)
NULL_ENTRY(FT_ResetDevice)
NULL_ENTRY(FT_ResetPort)
NULL_ENTRY(FT_CyclePort)
NULL_ENTRY(FT_SetBaudRate)
NULL_ENTRY(FT_SetChars)
NULL_ENTRY(FT_Purge)
NULL_ENTRY(FT_SetTimeouts)
NULL_ENTRY(FT_SetBreakOn)
NULL_ENTRY(FT_SetBreakOff)
NULL_ENTRY(FT_SetEventNotification)
NULL_ENTRY(FT_SetBitMode)
NULL_ENTRY(FT_SetLatencyTimer)
NULL_ENTRY(FT_EraseEE)
NULL_ENTRY(FT_EE_Program)
NULL_ENTRY(FT_EE_Read)
NULL_ENTRY(FT_EE_UAWrite)
NULL_ENTRY(FT_Rescan)
NULL_ENTRY(FT_GetDeviceInfo)
NULL_ENTRY(FT_SetDataCharacteristics)
NULL_ENTRY(FT_SetFlowControl)
NULL_ENTRY(FT_SetDtr)
NULL_ENTRY(FT_ClrDtr)
NULL_ENTRY(FT_Reload)

// The 38 entry points, in the order in which a host resolves them. This one list drives the call
// log's names, the fault rules' lookup and the linker version scripts (virtual/CMakeLists.txt reads
// the VC_ENTRY lines), so the three can never disagree. Keep one entry per line.
#pragma once

#include <cstdint>

#define VC_ENTRY_LIST(VC_ENTRY)         \
    VC_ENTRY(FT_ListDevices)            \
    VC_ENTRY(FT_Open)                   \
    VC_ENTRY(FT_OpenEx)                 \
    VC_ENTRY(FT_Close)                  \
    VC_ENTRY(FT_Read)                   \
    VC_ENTRY(FT_Write)                  \
    VC_ENTRY(FT_ResetDevice)            \
    VC_ENTRY(FT_ResetPort)              \
    VC_ENTRY(FT_CyclePort)              \
    VC_ENTRY(FT_SetBaudRate)            \
    VC_ENTRY(FT_SetChars)               \
    VC_ENTRY(FT_Purge)                  \
    VC_ENTRY(FT_SetTimeouts)            \
    VC_ENTRY(FT_GetQueueStatus)         \
    VC_ENTRY(FT_SetBreakOn)             \
    VC_ENTRY(FT_SetBreakOff)            \
    VC_ENTRY(FT_GetStatus)              \
    VC_ENTRY(FT_SetEventNotification)   \
    VC_ENTRY(FT_GetBitMode)             \
    VC_ENTRY(FT_SetBitMode)             \
    VC_ENTRY(FT_SetLatencyTimer)        \
    VC_ENTRY(FT_GetLatencyTimer)        \
    VC_ENTRY(FT_EraseEE)                \
    VC_ENTRY(FT_EE_Program)             \
    VC_ENTRY(FT_EE_Read)                \
    VC_ENTRY(FT_EE_UASize)              \
    VC_ENTRY(FT_EE_UARead)              \
    VC_ENTRY(FT_EE_UAWrite)             \
    VC_ENTRY(FT_Rescan)                 \
    VC_ENTRY(FT_GetDeviceInfo)          \
    VC_ENTRY(FT_SetDataCharacteristics) \
    VC_ENTRY(FT_SetFlowControl)         \
    VC_ENTRY(FT_SetDtr)                 \
    VC_ENTRY(FT_ClrDtr)                 \
    VC_ENTRY(FT_GetLibraryVersion)      \
    VC_ENTRY(FT_CreateDeviceInfoList)   \
    VC_ENTRY(FT_GetDeviceInfoList)      \
    VC_ENTRY(FT_Reload)

namespace vcable {

enum class Entry : uint32_t {
#define VC_ENUM_ITEM(name) name,
    VC_ENTRY_LIST(VC_ENUM_ITEM)
#undef VC_ENUM_ITEM
};

constexpr uint32_t kEntryCount = 0
#define VC_COUNT_ITEM(name) +1
    VC_ENTRY_LIST(VC_COUNT_ITEM)
#undef VC_COUNT_ITEM
    ;
static_assert(kEntryCount == 38);

// The entry point's exported name; nullptr for an index out of range.
const char* EntryName(uint32_t index);

// The index of a named entry point, or -1 when no entry point has that name.
int EntryIndex(const char* name);

}  // namespace vcable

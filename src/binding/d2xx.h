// The vendor D2XX library as this library sees it: its types, the 38 entry points it resolves,
// and one guarded call per entry point. Declarations are written from the entry points' published
// behaviour; the library never links against the vendor library, it loads it (loader.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kl {

using FtStatus = uint32_t;
using FtHandle = void*;

// Vendor status values that the library names.
enum : FtStatus {
    kFtOk = 0,
    kFtInvalidHandle = 1,  // also what a guarded call with an empty entry returns
    kFtDeviceNotFound = 2,
    kFtDeviceNotOpened = 3,
    kFtIoError = 4,
    kFtInvalidParameter = 6,
};

// One node of the vendor's device list (104 bytes in a 64-bit process).
struct FtDeviceListInfoNode {
    uint32_t Flags;
    uint32_t Type;
    uint32_t ID;
    uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    FtHandle ftHandle;
};
static_assert(offsetof(FtDeviceListInfoNode, LocId) == 12);
static_assert(offsetof(FtDeviceListInfoNode, SerialNumber) == 16);
static_assert(offsetof(FtDeviceListInfoNode, Description) == 32);
static_assert(offsetof(FtDeviceListInfoNode, ftHandle) == 96);
static_assert(sizeof(FtDeviceListInfoNode) == 96 + sizeof(void*));

struct FtProgramData;  // the vendor's EEPROM record, laid out in binding/program_data.h

// Flag of FT_OpenEx: the argument is a USB location.
constexpr uint32_t kFtOpenByLocation = 4;

// FT_SetBitMode: the modes the library sets, and the pin mask it passes with them (every pin an
// input until the engine's own commands set directions).
constexpr uint8_t kFtBitModeReset = 0x00;
constexpr uint8_t kFtBitModeMpsse = 0x02;
constexpr uint8_t kFtBitMaskAllInputs = 0x00;

// FT_SetDataCharacteristics and FT_SetFlowControl: 8 data bits, 1 stop bit, no parity, no flow
// control (and so no XON / XOFF characters).
constexpr uint8_t kFtBits8 = 8;
constexpr uint8_t kFtStopBits1 = 0;
constexpr uint8_t kFtParityNone = 0;
constexpr uint16_t kFtFlowNone = 0x0000;
constexpr uint8_t kFtNoXonXoffChar = 0x00;

#ifdef _WIN32
#define KL_D2XX_CALL __stdcall
#else
#define KL_D2XX_CALL
#endif

// The 38 entry points in the order LoadD2XXDLL resolves them; the number is LoadD2XXDLL's result
// when that entry point is missing. H: the vendor function takes the device handle first and the
// guarded call passes CurrentHandle there; N: no handle. Then the caller's parameters and the
// argument list that forwards them.
#define KL_D2XX_ENTRY_POINTS(X)                                                                    \
    X(N, FT_ListDevices, 2, (void* arg1, void* arg2, uint32_t flags), (arg1, arg2, flags))         \
    X(N, FT_Open, 3, (int deviceNumber, FtHandle* handle), (deviceNumber, handle))                 \
    X(N, FT_OpenEx, 4, (void* arg, uint32_t flags, FtHandle* handle), (arg, flags, handle))        \
    X(H, FT_Close, 5, (), ())                                                                      \
    X(H, FT_Read, 6, (void* buffer, uint32_t count, uint32_t* got), (buffer, count, got))          \
    X(H, FT_Write, 7, (const void* buffer, uint32_t count, uint32_t* written),                     \
      (buffer, count, written))                                                                    \
    X(H, FT_ResetDevice, 8, (), ())                                                                \
    X(H, FT_ResetPort, 9, (), ())                                                                  \
    X(H, FT_CyclePort, 10, (), ())                                                                 \
    X(H, FT_SetBaudRate, 11, (uint32_t baud), (baud))                                              \
    X(H, FT_SetChars, 12, (uint8_t evt, uint8_t evtOn, uint8_t err, uint8_t errOn),                \
      (evt, evtOn, err, errOn))                                                                    \
    X(H, FT_Purge, 13, (uint32_t mask), (mask))                                                    \
    X(H, FT_SetTimeouts, 14, (uint32_t readMs, uint32_t writeMs), (readMs, writeMs))               \
    X(H, FT_GetQueueStatus, 15, (uint32_t * rxBytes), (rxBytes))                                   \
    X(H, FT_SetBreakOn, 16, (), ())                                                                \
    X(H, FT_SetBreakOff, 17, (), ())                                                               \
    X(H, FT_GetStatus, 18, (uint32_t * rx, uint32_t * tx, uint32_t * events), (rx, tx, events))    \
    X(H, FT_SetEventNotification, 19, (uint32_t mask, void* param), (mask, param))                 \
    X(H, FT_GetBitMode, 20, (uint8_t * mode), (mode))                                              \
    X(H, FT_SetBitMode, 21, (uint8_t mask, uint8_t mode), (mask, mode))                            \
    X(H, FT_SetLatencyTimer, 22, (uint8_t ms), (ms))                                               \
    X(H, FT_GetLatencyTimer, 23, (uint8_t * ms), (ms))                                             \
    X(H, FT_EraseEE, 24, (), ())                                                                   \
    X(H, FT_EE_Program, 25, (FtProgramData * data), (data))                                        \
    X(H, FT_EE_Read, 26, (FtProgramData * data), (data))                                           \
    X(H, FT_EE_UASize, 27, (uint32_t * size), (size))                                              \
    X(H, FT_EE_UARead, 28, (uint8_t * data, uint32_t length, uint32_t * got), (data, length, got)) \
    X(H, FT_EE_UAWrite, 29, (uint8_t * data, uint32_t length), (data, length))                     \
    X(N, FT_Rescan, 30, (), ())                                                                    \
    X(H, FT_GetDeviceInfo, 31,                                                                     \
      (uint32_t * type, uint32_t * id, char* serial, char* description, void* reserved),           \
      (type, id, serial, description, reserved))                                                   \
    X(H, FT_SetDataCharacteristics, 32, (uint8_t bits, uint8_t stop, uint8_t parity),              \
      (bits, stop, parity))                                                                        \
    X(H, FT_SetFlowControl, 33, (uint16_t flow, uint8_t xon, uint8_t xoff), (flow, xon, xoff))     \
    X(H, FT_SetDtr, 34, (), ())                                                                    \
    X(H, FT_ClrDtr, 35, (), ())                                                                    \
    X(N, FT_GetLibraryVersion, 36, (uint32_t * version), (version))                                \
    X(N, FT_CreateDeviceInfoList, 37, (uint32_t * count), (count))                                 \
    X(N, FT_GetDeviceInfoList, 38, (FtDeviceListInfoNode * nodes, uint32_t * count),               \
      (nodes, count))                                                                              \
    X(N, FT_Reload, 39, (uint16_t vendorId, uint16_t productId), (vendorId, productId))

namespace binding {

enum class Entry : int {
#define KL_ENTRY_ID(kind, name, missing, params, args) name,
    KL_D2XX_ENTRY_POINTS(KL_ENTRY_ID)
#undef KL_ENTRY_ID
        Count
};
constexpr int kEntryCount = static_cast<int>(Entry::Count);
static_assert(kEntryCount == 38);

// The resolved address of an entry point, or null when it is not (or not yet) resolved.
void* EntryAddress(Entry entry);

// The one current device handle: every guarded call that takes a handle passes it.
FtHandle CurrentHandle();
void SetCurrentHandle(FtHandle handle);
FtHandle* CurrentHandleSlot();  // where FT_Open / FT_OpenEx put a new handle

// The receive-queue byte count that the last status-recording FT_GetQueueStatus stored.
uint32_t RxQueueBytes();
void SetRxQueueBytes(uint32_t count);

// The status-recording FT_GetQueueStatus fixed to RxQueueBytes: one poll of the receive queue.
FtStatus PollRxQueue(FtStatus& status);

// Name of an entry point ("FT_Close") and LoadD2XXDLL's result when it is missing.
const char* EntryName(Entry entry);
int EntryMissingResult(Entry entry);

// Back to the state of a freshly loaded library (tests only): table, handle and counters empty.
void ResetBindingForTests();

// Tests load a library under another name or path (null restores the vendor library's name).
void SetVendorLibraryNameForTests(const char* name);

template <typename Signature>
struct VendorFunction;
template <typename... P>
struct VendorFunction<void(P...)> {
    using WithHandle = FtStatus(KL_D2XX_CALL*)(FtHandle, P...);
    using WithoutHandle = FtStatus(KL_D2XX_CALL*)(P...);
};

}  // namespace binding

// The guarded calls: ft::FT_SetBitMode(mask, mode) and its status-recording form
// ft::FT_SetBitMode(mask, mode, status). An empty entry returns 1 without calling anything.
namespace ft {

#define KL_VA_COMMA(...) __VA_OPT__(, ) __VA_ARGS__
#define KL_WITH_STATUS(...) (__VA_ARGS__ __VA_OPT__(, ) FtStatus & status)
#define KL_GUARDED_H(name, params, args)                                              \
    inline FtStatus name params {                                                     \
        using Fn = binding::VendorFunction<void params>::WithHandle;                  \
        auto fn = reinterpret_cast<Fn>(binding::EntryAddress(binding::Entry::name));  \
        return fn ? fn(binding::CurrentHandle() KL_VA_COMMA args) : kFtInvalidHandle; \
    }
#define KL_GUARDED_N(name, params, args)                                             \
    inline FtStatus name params {                                                    \
        using Fn = binding::VendorFunction<void params>::WithoutHandle;              \
        auto fn = reinterpret_cast<Fn>(binding::EntryAddress(binding::Entry::name)); \
        return fn ? fn args : kFtInvalidHandle;                                      \
    }
#define KL_GUARDED(kind, name, missing, params, args)                                  \
    KL_GUARDED_##kind(name, params, args) inline FtStatus name KL_WITH_STATUS params { \
        return status = name args;                                                     \
    }
KL_D2XX_ENTRY_POINTS(KL_GUARDED)
#undef KL_GUARDED
#undef KL_GUARDED_N
#undef KL_GUARDED_H

}  // namespace ft
}  // namespace kl

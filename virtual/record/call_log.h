// The call log: every entry-point call with its arguments, bytes and returned status, recorded
// before any fault rule acts; and the model errors, for requests the simulator does not model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "vendor_api/entry_list.h"

namespace vcable {

struct CallRecord {
    Entry entry;
    void* handle;
    uint64_t args[4];
    uint32_t argCount;
    uint32_t status;
    uint32_t transferred;
    uint8_t* data;  // the call's bytes in the log's storage (null until some are attached)
    uint32_t dataLength;
    bool faulted;
};

// Returned by BeginCall when the log is full: later calls on it are ignored.
constexpr uint32_t kNoRecord = UINT32_MAX;

// Per-call and total caps keep a long polling loop or a large transfer from exhausting memory.
constexpr uint32_t kMaxLoggedCalls = 1u << 20;
constexpr size_t kMaxDataPerCall = 4096;
constexpr size_t kMaxLoggedData = 64u << 20;

uint32_t BeginCall(Entry entry, void* handle, std::initializer_list<uint64_t> args);
void AttachCallData(uint32_t record, const void* data, size_t length);
void FinishCall(uint32_t record, uint32_t status, uint32_t transferred, bool faulted);

// Records and their bytes stay where they are until the log is cleared, however many calls
// follow, so the control API can hand out pointers to them.
uint32_t CallCount();
const CallRecord* CallAt(uint32_t index);
void ClearCallLog();

// mingw-w64 checks "printf" formats against the Microsoft runtime, which lacks %zu; the C++ build
// there formats with mingw's own C99 printf, so its formats are checked as GNU ones.
#ifdef __MINGW32__
#define VC_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define VC_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(printf, formatIndex, firstArg)))
#endif

// Records that the model was asked for something it does not implement.
void RecordModelError(const char* format, ...) VC_PRINTF_FORMAT(1, 2);
uint32_t ModelErrorCount();
const char* ModelErrorAt(uint32_t index);
void ClearModelErrors();

}  // namespace vcable

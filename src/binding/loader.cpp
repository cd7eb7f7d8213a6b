// Loading the vendor library and the entry-point table every guarded call reads.
#include "binding/d2xx.h"
#include "kestrellink.h"
#include "platform/platform.h"

namespace kl::binding {
namespace {

#ifdef _WIN32
constexpr const char* kVendorLibrary = "ftd2xx.dll";
#else
constexpr const char* kVendorLibrary = "libftd2xx.so";
#endif

struct EntryInfo {
    const char* name;
    int missingResult;
};

constexpr EntryInfo kEntries[] = {
#define KL_ENTRY_INFO(kind, name, missing, params, args) {#name, missing},
    KL_D2XX_ENTRY_POINTS(KL_ENTRY_INFO)
#undef KL_ENTRY_INFO
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == kEntryCount);

// Written by LoadD2XXDLL (module, table), by the opens through CurrentHandleSlot and by the
// channel selection (handle), and by every queue poll (RxQueueBytes). One caller thread at a time.
struct BindingState {
    void* module = nullptr;
    void* table[kEntryCount] = {};
    FtHandle currentHandle = nullptr;
    uint32_t rxQueueBytes = 0;
    uint32_t loads = 0;  // successful library loads not yet undone by an unload
};
BindingState state;
const char* libraryName = kVendorLibrary;  // replaced by tests only

}  // namespace

void* EntryAddress(Entry entry) { return state.table[static_cast<int>(entry)]; }
const char* EntryName(Entry entry) { return kEntries[static_cast<int>(entry)].name; }
int EntryMissingResult(Entry entry) { return kEntries[static_cast<int>(entry)].missingResult; }

FtHandle CurrentHandle() { return state.currentHandle; }
void SetCurrentHandle(FtHandle handle) { state.currentHandle = handle; }
FtHandle* CurrentHandleSlot() { return &state.currentHandle; }

uint32_t RxQueueBytes() { return state.rxQueueBytes; }
void SetRxQueueBytes(uint32_t count) { state.rxQueueBytes = count; }

FtStatus PollRxQueue(FtStatus& status) {
    return ft::FT_GetQueueStatus(&state.rxQueueBytes, status);
}

void ResetBindingForTests() { state = BindingState{}; }

void SetVendorLibraryNameForTests(const char* name) { libraryName = name ? name : kVendorLibrary; }

}  // namespace kl::binding

namespace kl::exports {

int LoadD2XXDLL() {
    using binding::state;
    void* module = platform::LoadLibraryByName(binding::libraryName);
    state.module = module;
    if (!module) return 1;
    ++state.loads;
    // Entries after a missing one keep what they held: a partial load changes only what it found.
    for (int i = 0; i < binding::kEntryCount; ++i) {
        void* address = platform::FindSymbol(module, binding::kEntries[i].name);
        state.table[i] = address;
        if (!address) return binding::kEntries[i].missingResult;
    }
    return 0;
}

// One unload releases one load. When the last load is released the table is emptied, so that a
// call made afterwards gets status 1 instead of jumping into a library that is no longer mapped,
// and a further unload releases nothing that this library does not hold.
int UnLoadD2XXDLL() {
    using binding::state;
    if (!state.module || state.loads == 0) return 0;
    const bool released = platform::ReleaseLibrary(state.module);
    if (--state.loads == 0) {
        state.module = nullptr;
        for (void*& entry : state.table) entry = nullptr;
    }
    return released ? 1 : 0;
}

}  // namespace kl::exports

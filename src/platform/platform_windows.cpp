// The platform seam on Windows.
#include <windows.h>
// oleauto.h relies on the types windows.h declares, so it comes second.
#include <oleauto.h>
// _wunlink
#include <io.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "platform/text.h"

namespace kl::platform {
namespace {

SleepHook sleepHook = nullptr;  // set by tests only

using HostMessageBox = void (*)(const WChar*);

}  // namespace

void* LoadLibraryByName(const char* name) {
    wchar_t wide[MAX_PATH];
    text::NarrowToWide(wide, MAX_PATH, name);
    // Never the current directory: the application's folder and System32 only.
    return LoadLibraryExW(wide, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

void* FindSymbol(void* module, const char* name) {
    if (!module) return nullptr;
    // FARPROC is a generic function pointer; go through void* so callers cast to the real type.
    FARPROC address = GetProcAddress(static_cast<HMODULE>(module), name);
    void* result;
    static_assert(sizeof(result) == sizeof(address));
    memcpy(&result, &address, sizeof(result));
    return result;
}

bool ReleaseLibrary(void* module) { return module && FreeLibrary(static_cast<HMODULE>(module)); }

void SleepMs(uint32_t ms) {
    if (sleepHook) {
        sleepHook(ms);
        return;
    }
    Sleep(ms);
}

void SetSleepHook(SleepHook hook) { sleepHook = hook; }

uint64_t MonotonicMs() { return GetTickCount64(); }

int64_t CalendarSeconds() { return static_cast<int64_t>(_time64(nullptr)); }

void ShowMessage(const WChar* text) {
    void* address = FindSymbol(GetModuleHandleW(nullptr), "KestrelLinkMessageBox");
    if (auto hook = reinterpret_cast<HostMessageBox>(address)) {
        hook(text ? text : L"");
        return;
    }
    MessageBoxW(nullptr, text ? text : L"", L"KestrelLink", MB_OK);
}

WChar* AllocOleString(const WChar* text) { return SysAllocString(text ? text : L""); }

FILE* OpenFileNarrow(const char* name, const char* mode) {
    if (!name) return nullptr;
    FILE* file = nullptr;
    return fopen_s(&file, name, mode) == 0 ? file : nullptr;
}

FILE* OpenFileWide(const WChar* name, const char* mode) {
    if (!name) return nullptr;
    wchar_t wideMode[8];
    text::NarrowToWide(wideMode, 8, mode);
    FILE* file = nullptr;
    return _wfopen_s(&file, name, wideMode) == 0 ? file : nullptr;
}

int RemoveFileWide(const WChar* name) { return name ? _wunlink(name) : -1; }

}  // namespace kl::platform

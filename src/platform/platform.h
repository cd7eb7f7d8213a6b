// The platform seam: the few things that differ between Windows and Linux. One implementation
// file per platform (platform_windows.cpp, platform_linux.cpp); nothing else in the library
// includes a system header for these facilities.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kl {

// A UTF-16 code unit as it crosses the export boundary.
#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif

namespace platform {

// Loads a library by plain name through the platform loader (Windows: LoadLibraryExW with the
// default safe search path, never the current directory; Linux: dlopen with RTLD_NOW). Returns
// null when it cannot be loaded. Every call loads again (the loader counts references).
void* LoadLibraryByName(const char* name);

// Address of an exported symbol, or null.
void* FindSymbol(void* module, const char* name);

// Releases one reference; true when the platform reports success.
bool ReleaseLibrary(void* module);

// Blocks the calling thread for ms milliseconds. Tests may replace it (see SetSleepHook).
void SleepMs(uint32_t ms);
using SleepHook = void (*)(uint32_t ms);
void SetSleepHook(SleepHook hook);  // null restores the real sleep

// Milliseconds of a monotonic clock; for pacing and bounded waits.
uint64_t MonotonicMs();

// Seconds of the calendar clock (one-second resolution).
int64_t CalendarSeconds();

// Shows a modal message with one OK button and returns when it is dismissed. A host-provided
// KestrelLinkMessageBox(const WChar*) in the process receives the text instead; otherwise
// Windows shows MessageBoxW and Linux writes one UTF-8 line to standard error (and waits for
// Enter only when standard input and standard error are both terminals).
void ShowMessage(const WChar* text);

// An owned string handed to the caller: SysAllocString on Windows (freed with SysFreeString),
// malloc on Linux (freed with free). Null only when memory runs out.
WChar* AllocOleString(const WChar* text);

// Files. Narrow names go to the C library unchanged; wide names are UTF-16 (UTF-8 on Linux).
// mode is a C mode string such as "rb", "wb" or "a". Null names give null.
FILE* OpenFileNarrow(const char* name, const char* mode);
FILE* OpenFileWide(const WChar* name, const char* mode);
int RemoveFileWide(const WChar* name);

}  // namespace platform
}  // namespace kl

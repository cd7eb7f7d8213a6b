// How an export is defined. Plain exports are extern "C" functions declared in kestrellink.h.
// The six decorated ones are C++ functions on Linux (the compiler gives them their Itanium
// names) and C functions named KlDecorated_<name> on Windows, which the .def file exports under
// their MSVC-decorated names. Either way the plain name is never exported. Define them as
// `int KL_DECORATED(OpenDevice5_B7)(kl_wchar* a, kl_wchar* b, kl_ulong divisor) { ... }`.
#pragma once

#include "kestrellink.h"

#ifdef _WIN32
#define KL_DECORATED(name) KlDecorated_##name
extern "C" {
int KlDecorated_OpenDevice5_B7(kl_wchar*, kl_wchar*, kl_ulong);
int KlDecorated_OpenDevice5_B8(kl_wchar*, kl_wchar*, kl_ulong);
int KlDecorated_OpenDevice5_CopyE(kl_wchar*, kl_wchar*, kl_ulong);
int KlDecorated_CheckDeviceTalkable(kl_wchar*, kl_wchar*, kl_ulong);
kl_ulong KlDecorated_Reload_Driver_B7(unsigned short, unsigned short);
kl_ulong KlDecorated_Reload_Driver_B8(unsigned short, unsigned short);
}
#else
#define KL_DECORATED(name) name
#endif

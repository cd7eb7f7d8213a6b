// How an export is defined. Plain exports are extern "C" functions declared in kestrellink.h.
// The six decorated ones are C++ functions on Linux (the compiler gives them their Itanium
// names) and C functions named KlDecorated_<name> on Windows, which the .def file exports under
// their MSVC-decorated names. Either way the plain name is never exported.
#pragma once

#include "kestrellink.h"

#ifdef _WIN32
#define KL_DECORATED(name) extern "C" KlDecorated_##name
#else
#define KL_DECORATED(name) name
#endif

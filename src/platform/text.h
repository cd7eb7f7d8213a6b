// UTF-16 string helpers used across the library. Null pointers count as empty strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace kl::text {

size_t Length(const WChar* s);

// Copies at most capacity - 1 units and always terminates (capacity >= 1).
void CopyBounded(WChar* dest, size_t capacity, const WChar* src);

// Appends src to the terminated string in dest; false (dest unchanged) when it would not fit.
bool AppendBounded(WChar* dest, size_t capacity, const WChar* src);

// Case-sensitive substring test; an empty needle is contained in everything.
bool Contains(const WChar* haystack, const WChar* needle);

bool Equal(const WChar* a, const WChar* b);

// Byte for character: each narrow byte becomes one UTF-16 unit (0 to 255). Stops at the first
// NUL or after maxBytes bytes; dest receives at most capacity - 1 units and a terminator.
void NarrowToWide(WChar* dest, size_t capacity, const char* src, size_t maxBytes = SIZE_MAX);

// Byte for character: units above 0xFF become '?'. Truncates to capacity - 1 bytes.
void WideToNarrow(char* dest, size_t capacity, const WChar* src);

// UTF-16 to UTF-8 (lone surrogates become U+FFFD), for file names and console text on Linux.
// Writes a terminated string into out; false (out empty) when it does not fit.
bool ToUtf8(const WChar* s, char* out, size_t capacity);

}  // namespace kl::text

// Wide literals at the export boundary: KL_W("text") is L"text" on Windows, u"text" on Linux.
#ifdef _WIN32
#define KL_W(s) L##s
#else
#define KL_W(s) u##s
#endif

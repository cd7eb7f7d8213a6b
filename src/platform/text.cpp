#include "platform/text.h"

namespace kl::text {

size_t Length(const WChar* s) {
    if (!s) return 0;
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void CopyBounded(WChar* dest, size_t capacity, const WChar* src) {
    size_t n = 0;
    if (src) {
        for (; n + 1 < capacity && src[n]; ++n) dest[n] = src[n];
    }
    dest[n] = 0;
}

bool AppendBounded(WChar* dest, size_t capacity, const WChar* src) {
    size_t used = Length(dest);
    size_t extra = Length(src);
    if (used + extra + 1 > capacity) return false;
    for (size_t i = 0; i < extra; ++i) dest[used + i] = src[i];
    dest[used + extra] = 0;
    return true;
}

bool Contains(const WChar* haystack, const WChar* needle) {
    size_t needleLength = Length(needle);
    if (needleLength == 0) return true;
    size_t haystackLength = Length(haystack);
    for (size_t start = 0; start + needleLength <= haystackLength; ++start) {
        size_t i = 0;
        while (i < needleLength && haystack[start + i] == needle[i]) ++i;
        if (i == needleLength) return true;
    }
    return false;
}

bool Equal(const WChar* a, const WChar* b) {
    size_t n = Length(a);
    if (n != Length(b)) return false;
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

void NarrowToWide(WChar* dest, size_t capacity, const char* src, size_t maxBytes) {
    size_t n = 0;
    if (src) {
        for (; n + 1 < capacity && n < maxBytes && src[n]; ++n) {
            dest[n] = static_cast<WChar>(static_cast<unsigned char>(src[n]));
        }
    }
    dest[n] = 0;
}

void WideToNarrow(char* dest, size_t capacity, const WChar* src) {
    size_t n = 0;
    if (src) {
        for (; n + 1 < capacity && src[n]; ++n) {
            auto unit = static_cast<uint32_t>(src[n]);
            dest[n] = unit > 0xFF ? '?' : static_cast<char>(unit);
        }
    }
    dest[n] = 0;
}

bool ToUtf8(const WChar* s, char* out, size_t capacity) {
    size_t used = 0;
    auto put = [&](uint32_t byte) {
        if (used + 1 < capacity) out[used] = static_cast<char>(byte);
        ++used;
    };
    size_t n = Length(s);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = static_cast<uint16_t>(s[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
            uint32_t low = static_cast<uint16_t>(s[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        if (c < 0x80) {
            put(c);
        } else if (c < 0x800) {
            put(0xC0 | (c >> 6));
            put(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            put(0xE0 | (c >> 12));
            put(0x80 | ((c >> 6) & 0x3F));
            put(0x80 | (c & 0x3F));
        } else {
            put(0xF0 | (c >> 18));
            put(0x80 | ((c >> 12) & 0x3F));
            put(0x80 | ((c >> 6) & 0x3F));
            put(0x80 | (c & 0x3F));
        }
    }
    if (capacity == 0) return false;
    const bool fits = used < capacity;
    out[fits ? used : 0] = 0;
    return fits;
}

}  // namespace kl::text

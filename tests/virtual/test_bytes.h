// Byte streams in the virtual cable's tests: a failed comparison shows both streams in hex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtest {

using Bytes = std::vector<uint8_t>;

// Bytes as "0A 1B ..".
inline std::string Hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

}  // namespace vtest

#define EXPECT_BYTES_EQ(expected, actual) EXPECT_EQ(vtest::Hex(expected), vtest::Hex(actual))

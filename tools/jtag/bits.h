// Bit vectors in shift order: bit 0 is the first bit clocked into TDI (or out of TDO), and the
// bytes hold the bits the way the library's shift exports take them (bit 0 of byte 0 first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::jtag {

class Bits {
  public:
    Bits() = default;
    explicit Bits(size_t count, bool fill = false);

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool Get(size_t index) const { return (bytes_[index / 8] >> (index % 8)) & 1; }
    void Set(size_t index, bool value);
    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* data() { return bytes_.data(); }
    size_t byteCount() const { return bytes_.size(); }

    // Appends `other` after the last bit (its bit 0 is shifted after this vector's last bit).
    void Append(const Bits& other);
    Bits Slice(size_t from, size_t count) const;
    // True when every bit is `value` (also for an empty vector).
    bool All(bool value) const;
    bool operator==(const Bits& other) const = default;

    // Hex text as SVF writes it: most significant digit first, bit 0 in the last digit. Fewer
    // digits than `count` needs leave the high bits 0; a set bit at or above `count` is an error.
    static bool FromHex(std::string_view hex, size_t count, Bits& out, std::string& error);
    // Bytes with the most significant byte first and bit 0 in the low bit of the last byte.
    static bool FromBigEndian(const uint8_t* bytes, size_t byteCount, size_t count, Bits& out);
    // The value as hex digits (ceil(size / 4) of them, most significant first, no prefix).
    std::string ToHex() const;

  private:
    std::vector<uint8_t> bytes_;
    size_t count_ = 0;
};

// Where `actual` differs from `expected` in the bits that `mask` selects (mask bit 1: compare).
// An empty mask compares every bit.
struct Comparison {
    size_t differing = 0;  // how many compared bits differ
    size_t first = 0;      // the lowest of them (shifted first), when differing > 0
};
Comparison Compare(const Bits& expected, const Bits& actual, const Bits& mask);

}  // namespace kestrel::jtag

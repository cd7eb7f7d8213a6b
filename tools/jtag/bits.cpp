#include "jtag/bits.h"

#include <bit>

namespace kestrel::jtag {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Bits::Bits(size_t count, bool fill) : bytes_((count + 7) / 8, fill ? 0xFF : 0x00), count_(count) {
    // Bits past the end stay 0 so that whole-byte comparisons and copies see only real bits.
    if (fill && count % 8 != 0) bytes_.back() = static_cast<uint8_t>((1u << (count % 8)) - 1);
}

void Bits::Set(size_t index, bool value) {
    const auto bit = static_cast<uint8_t>(1u << (index % 8));
    if (value) {
        bytes_[index / 8] |= bit;
    } else {
        bytes_[index / 8] &= static_cast<uint8_t>(~bit);
    }
}

void Bits::Append(const Bits& other) {
    const size_t start = count_;
    count_ += other.count_;
    bytes_.resize((count_ + 7) / 8, 0);
    if (start % 8 == 0) {
        std::copy(other.bytes_.begin(), other.bytes_.end(), bytes_.begin() + start / 8);
        return;
    }
    for (size_t i = 0; i < other.count_; ++i) Set(start + i, other.Get(i));
}

Bits Bits::Slice(size_t from, size_t count) const {
    Bits out(count);
    for (size_t i = 0; i < count; ++i) out.Set(i, Get(from + i));
    return out;
}

bool Bits::All(bool value) const {
    const Bits reference(count_, value);
    return bytes_ == reference.bytes_;
}

bool Bits::FromHex(std::string_view hex, size_t count, Bits& out, std::string& error) {
    out = Bits(count);
    size_t bit = 0;
    for (size_t i = hex.size(); i-- > 0;) {
        const int digit = HexDigit(hex[i]);
        if (digit < 0) {
            error = std::string("'") + hex[i] + "' is not a hex digit";
            return false;
        }
        for (int b = 0; b < 4; ++b, ++bit) {
            if (((digit >> b) & 1) == 0) continue;
            if (bit >= count) {
                error = "the value is wider than its length of " + std::to_string(count) + " bits";
                return false;
            }
            out.Set(bit, true);
        }
    }
    return true;
}

bool Bits::FromBigEndian(const uint8_t* bytes, size_t byteCount, size_t count, Bits& out) {
    out = Bits(count);
    for (size_t i = 0; i < 8 * byteCount; ++i) {
        if (((bytes[byteCount - 1 - i / 8] >> (i % 8)) & 1) == 0) continue;
        if (i >= count) return false;
        out.Set(i, true);
    }
    return true;
}

std::string Bits::ToHex() const {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t d = (count_ + 3) / 4; d-- > 0;) {
        unsigned digit = 0;
        for (size_t b = 0; b < 4 && 4 * d + b < count_; ++b) digit |= Get(4 * d + b) << b;
        text += kDigits[digit];
    }
    return text;
}

Comparison Compare(const Bits& expected, const Bits& actual, const Bits& mask) {
    Comparison result;
    const size_t bytes = std::min(expected.byteCount(), actual.byteCount());
    for (size_t i = 0; i < bytes; ++i) {
        uint8_t differ = expected.data()[i] ^ actual.data()[i];
        if (!mask.empty()) differ &= i < mask.byteCount() ? mask.data()[i] : 0;
        if (differ == 0) continue;
        if (result.differing == 0) result.first = 8 * i + std::countr_zero(differ);
        result.differing += std::popcount(differ);
    }
    return result;
}

}  // namespace kestrel::jtag

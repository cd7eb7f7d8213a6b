#include "targets/jtag/shift_register.h"

#include <algorithm>

#include "targets/bit_stream.h"

namespace vcable {
namespace {

uint64_t Mask(int bits) { return bits >= 64 ? ~0ull : (1ull << bits) - 1; }

}  // namespace

void ShiftRegister::Load(int length, const uint8_t* bits) {
    length_ = length;
    if (Small()) {
        small_ = 0;
        for (int k = 0; k < length; k += 8) small_ |= uint64_t{bits::Get8(bits, k)} << k;
        small_ &= Mask(length);
        return;
    }
    ring_.assign(bits::StreamBytes(length), 0);
    bits::Copy(bits, 0, ring_.data(), 0, length);
    head_ = 0;
}

void ShiftRegister::Load(int length, uint64_t value) {
    std::vector<uint8_t> stream(bits::StreamBytes(std::max(length, 64)), 0);
    for (int k = 0; k < 8; ++k) stream[k] = static_cast<uint8_t>(value >> (8 * k));
    Load(length, stream.data());
}

bool ShiftRegister::Out() const {
    return Small() ? (small_ & 1) != 0 : bits::Get(ring_.data(), head_);
}

void ShiftRegister::Shift(bool in) {
    if (Small()) {
        small_ = (small_ >> 1) | (uint64_t{in} << (length_ - 1));
        return;
    }
    bits::Put(ring_.data(), head_, in);
    head_ = head_ + 1 == static_cast<uint32_t>(length_) ? 0 : head_ + 1;
}

void ShiftRegister::Shift(const uint8_t* in, uint32_t inPos, uint8_t* out, uint32_t outPos,
                          uint32_t n) {
    if (Small()) {
        bits::DelayLine(small_, length_, in, inPos, out, outPos, n);
        return;
    }
    // Up to the end of the ring at a time: the bits there leave, the input takes their place.
    for (uint32_t done = 0; done < n;) {
        const uint32_t piece = std::min(n - done, static_cast<uint32_t>(length_) - head_);
        bits::Copy(ring_.data(), head_, out, outPos + done, piece);
        bits::Copy(in, inPos + done, ring_.data(), head_, piece);
        done += piece;
        head_ = (head_ + piece) % static_cast<uint32_t>(length_);
    }
}

void ShiftRegister::Store(uint8_t* bits) const {
    if (Small()) {
        for (int k = 0; k < length_; k += 8) bits::Put8(bits, k, static_cast<uint8_t>(small_ >> k));
        return;
    }
    const uint32_t length = static_cast<uint32_t>(length_);
    bits::Copy(ring_.data(), head_, bits, 0, length - head_);
    bits::Copy(ring_.data(), 0, bits, length - head_, head_);
}

std::vector<uint8_t> ShiftRegister::Value() const {
    std::vector<uint8_t> bits(bits::StreamBytes(length_), 0);
    Store(bits.data());
    return bits;
}

uint64_t ShiftRegister::Low64() const {
    if (Small()) return small_;
    const std::vector<uint8_t> bits = Value();
    uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value |= uint64_t{bits[k]} << (8 * k);
    return value;
}

}  // namespace vcable

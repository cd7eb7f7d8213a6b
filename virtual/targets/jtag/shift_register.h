// The shift stage of a TAP's data registers: `length` bits between TDI and TDO. Bit 0 is the next
// to leave on TDO and TDI enters at bit length - 1, so after n shifts bit k holds the k-th bit
// shifted in (the bit order of an SVF value). Register values outside the stage are bit streams
// in clock order (targets/bit_stream.h): bit k in bit k % 8 of byte k / 8, with the padding byte.
#pragma once

#include <cstdint>
#include <vector>

namespace vcable {

// Any length from 1 to kMaxRegisterBits (jtag_setup.h).
class ShiftRegister {
  public:
    int Length() const { return length_; }

    // Capture: the stage takes `length` bits from a stream, or from a number (at most 64 bits).
    void Load(int length, const uint8_t* bits);
    void Load(int length, uint64_t value);

    bool Out() const;  // bit 0, which TDO shows
    // One TCK in the shift state: bit 0 leaves, `in` enters.
    void Shift(bool in);
    // n periods at once: out receives bit 0 of each period from outPos on; in gives the bits from
    // inPos on. in and out must not be the same buffer.
    void Shift(const uint8_t* in, uint32_t inPos, uint8_t* out, uint32_t outPos, uint32_t n);

    // The stage's bits into a stream of at least StreamBytes(length) bytes.
    void Store(uint8_t* bits) const;
    std::vector<uint8_t> Value() const;
    uint64_t Low64() const;  // the first 64 bits

  private:
    // Registers of up to 64 bits are one number, longer ones a ring of bits whose bit 0 sits at
    // head_: each TCK reads the oldest bit and writes the newest into the same place.
    bool Small() const { return length_ <= 64; }

    int length_ = 1;
    uint64_t small_ = 0;
    std::vector<uint8_t> ring_;
    uint32_t head_ = 0;
};

}  // namespace vcable

// Bit streams for the targets' fast paths: one level per TCK period, period i in bit i % 8 of byte
// i / 8 (clock order). Buffers carry one byte of padding past their last bit, so that reading or
// writing eight bits at any position stays inside them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace vcable::bits {

// Bytes a stream of n bits occupies, padding included.
constexpr uint32_t StreamBytes(uint32_t n) { return n / 8 + 2; }

inline bool Get(const uint8_t* s, uint32_t i) { return ((s[i >> 3] >> (i & 7)) & 1) != 0; }

inline void Put(uint8_t* s, uint32_t i, bool level) {
    const uint8_t bit = static_cast<uint8_t>(1u << (i & 7));
    s[i >> 3] = static_cast<uint8_t>(level ? (s[i >> 3] | bit) : (s[i >> 3] & ~bit));
}

// Eight bits from position i on.
inline uint8_t Get8(const uint8_t* s, uint32_t i) {
    const uint32_t k = i >> 3;
    const uint32_t o = i & 7;
    if (o == 0) return s[k];
    return static_cast<uint8_t>((s[k] >> o) | (s[k + 1] << (8 - o)));
}

inline void Put8(uint8_t* s, uint32_t i, uint8_t value) {
    const uint32_t k = i >> 3;
    const uint32_t o = i & 7;
    if (o == 0) {
        s[k] = value;
        return;
    }
    const uint8_t below = static_cast<uint8_t>((1u << o) - 1);
    s[k] = static_cast<uint8_t>((s[k] & below) | (value << o));
    s[k + 1] = static_cast<uint8_t>((s[k + 1] & ~below) | (value >> (8 - o)));
}

// Sets n bits from position i on to one level.
inline void Fill(uint8_t* s, uint32_t i, uint32_t n, bool level) {
    const uint8_t all = level ? 0xFF : 0x00;
    for (; n > 0 && (i & 7) != 0; --n, ++i) Put(s, i, level);
    std::memset(s + (i >> 3), all, n / 8);
    i += n & ~7u;
    for (n &= 7; n > 0; --n, ++i) Put(s, i, level);
}

// Copies n bits from position srcPos of src to position dstPos of dst (different buffers).
inline void Copy(const uint8_t* src, uint32_t srcPos, uint8_t* dst, uint32_t dstPos, uint32_t n) {
    uint32_t done = 0;
    for (; n - done >= 8; done += 8) Put8(dst, dstPos + done, Get8(src, srcPos + done));
    for (; done < n; ++done) Put(dst, dstPos + done, Get(src, srcPos + done));
}

// A shift register of `length` bits (1 to 64) in front of an input stream: out receives the first
// n bits of (register, then input), and the register keeps the `length` bits that follow. A JTAG
// data or instruction register in its shift state is exactly this, one bit per TCK period.
inline void DelayLine(uint64_t& reg, int length, const uint8_t* in, uint32_t inPos, uint8_t* out,
                      uint32_t outPos, uint32_t n) {
    unsigned __int128 acc = reg;
    uint32_t done = 0;
    for (; n - done >= 8; done += 8) {
        acc |= static_cast<unsigned __int128>(Get8(in, inPos + done)) << length;
        Put8(out, outPos + done, static_cast<uint8_t>(acc));
        acc >>= 8;
    }
    for (; done < n; ++done) {
        acc |= static_cast<unsigned __int128>(Get(in, inPos + done) ? 1 : 0) << length;
        Put(out, outPos + done, (acc & 1) != 0);
        acc >>= 1;
    }
    const uint64_t mask = length >= 64 ? ~0ull : (1ull << length) - 1;
    reg = static_cast<uint64_t>(acc) & mask;
}

constexpr std::array<uint8_t, 256> MakeReverseTable() {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        uint8_t r = 0;
        for (int b = 0; b < 8; ++b) r = static_cast<uint8_t>(r | (((v >> b) & 1) << (7 - b)));
        table[v] = r;
    }
    return table;
}
inline constexpr std::array<uint8_t, 256> kReverseTable = MakeReverseTable();

// Bit order of a byte reversed: turns MSB-first data into clock order and back.
inline uint8_t Reverse(uint8_t byte) { return kReverseTable[byte]; }

}  // namespace vcable::bits

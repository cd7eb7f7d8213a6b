// The reply of a queued JTAG_ReadTDO2 capture, for every client that reads with it (the JTAG
// player's held-TDI scans, the flash reads). The engine answers the capture of n bits with the
// whole bytes but the last bit's as they were shifted, then the tail bits but the last in the top
// bits of one byte (least-significant-first bit reads fill a byte from the top), then the last bit
// in bit 7 of the TMS read's byte.
#pragma once

#include <cstdint>

#include "wire/mpsse.h"

namespace kestrel {

// Bytes JTAG_RxFTDI collects for a capture of `bits` bits (at least 1).
constexpr uint32_t ReadTdoReplyBytes(uint32_t bits) {
    const wire::ShiftSplit split = wire::SplitShift(bits);
    return split.whole + (split.tail >= 2 ? 1 : 0) + 1;
}

// Bytes a queued JTAG_ReadTDO2 of `bits` bits appends: a byte-read header per 64 KiB of whole
// bytes, a bit read (two bytes) for the tail bits but the last, and the TMS read of the last.
constexpr uint32_t ReadTdoQueuedBytes(uint32_t bits) {
    const wire::ShiftSplit split = wire::SplitShift(bits);
    const uint32_t commands =
        (split.whole + wire::kMaxBytesPerCommand - 1) / wire::kMaxBytesPerCommand;
    return commands * wire::kCommandBytes + (split.tail >= 2 ? 2 : 0) + wire::kCommandBytes;
}

// Puts the `bits` bits of `reply` into `out` in shift order: bit i in bit i % 8 of out[i / 8].
// `out` holds (bits + 7) / 8 bytes; bits past the last in its last byte are left as they were.
inline void UnpackReadTdo(const uint8_t* reply, uint32_t bits, uint8_t* out) {
    const auto [whole, tail] = wire::SplitShift(bits);
    auto put = [out](uint32_t i, bool bit) {
        const auto mask = static_cast<uint8_t>(1u << (i % 8));
        out[i / 8] = static_cast<uint8_t>(bit ? out[i / 8] | mask : out[i / 8] & ~mask);
    };
    for (uint32_t k = 0; k < whole; ++k) out[k] = reply[k];
    const uint8_t* next = reply + whole;
    if (tail >= 2) {
        const uint32_t count = tail - 1;
        for (uint32_t i = 0; i < count; ++i) put(8 * whole + i, (*next >> (8 - count + i)) & 1);
        ++next;
    }
    put(bits - 1, (*next >> 7) & 1);
}

}  // namespace kestrel

// The engine's command bytes and the library's shift modes as the tool's clients use them, the
// library's queue limits (one copy, from kestrellink.h), and the split of a shift into whole bytes
// and tail bits that the library's queued exports follow.
#pragma once

#include <cstdint>

#include "kestrellink.h"

namespace kestrel::wire {

// Engine commands written raw (only through the carrier, carrier.h).
constexpr uint8_t kSetLowPins = 0x80;       // levels, directions
constexpr uint8_t kBytesOutFalling = 0x11;  // most significant bit first, out on the falling edge
constexpr uint8_t kBytesInRising = 0x20;    // most significant bit first, in on the rising edge
constexpr uint8_t kSendImmediate = 0x87;
// Least significant bit first, out on the falling edge: the carrier's shift (carrier.h).
constexpr uint8_t kBytesOutFallingLsb = 0x19;

// Modes of the library's shift exports, which take their byte, bit and TMS opcodes from them.
// Out on the falling edge, least significant bit first (TDO, where read, on the rising edge).
constexpr kl_u8 kModeOut = 0x09;
// The same with TDO read: JTAG_WriteTDI2's queued form reads what it shifts (0x39, 0x3B, 0x6B).
constexpr kl_u8 kModeOutRead = 0x29;
// In on the rising edge, least significant bit first.
constexpr kl_u8 kModeIn = 0x08;
// TMS out on the falling edge, least significant bit first; bit 7 of the data is TDI's level.
constexpr kl_u8 kTmsOut = 0x4B;
constexpr kl_u8 kTmsRead = 0x6B;  // the same, TDO read on the rising edge
constexpr uint8_t kTmsHoldTdiHigh = 0x80;
constexpr uint32_t kTmsBitsPerCommand = 6;  // JTAG_WriteTMS2 takes at most 6 bits at a time

// A TMS command, a one-bit shift, and the header of a byte shift are this many bytes.
constexpr uint32_t kCommandBytes = 3;
// One byte-shift command moves at most this many bytes.
constexpr uint32_t kMaxBytesPerCommand = 65536;

// The library's queue: a data append that would take it past the threshold sends it first; the
// buffer is what it holds at most.
constexpr uint32_t kQueueThreshold = KL_JTAG_QUEUE_THRESHOLD;
constexpr uint32_t kQueueBuffer = KL_JTAG_QUEUE_BUFFER;

// A shift of `bits` bits (at least 1) as the library splits it: whole bytes, then 1 to 8 tail bits
// (the last bit is always a tail bit).
struct ShiftSplit {
    uint32_t whole;
    uint32_t tail;
};
constexpr ShiftSplit SplitShift(uint32_t bits) {
    const uint32_t whole = (bits - 1) / 8;
    return {whole, bits - 8 * whole};
}

// Bytes a queued JTAG_WriteTDI of `bits` bits appends: a byte-shift command per 64 KiB of whole
// bytes with its data, and a one-bit command per tail bit.
constexpr uint64_t QueuedShiftBytes(uint32_t bits) {
    const ShiftSplit split = SplitShift(bits);
    const uint64_t commands = (split.whole + kMaxBytesPerCommand - 1) / kMaxBytesPerCommand;
    return commands * kCommandBytes + split.whole + uint64_t{split.tail} * kCommandBytes;
}

}  // namespace kestrel::wire

// The FT2232's MPSSE command set as the engine decodes it, written from the chip maker's published
// command list and kept apart from any host-side definitions, so that an encoding mistake on the
// host is caught here rather than decoded the same wrong way.
#pragma once

#include <cstdint>

namespace vcable::mpsse {

// Data-shifting commands are built from these bits (bits 6 and 7 clear, bit 4 or 5 set).
constexpr uint8_t kOutOnFallingEdge = 0x01;
constexpr uint8_t kBitMode = 0x02;
constexpr uint8_t kInOnFallingEdge = 0x04;
constexpr uint8_t kLsbFirst = 0x08;
constexpr uint8_t kWriteTdi = 0x10;
constexpr uint8_t kReadTdo = 0x20;
constexpr uint8_t kWriteTms = 0x40;
constexpr uint8_t kNotShiftMask = 0xC0;

// TMS commands: bit 6 set, bits 7 and 4 clear, always bit mode and LSB first. The write edge
// (bit 0), the read (bit 5) and the read edge (bit 2) are the same fields as in the data-shifting
// commands, so besides the listed 0x4A, 0x4B, 0x6A, 0x6B, 0x6E and 0x6F the chip takes 0x4E and
// 0x4F, a TMS write whose read edge has nothing to sample.
constexpr uint8_t kTmsFixedMask = kNotShiftMask | kWriteTdi | kBitMode | kLsbFirst;
constexpr uint8_t kTmsFixedBits = kWriteTms | kBitMode | kLsbFirst;
constexpr int kTmsMaxBits = 7;  // data bits 0 to 6; bit 7 is held on TDI
constexpr uint8_t kTmsTdiBit = 0x80;

constexpr uint8_t kSetLowByte = 0x80;  // value, direction
constexpr uint8_t kReadLowByte = 0x81;
constexpr uint8_t kSetHighByte = 0x82;  // value, direction
constexpr uint8_t kReadHighByte = 0x83;
constexpr uint8_t kLoopbackOn = 0x84;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kSetDivisor = 0x86;  // low byte, high byte
constexpr uint8_t kSendImmediate = 0x87;
constexpr uint8_t kWaitIoHigh = 0x88;  // waits for GPIOL1 high
constexpr uint8_t kWaitIoLow = 0x89;

// The reply to an opcode the chip does not know: this byte, then the opcode. Only opcodes with
// this bit set are answered.
constexpr uint8_t kBadCommandReply = 0xFA;
constexpr uint8_t kBadCommandBit = 0x80;
// Opcodes that hosts send on purpose to check that the engine is in step with them.
constexpr uint8_t kSyncProbe = 0xAA;
constexpr uint8_t kSyncProbeAlt = 0xAB;

// The MPSSE clock: 12 MHz / ((1 + divisor) * 2).
constexpr uint32_t kBaseClockHz = 12000000;

constexpr bool IsShift(uint8_t op) {
    return (op & kNotShiftMask) == 0 && (op & (kWriteTdi | kReadTdo)) != 0;
}

constexpr bool IsTms(uint8_t op) { return (op & kTmsFixedMask) == kTmsFixedBits; }

}  // namespace vcable::mpsse

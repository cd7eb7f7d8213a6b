// The MPSSE opcodes and option bits the library emits, named by what they do, and the engine's
// limits. The engine's published command set defines the values; commands.h builds commands from
// them, and no other file of the library spells an opcode.
#pragma once

#include <cstdint>

namespace kl::mpsse {

// Option bits of a data-shifting command byte.
constexpr uint8_t kOutFalling = 0x01;  // data out on the falling clock edge
constexpr uint8_t kBitMode = 0x02;     // length counts bits (one length byte) instead of bytes
constexpr uint8_t kInFalling = 0x04;   // data in on the falling clock edge
constexpr uint8_t kLsbFirst = 0x08;    // least significant bit first
constexpr uint8_t kWriteTdi = 0x10;    // shift data out on TDI / DO
constexpr uint8_t kReadTdo = 0x20;     // shift data in from TDO / DI
constexpr uint8_t kWriteTms = 0x40;    // shift data out on TMS

// TMS commands as the JTAG operations use them: bits out on the falling edge, LSB first, with and
// without capturing TDO; and the TMS bits a caller's option byte is combined with.
constexpr uint8_t kTmsOut = kWriteTms | kLsbFirst | kBitMode | kOutFalling;  // 0x4B
constexpr uint8_t kTmsOutReadTdo = kTmsOut | kReadTdo;                       // 0x6B
constexpr uint8_t kTmsOption = kWriteTms | kBitMode;                         // 0x42
constexpr uint8_t kTmsReadOption = kWriteTms | kReadTdo | kBitMode;          // 0x62

// Byte-level commands.
constexpr uint8_t kSetLowBits = 0x80;    // value, direction of ADBUS0..7
constexpr uint8_t kReadLowBits = 0x81;   // one reply byte
constexpr uint8_t kSetHighBits = 0x82;   // value, direction of ACBUS0..7
constexpr uint8_t kReadHighBits = 0x83;  // one reply byte
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kSetDivisor = 0x86;  // low byte, high byte
constexpr uint8_t kBadCommand = 0xAA;  // invalid: the engine answers 0xFA, 0xAA

// Data byte of a TMS command: bit 7 is the level TDI is held at while TMS shifts.
constexpr uint8_t kTmsHoldTdiHigh = 0x80;
// The TMS data of a one-bit TMS command that leaves Shift-DR / Shift-IR (TMS 1).
constexpr uint8_t kTmsExit = 0x03;
// A one-bit data command carries its bit in bit 0 of the data byte; with LSB-first shifting the
// tail commands use these two data bytes.
constexpr uint8_t kTailBitOne = 0x03;
constexpr uint8_t kTailBitZero = 0x00;

// The longest byte-mode command (16-bit length field holds count - 1).
constexpr uint32_t kMaxBytesPerCommand = 65536;
// The longest TMS command the JTAG operations accept: count field at most 5 (6 bits).
constexpr uint8_t kMaxTmsCount = 5;

}  // namespace kl::mpsse

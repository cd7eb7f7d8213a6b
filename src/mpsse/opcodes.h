// The MPSSE commands and option bits the library emits, named by what they do. Command builders
// use only these names; the engine's published command set defines the values.
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
// without capturing TDO.
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

// Data bit of a TMS command: bit 7 is the level TDI is held at while TMS shifts.
constexpr uint8_t kTmsHoldTdiHigh = 0x80;
// The TMS data byte of a one-bit TMS command that leaves Shift-DR / Shift-IR (TMS 1, TDI low);
// with kTmsHoldTdiHigh added, TDI is held high.
constexpr uint8_t kTmsExit = 0x03;
// A one-bit data command carries its bit in bit 0 of the data byte; with LSB-first shifting the
// tail commands use these two data bytes.
constexpr uint8_t kTailBitOne = 0x03;
constexpr uint8_t kTailBitZero = 0x00;

// The longest byte-mode command (16-bit length field holds count - 1).
constexpr uint32_t kMaxBytesPerCommand = 65536;
// The longest TMS command: the count field holds at most 5 (6 bits).
constexpr uint8_t kMaxTmsCount = 5;

// Pin bits of the low byte (ADBUS).
constexpr uint8_t kPinTck = 0x01;
constexpr uint8_t kPinTdi = 0x02;
constexpr uint8_t kPinTdo = 0x04;
constexpr uint8_t kPinTms = 0x08;
constexpr uint8_t kPinGpioL0 = 0x10;
constexpr uint8_t kPinGpioL1 = 0x20;
constexpr uint8_t kPinGpioL2 = 0x40;
constexpr uint8_t kPinGpioL3 = 0x80;
// Pin bits of the high byte (ACBUS).
constexpr uint8_t kPinGpioH1 = 0x02;
constexpr uint8_t kPinGpioH2 = 0x04;

// The default low-byte levels: TCK low, TDI and TMS high, GPIOL0..3 high.
constexpr uint8_t kDefaultLowLevels = 0xFA;
// The high-byte levels GPIO2_low sends (with direction 0: every ACBUS line an input).
constexpr uint8_t kReleasedHighLevels = 0x0F;

// The clock divisor JTAG_Clk runs its fill at (1 MHz).
constexpr uint16_t kClkRunDivisor = 5;

}  // namespace kl::mpsse

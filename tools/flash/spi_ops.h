// A serial NOR flash on the SPI lines (SK, DO, DI) with its chip select on GPIOL2, driven through
// the library's exports: GPIO2_low2 selects and Disable_AllTalk deselects; between them the bytes
// out are queued with JTAG_WriteTDI and the bytes in with JTAG_ReadTDO2, sent with one
// JTAG_Send2FTDI and collected with JTAG_RxFTDI. The flash sees SPI mode 0, most significant bit
// first, and exactly eight clocks per byte while it is selected.
#pragma once

#include <cstdint>
#include <functional>

#include "common/common.h"
#include "flash/flash.h"

namespace kestrel {

// Told the bytes done so far of a long transfer.
using ProgressFn = std::function<void(uint32_t done)>;

// Flash commands.
namespace flash_cmd {
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kReadJedecId = 0x9F;
constexpr uint8_t kReadSfdp = 0x5A;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kSectorErase = 0x20;
constexpr uint8_t kChipErase = 0xC7;
constexpr uint8_t kWriteStatus = 0x01;
constexpr uint8_t kRead4 = 0x13;
constexpr uint8_t kPageProgram4 = 0x12;
constexpr uint8_t kEnter4ByteMode = 0xB7;
constexpr uint8_t kExit4ByteMode = 0xE9;
}  // namespace flash_cmd

// Every operation takes the flash it addresses (flash.h): its geometry says how they reach past
// 16 MiB (4-byte opcodes, or four address bytes in 4-byte mode) and how long their status polls
// may wait, and its buffers carry their transfers.

// The command byte and its address as the flash takes them (three bytes, or four past 16 MiB
// with its 4-byte opcode or in 4-byte mode) into `out`; returns their count.
constexpr uint32_t kMaxAddressCommand = 5;
uint32_t PutAddressCommand(const Flash& flash, uint8_t command, uint32_t address,
                           uint8_t out[kMaxAddressCommand]);

// 4-byte mode for the job: entered (0xB7) before it and left (0xE9) after it, for a flash that
// uses it; nothing for the others.
bool EnterAddressMode(Flash& flash, CallResult& result);
bool LeaveAddressMode(Flash& flash, CallResult& result);

// Reads one byte of a status register with its read command (0x05, 0x35, 0x15).
bool FlashReadRegister(Flash& flash, uint8_t command, uint8_t& value, CallResult& result);
// Write enable and a status write (0x01 with one to three bytes), then polls until done.
bool FlashWriteStatus(Flash& flash, const uint8_t* bytes, uint32_t count, CallResult& result);

// One transaction: chip select low, `outCount` bytes out, then `inCount` bytes in, chip select
// high (also after a failure). A long read ends early, failing, when a stop is asked for
// (flash_stop.h).
bool FlashTransfer(Flash& flash, const uint8_t* out, uint32_t outCount, uint8_t* in,
                   uint32_t inCount, CallResult& result, const ProgressFn& progress = {});

// Reads the three JEDEC identification bytes (manufacturer, memory type, capacity).
bool FlashJedecId(Flash& flash, uint8_t id[3], CallResult& result);
// Reads `count` bytes of the SFDP space from `address`.
bool FlashReadSfdp(Flash& flash, uint32_t address, uint8_t* out, uint32_t count,
                   CallResult& result);
// Reads `count` bytes from `address` in one READ transaction.
bool FlashRead(Flash& flash, uint32_t address, uint8_t* out, uint32_t count, CallResult& result,
               const ProgressFn& progress = {});

// Write enable, the command (an erase or a page program with its data), then status reads until
// the flash is no longer busy, or a failure when the flash's documented maximum time for the
// operation has passed. An erase opcode is one of the geometry's; with 4-byte opcodes it is sent
// as its 4-byte form.
bool FlashErase(Flash& flash, uint8_t opcode, uint32_t address, CallResult& result);
bool FlashChipErase(Flash& flash, CallResult& result);
bool FlashProgram(Flash& flash, uint32_t address, const uint8_t* data, uint32_t count,
                  CallResult& result);

// Status reads until the flash is no longer busy; fails once `timeoutUs` have passed with the
// flash still busy, naming the operation and its bound.
bool WaitReady(Flash& flash, uint64_t timeoutUs, const char* operation, CallResult& result);

// Status register 1: write in progress.
constexpr uint8_t kStatusBusy = 0x01;

}  // namespace kestrel

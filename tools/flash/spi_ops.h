// A serial NOR flash on the SPI lines (SK, DO, DI) with its chip select on GPIOL2, driven through
// the library's exports: GPIO2_low2 selects and Disable_AllTalk deselects; between them the bytes
// out are queued with JTAG_WriteTDI and the bytes in with JTAG_ReadTDO2, sent with one
// JTAG_Send2FTDI and collected with JTAG_RxFTDI. The flash sees SPI mode 0, most significant bit
// first, and exactly eight clocks per byte while it is selected.
#pragma once

#include <cstdint>
#include <functional>

#include "common/common.h"

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
}  // namespace flash_cmd

// 3-byte addresses reach the first 16 MiB.
constexpr uint64_t kAddressableBytes = uint64_t{1} << 24;

// One transaction: chip select low, `outCount` bytes out, then `inCount` bytes in, chip select
// high (also after a failure).
bool FlashTransfer(const uint8_t* out, uint32_t outCount, uint8_t* in, uint32_t inCount,
                   CallResult& result, const ProgressFn& progress = {});

// Reads the three JEDEC identification bytes (manufacturer, memory type, capacity).
bool FlashJedecId(uint8_t id[3], CallResult& result);
// Reads `count` bytes of the SFDP space from `address`.
bool FlashReadSfdp(uint32_t address, uint8_t* out, uint32_t count, CallResult& result);
// Reads `count` bytes from `address` in one READ transaction.
bool FlashRead(uint32_t address, uint8_t* out, uint32_t count, CallResult& result,
               const ProgressFn& progress = {});

// Write enable, the command (an erase or a page program with its data), then status reads until
// the flash is no longer busy or `timeoutSeconds` have passed.
bool FlashErase(uint8_t opcode, uint32_t address, CallResult& result);
bool FlashChipErase(CallResult& result);
bool FlashProgram(uint32_t address, const uint8_t* data, uint32_t count, CallResult& result);

}  // namespace kestrel

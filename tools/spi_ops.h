// A serial NOR flash on the SPI lines (SK, DO, DI) with its chip select on GPIOL2, driven through
// the library's SPI and pin exports: GPIO2_low2 selects, Disable_AllTalk deselects.
#pragma once

#include <cstdint>
#include <functional>

#include "common.h"

namespace kestrel {

constexpr uint32_t kFlashPageSize = 256;
constexpr uint32_t kFlashSectorSize = 4096;

// Reads the three JEDEC identification bytes (manufacturer, memory type, capacity).
bool FlashJedecId(uint8_t id[3], CallResult& result);
// The size the capacity byte announces (2^capacity), or 0 when it is not a plausible size.
uint32_t FlashSizeFromJedec(const uint8_t id[3]);

// Reads `count` bytes from `address`; `progress` (may be empty) is told the bytes done so far.
bool FlashRead(uint32_t address, uint8_t* out, uint32_t count, CallResult& result,
               const std::function<void(uint32_t)>& progress = {});

// Erases the sectors that [address, address + count) touches, then programs the bytes page by
// page, polling the status register until each operation is done.
bool FlashWrite(uint32_t address, const uint8_t* data, uint32_t count, bool erase,
                CallResult& result, const std::function<void(uint32_t)>& progress = {});

}  // namespace kestrel

// What the tool knows of the flash before it sends a command that reads, erases or programs: its
// size, its smallest erase and its page, from --flash-size, from the flash's discoverable
// parameters (SFDP) or from the capacity byte of its JEDEC ID, in that order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/common.h"

namespace kestrel {

struct FlashGeometry {
    uint64_t size = 0;  // bytes; 0 when nothing announced it
    std::string sizeSource;
    uint32_t eraseSize = 4096;  // the smallest erase, and its opcode
    uint8_t eraseOpcode = 0x20;
    uint32_t pageSize = 256;
};

// The size a JEDEC ID's capacity byte announces (2^capacity bytes, 4 KiB to 2 GiB), or 0.
uint64_t SizeFromJedec(const uint8_t id[3]);

// Reads `count` bytes of the SFDP space from `address`; false when the transfer failed.
using SfdpReader = std::function<bool(uint32_t address, uint8_t* out, uint32_t count)>;

// The flash's discoverable parameters: nothing when it does not answer with the signature or has
// no JEDEC basic parameter table; otherwise the size, erase and page the table announces (the
// default erase and page for what it leaves out). False only when a read failed.
bool ReadSfdpGeometry(const SfdpReader& read, std::optional<FlashGeometry>& geometry);

// Asks the flash: its JEDEC ID and, when it answers one, its SFDP table; `sizeOverride` (non-zero)
// takes the place of the size they announce. The ID is left in `id`.
bool ProbeFlash(uint64_t sizeOverride, uint8_t id[3], std::optional<FlashGeometry>& sfdp,
                FlashGeometry& geometry, CallResult& result);

// "1 MiB", "64 KiB" or "12345 bytes".
std::string SizeText(uint64_t bytes);

// Why [address, address + count) cannot be used on the flash, or empty when it can: it passes the
// end of the flash or the 16 MiB that 3-byte addresses reach, or the size is unknown.
std::string RangeProblem(uint64_t address, uint64_t count, const FlashGeometry& geometry);

}  // namespace kestrel

// The flash's write protection as its status registers set it: the block-protect bits and the
// range they protect, decoded by the maker's scheme (from the JEDEC ID), and the status-register
// protect bit that locks them. Writes and erases refuse a protected range before any data
// command; --unprotect clears the bits for the job and puts them back afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "common/common.h"
#include "flash/flash.h"

namespace kestrel {

struct FlashProtection {
    uint8_t maker = 0;
    uint64_t size = 0;
    bool known = false;      // the maker's scheme is one the tool decodes
    uint8_t status[3] = {};  // status register 1, the second register (SR2, or CR), SR3
    bool hasSecond = false;
    uint8_t secondOpcode = 0;  // its read command
    const char* secondName = "";
    bool hasThird = false;   // status register 3 (0x15), read by ReadThirdRegister only
    bool writeBoth = false;  // a status write carries both registers
    uint64_t first = 0;      // the protected range [first, end); empty when first == end
    uint64_t end = 0;
    bool locked = false;  // status-register protect: the bits cannot be written

    bool Protects(uint64_t from, uint64_t to) const { return from < end && to > first; }
};

// Reads the status registers of the flash with this JEDEC ID and size and decodes them.
bool ReadProtection(Flash& flash, const uint8_t id[3], uint64_t size, FlashProtection& protection,
                    CallResult& result);

// Reads status register 3 (0x15) where the maker's command set has one there (Winbond and
// GigaDevice; Macronix's 0x15 is the configuration register already read). The ID does not tell
// whether the part has it (one ID can span generations with and without it), and a part without
// it ignores 0x15: all ones, DI left to its pull-up, is taken as no third register.
constexpr uint8_t kReadStatus3 = 0x15;
bool ReadThirdRegister(Flash& flash, FlashProtection& protection, CallResult& result);

// "status register 1 0x04, status register 2 0x02: 0xFC0000 to 0xFFFFFF (256 KiB) protected",
// with ", status register 3 0x60" before the colon where it was read.
std::string DescribeProtection(const FlashProtection& protection);

// Clears the block-protect bits (and the top/bottom, sector and complement bits with them);
// fails when the registers are locked.
bool ClearProtection(Flash& flash, const FlashProtection& protection, CallResult& result);
// Writes the registers back as ReadProtection found them.
bool RestoreProtection(Flash& flash, const FlashProtection& protection, CallResult& result);
// What RestoreProtection writes, for a person to write by other means: "status register 1 0x04
// and status register 2 0x02 (write enable 0x06, then the status write 01 04 02)".
std::string RestoreText(const FlashProtection& protection);

}  // namespace kestrel

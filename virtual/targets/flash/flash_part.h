// Serial NOR flash parts as data: identity, geometry, status registers and the meaning of their
// bits, the block-protect scheme, the commands each answers and how long each operation keeps it
// busy. The flash model (spi_flash.h) acts out whichever part its setup names; the generic part
// is the default.
#pragma once

#include <cstdint>
#include <string_view>

namespace vcable {

// One status-register bit: which register (0 to 2 for SR1 to SR3) and which bit; register -1
// when the part has no such bit.
struct StatusBit {
    int8_t reg = -1;
    int8_t bit = 0;
    bool Present() const { return reg >= 0; }
};

// How the block-protect bits map to a protected range. `unit` is what BP = 1 protects; each
// step up doubles it, and `allFrom` and above protect the whole array. With the sector bit set
// (where there is one) BP = 1..3 protect 4, 8 and 16 KiB and 4 and above (below allFrom) 32 KiB.
// The top/bottom bit moves the range from the top of the array to its bottom; the complement bit
// protects everything else instead.
struct ProtectScheme {
    StatusBit bp[4];  // BP0 upwards; absent ones read as 0
    StatusBit tb;     // absent: always from the top
    StatusBit sec;
    StatusBit cmp;
    uint32_t unit = 0;
    uint8_t allFrom = 7;
};

// Typical and maximum busy times of the operations, in microseconds.
struct BusyTime {
    uint32_t typicalUs = 0;
    uint32_t maxUs = 0;
};
struct FlashTimes {
    BusyTime pageProgram, sectorErase, blockErase32, blockErase64, statusWrite;
    uint64_t chipEraseTypicalUs = 0;
    uint64_t chipEraseMaxUs = 0;
};

// How a register is read and written: its read opcode (0: none), and its own write opcode or
// that it follows the registers before it in the first status write (0x01 with several bytes).
struct RegisterAccess {
    uint8_t readOpcode = 0;
    uint8_t writeOpcode = 0;   // 0: no write command of its own
    bool afterFirst = false;   // written as a further byte of 0x01
    uint8_t writableMask = 0;  // bits a write may change
};

struct FlashPart {
    std::string_view name;
    std::string_view maker;
    std::string_view source;  // the datasheet its figures come from
    uint8_t jedecId[3];
    uint32_t size;
    uint32_t pageSize;
    uint8_t deviceId;   // answered by 0xAB and, after the maker byte, by 0x90
    uint8_t registers;  // status registers the part has (1 to 3)
    RegisterAccess access[3];
    uint8_t factory[3];           // the status registers as delivered
    StatusBit qe, srp, srl, ads;  // quad enable, status protect, status lock, 4-byte mode
    ProtectScheme protect;
    FlashTimes times;
    uint8_t uniqueIdBytes;     // 0x4B: four dummy bytes, then this many bytes of serial number
    bool has4ByteOpcodes;      // 0x13, 0x0C, 0x12, 0x21, 0xDC
    bool has4ByteMode;         // 0xB7 enters, 0xE9 leaves
    bool volatileStatusWrite;  // 0x50 enables a status write that does not persist
    uint8_t sfdpMinor;         // the JESD216 revision the SFDP header announces (1.x)
    uint64_t uniqueId;         // the first eight bytes; further ones are its complement
    // A program or erase refused for protection clears write enable (else it stays set).
    bool rejectClearsWel = false;
};

// The part a scenario names, or null for an unknown name.
const FlashPart* FindFlashPart(std::string_view name);
// Every named part, in table order, and the generic flash of the default scenario.
const FlashPart* FlashParts(size_t& count);
const FlashPart& GenericFlashPart();

// The protected range [first, end) the status registers select; first == end when none is.
struct ProtectedRange {
    uint32_t first = 0;
    uint32_t end = 0;
    bool Empty() const { return first >= end; }
    bool Touches(uint32_t from, uint32_t to) const { return from < end && to > first; }
};
ProtectedRange ProtectedRangeOf(const FlashPart& part, uint32_t size, const uint8_t status[3]);

inline bool BitSet(const uint8_t status[3], StatusBit b) {
    return b.Present() && ((status[b.reg] >> b.bit) & 1) != 0;
}

}  // namespace vcable

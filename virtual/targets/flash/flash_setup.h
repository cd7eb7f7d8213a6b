// The setup of the SPI flash: whether there is one, which part it is (its status registers,
// protection and busy times), its geometry, contents, identity (JEDEC ID and discoverable
// parameters) and chip-select line.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "targets/flash/flash_part.h"

namespace vcable {

struct FlashSetup {
    bool present = true;
    uint32_t size = 1u << 20;       // bytes, a multiple of the 4 KiB sector
    std::vector<uint8_t> contents;  // empty: the recognisable pattern of FlashPatternByte
    int csLine = 6;                 // ADBUS line of the active-low chip select (GPIOL2)
    uint8_t jedecId[3] = {0xA7, 0x40, 0x14};
    // Whether the flash answers the SFDP read (0x5A), and with what: empty means a table built
    // from the geometry.
    bool sfdp = true;
    std::vector<uint8_t> sfdpSpace;
    // The part: null for the generic flash, whose identity and geometry are the fields above.
    const FlashPart* part = nullptr;
    // The part (or the generic flash) with a scenario's changes to its identity, size, page and
    // times, for one the table lacks; its size and JEDEC ID are then the ones above.
    std::optional<FlashPart> tuned;
    // Status registers 1 to 3 at start; without them, the part's factory state.
    bool hasStatus = false;
    uint8_t status[3] = {};
    // A fault: the first program or erase never ends, so the busy bit stays up.
    bool stuckBusy = false;

    const FlashPart& Part() const { return tuned ? *tuned : part ? *part : GenericFlashPart(); }
    // Whether size and ID come from the part rather than from the fields above.
    bool Described() const { return part != nullptr || tuned.has_value(); }
};

// Capacity bytes of a JEDEC ID that announce a size, 2^code bytes: from 4 KiB to 2 GiB. Other
// values announce none.
constexpr uint8_t kMinCapacityCode = 0x0C;
constexpr uint8_t kMaxCapacityCode = 0x1F;

// The size a capacity byte announces, or 0.
inline uint64_t CapacityCodeBytes(uint8_t code) {
    return code >= kMinCapacityCode && code <= kMaxCapacityCode ? uint64_t{1} << code : 0;
}

// The capacity byte for a size: its base-2 logarithm for a power of two, else 0xFF (no size).
inline uint8_t CapacityCodeFor(uint32_t size) {
    for (uint8_t code = kMinCapacityCode; code <= kMaxCapacityCode; ++code) {
        if (CapacityCodeBytes(code) == size) return code;
    }
    return 0xFF;
}

// The default flash contents: every byte differs from its neighbours and from the same offset in
// the next page, so a read at the wrong address or with a lost bit shows at once.
inline uint8_t FlashPatternByte(uint32_t address) {
    return static_cast<uint8_t>((address & 0xFF) ^ ((address >> 8) * 0x1D) ^ (address >> 16));
}

}  // namespace vcable

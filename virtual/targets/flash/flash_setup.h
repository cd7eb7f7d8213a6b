// The setup of the SPI flash: whether there is one, its geometry, contents, identity, chip-select
// line and how long its operations keep it busy.
#pragma once

#include <cstdint>
#include <vector>

namespace vcable {

struct FlashSetup {
    bool present = true;
    uint32_t size = 1u << 20;       // bytes, a multiple of the 4 KiB sector
    std::vector<uint8_t> contents;  // empty: the recognisable pattern of FlashPatternByte
    int csLine = 6;                 // ADBUS line of the active-low chip select (GPIOL2)
    uint8_t jedecId[3] = {0xA7, 0x40, 0x14};
    // Status reads that show the write-in-progress bit after each operation.
    int programBusyPolls = 2;
    int sectorEraseBusyPolls = 4;
    int chipEraseBusyPolls = 8;
};

// The default flash contents: every byte differs from its neighbours and from the same offset in
// the next page, so a read at the wrong address or with a lost bit shows at once.
inline uint8_t FlashPatternByte(uint32_t address) {
    return static_cast<uint8_t>((address & 0xFF) ^ ((address >> 8) * 0x1D) ^ (address >> 16));
}

}  // namespace vcable

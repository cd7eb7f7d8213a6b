// The wiring behind channel A of one virtual cable: the JTAG chain, the SPI flash and the levels
// that outside circuits put on the input lines. A default-constructed setup is the default wiring.
#pragma once

#include <cstdint>
#include <vector>

namespace vcable {

// One TAP controller of the chain. Device 0 is nearest TDI: bits enter device 0 first and leave
// the chain through the last device, so a scan out of the chain shows the last device first.
struct JtagDeviceSetup {
    int irLength = 6;              // 2 to 32
    uint32_t idcode = 0x12345677;  // bit 0 must be 1
    uint32_t idcodeInstruction = 0x09;
    uint32_t userInstruction = 0x02;  // selects the user data register
    int userLength = 32;              // 1 to 64 bits
    uint64_t userResetValue = 0;      // loaded at start and by the reset line
};

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

struct TargetSetup {
    std::vector<JtagDeviceSetup> chain = DefaultChain();
    // ADBUS line whose low level resets the chain's user registers (GPIOL1).
    int chainResetLine = 5;
    FlashSetup flash;
    // Lines that outside circuits drive, and their levels (bit n = line n, ACBUS from bit 8).
    uint16_t externalDriveMask = 0;
    uint16_t externalDriveLevels = 0xFFFF;

    static std::vector<JtagDeviceSetup> DefaultChain() {
        JtagDeviceSetup first;  // nearest TDI
        JtagDeviceSetup second;
        second.irLength = 8;
        second.idcode = 0x87654321;
        second.idcodeInstruction = 0x1E;
        second.userInstruction = 0xC2;
        return {first, second};
    }
};

// The default flash contents: every byte differs from its neighbours and from the same offset in
// the next page, so a read at the wrong address or with a lost bit shows at once.
inline uint8_t FlashPatternByte(uint32_t address) {
    return static_cast<uint8_t>((address & 0xFF) ^ ((address >> 8) * 0x1D) ^ (address >> 16));
}

}  // namespace vcable

// The setup of a JTAG chain: its TAP controllers and the line that resets their user registers.
#pragma once

#include <cstdint>
#include <vector>

namespace vcable {

// One TAP controller of the chain.
struct JtagDeviceSetup {
    int irLength = 6;              // 2 to 32
    uint32_t idcode = 0x12345677;  // bit 0 must be 1
    uint32_t idcodeInstruction = 0x09;
    uint32_t userInstruction = 0x02;  // selects the user data register
    int userLength = 32;              // 1 to 64 bits
    uint64_t userResetValue = 0;      // loaded at start and by the reset line
};

// The default chain: two devices with distinct IDCODEs and instruction lengths.
inline std::vector<JtagDeviceSetup> DefaultJtagDevices() {
    JtagDeviceSetup first;  // nearest TDI
    JtagDeviceSetup second;
    second.irLength = 8;
    second.idcode = 0x87654321;
    second.idcodeInstruction = 0x1E;
    second.userInstruction = 0xC2;
    return {first, second};
}

struct JtagSetup {
    // Device 0 is nearest TDI: bits enter device 0 first and leave the chain through the last
    // device, so a scan out of the chain shows the last device first. Empty: no chain.
    std::vector<JtagDeviceSetup> devices = DefaultJtagDevices();
    // ADBUS line whose low level resets the devices' user registers (GPIOL1).
    int resetLine = 5;
};

}  // namespace vcable

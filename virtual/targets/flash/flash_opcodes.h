// Command bytes the flash model knows; which of them a part answers is in its table entry.
#pragma once

#include <cstdint>

namespace vcable::flash_op {

constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kWriteDisable = 0x04;
constexpr uint8_t kVolatileStatusWriteEnable = 0x50;
constexpr uint8_t kReadStatus1 = 0x05;
constexpr uint8_t kWriteStatus = 0x01;
constexpr uint8_t kReadJedecId = 0x9F;
constexpr uint8_t kReadSfdp = 0x5A;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kFastRead = 0x0B;
constexpr uint8_t kRead4 = 0x13;
constexpr uint8_t kFastRead4 = 0x0C;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kPageProgram4 = 0x12;
constexpr uint8_t kSectorErase = 0x20;
constexpr uint8_t kSectorErase4 = 0x21;
constexpr uint8_t kBlockErase32 = 0x52;
constexpr uint8_t kBlockErase64 = 0xD8;
constexpr uint8_t kBlockErase64_4 = 0xDC;
constexpr uint8_t kChipErase = 0xC7;
constexpr uint8_t kChipEraseAlt = 0x60;
constexpr uint8_t kReadUniqueId = 0x4B;
constexpr uint8_t kReadManufacturerDeviceId = 0x90;
constexpr uint8_t kReleasePowerDown = 0xAB;
constexpr uint8_t kPowerDown = 0xB9;
constexpr uint8_t kResetEnable = 0x66;
constexpr uint8_t kReset = 0x99;
constexpr uint8_t kEnter4ByteMode = 0xB7;
constexpr uint8_t kExit4ByteMode = 0xE9;

// Commands whose reply the flash drives on DI: a chip select that rises in the middle of a byte
// ends them without harm.
inline bool RepliesOnDi(uint8_t command) {
    switch (command) {
        case kRead:
        case kFastRead:
        case kRead4:
        case kFastRead4:
        case kReadSfdp:
        case kReadStatus1:
        case 0x35:
        case 0x15:
        case kReadJedecId:
        case kReadUniqueId:
        case kReadManufacturerDeviceId:
        case kReleasePowerDown:
            return true;
        default:
            return false;
    }
}

inline bool IsDataRead(uint8_t command) {
    return command == kRead || command == kFastRead || command == kRead4 || command == kFastRead4;
}

}  // namespace vcable::flash_op

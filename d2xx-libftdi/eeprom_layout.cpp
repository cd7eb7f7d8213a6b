#include "eeprom_layout.h"

#include <algorithm>

namespace ftl {
namespace {

constexpr uint32_t kSharedEnd = kStringAreaStart + kSharedWords * 2;  // byte 0x76
constexpr uint16_t kBcdDevice2232 = 0x0500;
constexpr uint8_t kChipType93C46 = 0x46;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint8_t kPointerFlag = 0x80;  // string pointers carry the area's high bit

// Byte offsets of the settings.
enum : uint32_t {
    kChannelA = 0x00,
    kChannelB = 0x01,
    kVendorId = 0x02,
    kProductId = 0x04,
    kBcdDevice = 0x06,
    kAttributes = 0x08,
    kMaxPower = 0x09,
    kChipOptions = 0x0A,
    kUsbVersion = 0x0C,
    kManufacturerPointer = 0x0E,
    kProductPointer = 0x10,
    kSerialPointer = 0x12,
    kChipType = 0x14,
};

// Configuration-descriptor attributes.
constexpr uint8_t kAttrBusPowered = 0x80;
constexpr uint8_t kAttrSelfPowered = 0x40;
constexpr uint8_t kAttrRemoteWakeup = 0x20;

// One bit of a settings byte and the record field it stands for.
struct FlagBit {
    uint32_t byte;
    uint8_t mask;
    uint8_t FtProgramData::*field;
};

constexpr FlagBit kFlagBits[] = {
    {kChannelA, 0x01, &FtProgramData::IFAIsFifo},
    {kChannelA, 0x02, &FtProgramData::IFAIsFifoTar},
    {kChannelA, 0x04, &FtProgramData::IFAIsFastSer},
    {kChannelA, 0x08, &FtProgramData::AIsVCP},
    {kChannelA, 0x10, &FtProgramData::AIsHighCurrent},
    {kChannelB, 0x01, &FtProgramData::IFBIsFifo},
    {kChannelB, 0x02, &FtProgramData::IFBIsFifoTar},
    {kChannelB, 0x04, &FtProgramData::IFBIsFastSer},
    {kChannelB, 0x08, &FtProgramData::BIsVCP},
    {kChannelB, 0x10, &FtProgramData::BIsHighCurrent},
    {kChipOptions, 0x01, &FtProgramData::IsoInA},
    {kChipOptions, 0x02, &FtProgramData::IsoOutA},
    {kChipOptions, 0x04, &FtProgramData::PullDownEnable5},
    {kChipOptions, 0x08, &FtProgramData::SerNumEnable5},
    {kChipOptions, 0x10, &FtProgramData::USBVersionEnable5},
    {kChipOptions, 0x20, &FtProgramData::IsoInB},
    {kChipOptions, 0x40, &FtProgramData::IsoOutB},
};

// Byte access to the little-endian words.
struct Bytes {
    EepromImage& image;
    void Set(uint32_t at, uint8_t value) {
        uint16_t& word = image[at / 2];
        word = at % 2 ? static_cast<uint16_t>((word & 0x00FF) | value << 8)
                      : static_cast<uint16_t>((word & 0xFF00) | value);
    }
    void Set16(uint32_t at, uint16_t value) { image[at / 2] = value; }
};
uint8_t Get(const EepromImage& image, uint32_t at) {
    return static_cast<uint8_t>(at % 2 ? image[at / 2] >> 8 : image[at / 2] & 0xFF);
}

// Writes one string descriptor at `at` and its pointer; returns the byte after it.
uint32_t PutString(Bytes out, uint32_t pointer, uint32_t at, const std::string& text) {
    const auto length = static_cast<uint8_t>(2 + 2 * text.size());
    out.Set(pointer, static_cast<uint8_t>(at | kPointerFlag));
    out.Set(pointer + 1, length);
    out.Set(at, length);
    out.Set(at + 1, kStringDescriptorType);
    for (size_t i = 0; i < text.size(); ++i) out.Set16(at + 2 + 2 * i, uint8_t(text[i]));
    return at + length;
}

// Reads the string a pointer names; null when it lies outside the string area.
std::optional<std::string> GetString(const EepromImage& image, uint32_t pointer) {
    const uint32_t at = Get(image, pointer) & ~kPointerFlag;
    const uint32_t length = Get(image, pointer + 1);
    if (at < kStringAreaStart || at % 2 || length < 2 || length % 2 || at + length > kSharedEnd) {
        return std::nullopt;
    }
    std::string text;
    for (uint32_t i = at + 2; i < at + length; i += 2) text += static_cast<char>(Get(image, i));
    return text;
}

uint32_t StringEnd(const EepromImage& image, uint32_t pointer) {
    return (Get(image, pointer) & ~kPointerFlag) + Get(image, pointer + 1);
}

}  // namespace

uint16_t Checksum(const EepromImage& image) {
    uint16_t sum = 0xAAAA;
    for (uint32_t i = 0; i < kChecksumWord; ++i) {
        sum ^= image[i];
        sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
    }
    return sum;
}

std::optional<EepromImage> EncodeImage(const FtProgramData& record, const std::string& manufacturer,
                                       const std::string& description, const std::string& serial) {
    const size_t words = 3 + manufacturer.size() + description.size() + serial.size();
    if (words > kSharedWords) return std::nullopt;
    EepromImage image{};
    Bytes out{image};
    for (const FlagBit& bit : kFlagBits) {
        if (record.*bit.field) out.Set(bit.byte, Get(image, bit.byte) | bit.mask);
    }
    out.Set16(kVendorId, record.VendorId);
    out.Set16(kProductId, record.ProductId);
    out.Set16(kBcdDevice, kBcdDevice2232);
    out.Set(kAttributes,
            static_cast<uint8_t>(kAttrBusPowered | (record.SelfPowered ? kAttrSelfPowered : 0) |
                                 (record.RemoteWakeup ? kAttrRemoteWakeup : 0)));
    out.Set(kMaxPower, static_cast<uint8_t>(std::min(record.MaxPower / 2, 0xFF)));
    out.Set16(kUsbVersion, record.USBVersion5);
    uint32_t at = PutString(out, kManufacturerPointer, kStringAreaStart, manufacturer);
    at = PutString(out, kProductPointer, at, description);
    PutString(out, kSerialPointer, at, serial);
    out.Set(kChipType, kChipType93C46);
    image[kChecksumWord] = Checksum(image);
    return image;
}

std::optional<EepromContents> DecodeImage(const EepromImage& image) {
    if (image[kChecksumWord] != Checksum(image)) return std::nullopt;
    auto manufacturer = GetString(image, kManufacturerPointer);
    auto description = GetString(image, kProductPointer);
    auto serial = GetString(image, kSerialPointer);
    if (!manufacturer || !description || !serial) return std::nullopt;
    EepromContents contents;
    FtProgramData& record = contents.record;
    for (const FlagBit& bit : kFlagBits) record.*bit.field = (Get(image, bit.byte) & bit.mask) != 0;
    record.VendorId = image[kVendorId / 2];
    record.ProductId = image[kProductId / 2];
    const uint8_t attributes = Get(image, kAttributes);
    record.SelfPowered = (attributes & kAttrSelfPowered) != 0;
    record.RemoteWakeup = (attributes & kAttrRemoteWakeup) != 0;
    record.MaxPower = static_cast<uint16_t>(Get(image, kMaxPower) * 2);
    record.Rev5 = 1;
    record.USBVersion5 = image[kUsbVersion / 2];
    contents.manufacturer = *manufacturer;
    contents.description = *description;
    contents.serial = *serial;
    // The chip keeps no manufacturer ID; the serial number begins with it.
    contents.manufacturerId = serial->substr(0, 2);
    const uint32_t offset = UserAreaOffset(image);
    for (uint32_t i = 0; i < UserAreaSize(image); ++i) {
        contents.userArea.push_back(Get(image, offset + i));
    }
    return contents;
}

uint32_t UserAreaOffset(const EepromImage& image) {
    return std::max({StringEnd(image, kManufacturerPointer), StringEnd(image, kProductPointer),
                     StringEnd(image, kSerialPointer)});
}

uint32_t UserAreaSize(const EepromImage& image) {
    const uint32_t offset = UserAreaOffset(image);
    return offset >= kSharedEnd ? 0 : kSharedEnd - offset;
}

void PutUserArea(EepromImage& image, const uint8_t* data, uint32_t length) {
    Bytes out{image};
    const uint32_t offset = UserAreaOffset(image);
    for (uint32_t i = 0; i < length && i < UserAreaSize(image); ++i) out.Set(offset + i, data[i]);
    image[kChecksumWord] = Checksum(image);
}

}  // namespace ftl

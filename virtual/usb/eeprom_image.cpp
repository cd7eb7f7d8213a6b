// The 93C46 image: header words, the three string descriptors behind them, the user area in the
// words the strings leave, and the checksum.
#include "usb/eeprom_image.h"

#include <string>

namespace vcable::usb {
namespace {

constexpr uint16_t kChecksumSeed = 0xAAAA;
constexpr uint32_t kStringsStartByte = 0x16;
constexpr uint32_t kImageBytes = kImageWords * 2;
constexpr uint32_t kChecksumByte = kImageBytes - 2;
constexpr uint8_t kStringDescriptor = 0x03;
constexpr uint8_t kOffsetFlag = 0x80;  // a string's offset is stored with the top bit set

// Header bytes.
constexpr uint32_t kChannelA = 0x00, kChannelB = 0x01, kVendor = 0x02, kProduct = 0x04,
                   kRelease = 0x06, kAttributes = 0x08, kMaxPower = 0x09, kOptions = 0x0A,
                   kUsbVersion = 0x0C, kStringPointers = 0x0E, kChipType = 0x14;
constexpr uint8_t kChip93C46 = 0x46;

// Channel bytes: the interface type and driver of one channel.
constexpr uint8_t kFifo = 0x01, kFifoTarget = 0x02, kFastSerial = 0x04, kVcp = 0x08,
                  kHighCurrent = 0x10;
// Configuration attributes.
constexpr uint8_t kBusPowered = 0x80, kSelfPowered = 0x40, kRemoteWakeup = 0x20;
// Option bits.
constexpr uint8_t kIsoInA = 0x01, kIsoOutA = 0x02, kPullDown = 0x04, kUseSerial = 0x08,
                  kUseUsbVersion = 0x10, kIsoInB = 0x20, kIsoOutB = 0x40;

using Bytes = std::array<uint8_t, kImageBytes>;

uint8_t Flag(bool on, uint8_t bit) { return on ? bit : 0; }

uint8_t ChannelByte(bool fifo, bool fifoTarget, bool fastSerial, bool vcp, bool highCurrent) {
    return Flag(fifo, kFifo) | Flag(fifoTarget, kFifoTarget) | Flag(fastSerial, kFastSerial) |
           Flag(vcp, kVcp) | Flag(highCurrent, kHighCurrent);
}

void Put16(Bytes& bytes, uint32_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t Get16(const Bytes& bytes, uint32_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Writes one string descriptor at `at` and its pointer pair; returns where the next one goes, or
// 0 when it does not fit before the checksum.
uint32_t PutString(Bytes& bytes, uint32_t at, uint32_t pointer, const std::string& text) {
    const uint32_t length = 2 + 2 * static_cast<uint32_t>(text.size());
    if (at + length > kChecksumByte) return 0;
    bytes[pointer] = static_cast<uint8_t>(at | kOffsetFlag);
    bytes[pointer + 1] = static_cast<uint8_t>(length);
    bytes[at] = static_cast<uint8_t>(length);
    bytes[at + 1] = kStringDescriptor;
    for (size_t i = 0; i < text.size(); ++i) Put16(bytes, at + 2 + 2 * i, uint8_t(text[i]));
    return at + length;
}

bool GetString(const Bytes& bytes, uint32_t pointer, std::string& text) {
    const uint32_t at = bytes[pointer] & (kImageBytes - 1);
    const uint32_t length = bytes[pointer + 1];
    if (length < 2 || (length & 1) != 0 || at + length > kChecksumByte) return false;
    if (bytes[at] != length || bytes[at + 1] != kStringDescriptor) return false;
    text.clear();
    for (uint32_t i = at + 2; i < at + length; i += 2) text.push_back(static_cast<char>(bytes[i]));
    return true;
}

EepromImage ToWords(const Bytes& bytes) {
    EepromImage words{};
    for (uint32_t i = 0; i < kImageWords; ++i) words[i] = Get16(bytes, 2 * i);
    return words;
}

void FillHeader(const FtProgramData& r, bool dual, Bytes& b) {
    b[kChannelA] =
        ChannelByte(r.ifaIsFifo, r.ifaIsFifoTar, r.ifaIsFastSer, r.aIsVcp, r.aIsHighCurrent);
    b[kChannelB] =
        ChannelByte(r.ifbIsFifo, r.ifbIsFifoTar, r.ifbIsFastSer, r.bIsVcp, r.bIsHighCurrent);
    Put16(b, kVendor, r.vendorId);
    Put16(b, kProduct, r.productId);
    Put16(b, kRelease, dual ? kDualChipRelease : kSingleChipRelease);
    b[kAttributes] =
        kBusPowered | Flag(r.selfPowered, kSelfPowered) | Flag(r.remoteWakeup, kRemoteWakeup);
    b[kMaxPower] = static_cast<uint8_t>(r.maxPower / 2);
    b[kOptions] = Flag(r.isoInA, kIsoInA) | Flag(r.isoOutA, kIsoOutA) |
                  Flag(r.pullDownEnable5, kPullDown) | Flag(r.serNumEnable5, kUseSerial) |
                  Flag(r.usbVersionEnable5, kUseUsbVersion) | Flag(r.isoInB, kIsoInB) |
                  Flag(r.isoOutB, kIsoOutB);
    Put16(b, kUsbVersion, r.usbVersion5);
    b[kChipType] = kChip93C46;
}

void ReadHeader(const Bytes& b, FtProgramData& r) {
    r.ifaIsFifo = (b[kChannelA] & kFifo) != 0;
    r.ifaIsFifoTar = (b[kChannelA] & kFifoTarget) != 0;
    r.ifaIsFastSer = (b[kChannelA] & kFastSerial) != 0;
    r.aIsVcp = (b[kChannelA] & kVcp) != 0;
    r.aIsHighCurrent = (b[kChannelA] & kHighCurrent) != 0;
    r.ifbIsFifo = (b[kChannelB] & kFifo) != 0;
    r.ifbIsFifoTar = (b[kChannelB] & kFifoTarget) != 0;
    r.ifbIsFastSer = (b[kChannelB] & kFastSerial) != 0;
    r.bIsVcp = (b[kChannelB] & kVcp) != 0;
    r.bIsHighCurrent = (b[kChannelB] & kHighCurrent) != 0;
    r.vendorId = Get16(b, kVendor);
    r.productId = Get16(b, kProduct);
    r.selfPowered = (b[kAttributes] & kSelfPowered) != 0;
    r.remoteWakeup = (b[kAttributes] & kRemoteWakeup) != 0;
    r.maxPower = static_cast<uint16_t>(b[kMaxPower] * 2);
    r.isoInA = (b[kOptions] & kIsoInA) != 0;
    r.isoOutA = (b[kOptions] & kIsoOutA) != 0;
    r.isoInB = (b[kOptions] & kIsoInB) != 0;
    r.isoOutB = (b[kOptions] & kIsoOutB) != 0;
    r.pullDownEnable5 = (b[kOptions] & kPullDown) != 0;
    r.serNumEnable5 = (b[kOptions] & kUseSerial) != 0;
    r.usbVersionEnable5 = (b[kOptions] & kUseUsbVersion) != 0;
    r.usbVersion5 = Get16(b, kUsbVersion);
}

}  // namespace

uint16_t ImageChecksum(const EepromImage& image) {
    uint16_t sum = kChecksumSeed;
    for (uint32_t i = 0; i + 1 < kImageWords; ++i) {
        sum ^= image[i];
        sum = static_cast<uint16_t>((sum << 1) | (sum >> 15));
    }
    return sum;
}

EepromImage EncodeImage(const Eeprom& eeprom, bool dual) {
    Bytes b;
    b.fill(kErasedByte);
    if (!eeprom.programmed) return ToWords(b);
    b.fill(0);
    FillHeader(eeprom.record, dual, b);
    uint32_t at = kStringsStartByte;
    at = PutString(b, at, kStringPointers, eeprom.manufacturer);
    if (at != 0) at = PutString(b, at, kStringPointers + 2, eeprom.description);
    if (at != 0) at = PutString(b, at, kStringPointers + 4, eeprom.serial);
    for (size_t i = 0; at != 0 && i < eeprom.userArea.size() && at < kChecksumByte; ++i, ++at) {
        b[at] = eeprom.userArea[i];
    }
    EepromImage words = ToWords(b);
    words[kImageWords - 1] = ImageChecksum(words);
    return words;
}

bool DecodeImage(const EepromImage& image, Eeprom& eeprom) {
    if (image[kImageWords - 1] != ImageChecksum(image)) return false;
    Bytes b;
    for (uint32_t i = 0; i < kImageWords; ++i) Put16(b, 2 * i, image[i]);
    std::string manufacturer, description, serial;
    if (!GetString(b, kStringPointers, manufacturer) ||
        !GetString(b, kStringPointers + 2, description) ||
        !GetString(b, kStringPointers + 4, serial)) {
        return false;
    }
    FtProgramData record =
        eeprom.programmed ? eeprom.record : DefaultRecord(Get16(b, kVendor), Get16(b, kProduct));
    ReadHeader(b, record);
    // The manufacturer ID is not stored: it keeps what the EEPROM had.
    const std::string manufacturerId = eeprom.manufacturerId;
    ProgramEeprom(eeprom, record, manufacturer.c_str(), manufacturerId.c_str(), description.c_str(),
                  serial.c_str());
    // The user area follows the last string.
    uint32_t at = 0;
    for (uint32_t pointer = kStringPointers; pointer < kChipType; pointer += 2) {
        at = std::max<uint32_t>(at, (b[pointer] & (kImageBytes - 1)) + b[pointer + 1]);
    }
    for (size_t i = 0; i < eeprom.userArea.size() && at < kChecksumByte; ++i, ++at) {
        eeprom.userArea[i] = b[at];
    }
    return true;
}

}  // namespace vcable::usb

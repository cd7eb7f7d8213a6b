// EEPROM programming, reading and the user area.
#include "chip/eeprom.h"

#include <algorithm>
#include <cstring>

namespace vcable {
namespace {

constexpr uint16_t kMaxPowerMilliamps = 90;
constexpr uint16_t kUsbVersion2 = 0x0200;

bool SignaturesValid(const FtProgramData& record) {
    return record.signature1 == kProgramSignature1 && record.signature2 == kProgramSignature2;
}

// Length of a caller's string, or size when it does not end within size bytes.
size_t BoundedLength(const char* text, size_t size) {
    const void* nul = std::memchr(text, 0, size);
    return nul == nullptr ? size : static_cast<size_t>(static_cast<const char*>(nul) - text);
}

// Keeps what fits the EEPROM's string storage, so reads never outgrow a caller's buffer.
std::string Stored(const char* text, size_t size) { return {text, BoundedLength(text, size - 1)}; }

void CopyOut(const std::string& text, char* out) {
    if (out == nullptr) return;
    std::memcpy(out, text.c_str(), text.size() + 1);
}

}  // namespace

uint32_t StringWords(const std::string& manufacturer, const std::string& description,
                     const std::string& serial) {
    return static_cast<uint32_t>(3 + manufacturer.size() + description.size() + serial.size());
}

uint32_t UserAreaBytesLeft(uint32_t stringWords) {
    return stringWords >= kSharedWords ? 0 : (kSharedWords - stringWords) * 2;
}

void FixUserAreaSize(Eeprom& eeprom, uint32_t size) {
    eeprom.fixedUserAreaSize = size;
    eeprom.userArea.assign(size, 0);
}

FtProgramData DefaultRecord(uint16_t vendorId, uint16_t productId) {
    FtProgramData record{};
    record.signature1 = kProgramSignature1;
    record.signature2 = kProgramSignature2;
    record.version = 1;
    record.vendorId = vendorId;
    record.productId = productId;
    record.maxPower = kMaxPowerMilliamps;
    record.pnp = 1;
    record.serNumEnable = 1;
    record.usbVersion5 = kUsbVersion2;
    record.serNumEnable5 = 1;
    return record;
}

void ProgramEeprom(Eeprom& eeprom, const FtProgramData& record, const char* manufacturer,
                   const char* manufacturerId, const char* description, const char* serial) {
    eeprom.programmed = true;
    eeprom.record = record;
    eeprom.record.manufacturer = nullptr;
    eeprom.record.manufacturerId = nullptr;
    eeprom.record.description = nullptr;
    eeprom.record.serialNumber = nullptr;
    eeprom.manufacturer = Stored(manufacturer, kManufacturerSize);
    eeprom.manufacturerId = Stored(manufacturerId, kManufacturerIdSize);
    eeprom.description = Stored(description, kDescriptionSize);
    eeprom.serial = Stored(serial, kSerialSize);
    // Programming writes the whole image: the space left for the user area comes out zeroed.
    const uint32_t size = eeprom.fixedUserAreaSize.value_or(
        UserAreaBytesLeft(StringWords(eeprom.manufacturer, eeprom.description, eeprom.serial)));
    eeprom.userArea.assign(size, 0);
}

void EraseEeprom(Eeprom& eeprom) {
    eeprom.programmed = false;
    eeprom.record = FtProgramData{};
    eeprom.manufacturer.clear();
    eeprom.manufacturerId.clear();
    eeprom.description.clear();
    eeprom.serial.clear();
    std::fill(eeprom.userArea.begin(), eeprom.userArea.end(), kErasedByte);
    eeprom.hostWords = HostWords{};  // every word is erased
}

FtStatus ProgramFromRecord(Eeprom& eeprom, const FtProgramData* record) {
    if (record == nullptr || !SignaturesValid(*record)) return kFtInvalidParameter;
    const char* strings[] = {record->manufacturer, record->manufacturerId, record->description,
                             record->serialNumber};
    const size_t sizes[] = {kManufacturerSize, kManufacturerIdSize, kDescriptionSize, kSerialSize};
    for (size_t i = 0; i < 4; ++i) {
        if (strings[i] == nullptr) return kFtInvalidParameter;
        // A string that would not fit the read-back buffers cannot be stored.
        if (BoundedLength(strings[i], sizes[i]) >= sizes[i]) return kFtEepromWriteFailed;
    }
    // Nor strings that need more than the shared space; the EEPROM keeps what it held.
    const uint32_t words = StringWords(strings[0], strings[2], strings[3]);
    if (words > kSharedWords) return kFtEepromWriteFailed;
    ProgramEeprom(eeprom, *record, strings[0], strings[1], strings[2], strings[3]);
    eeprom.hostWords = HostWords{};  // the record is written over every word
    ++eeprom.programs;
    return kFtOk;
}

FtStatus ReadIntoRecord(const Eeprom& eeprom, FtProgramData* record) {
    if (record == nullptr || !SignaturesValid(*record)) return kFtInvalidParameter;
    if (!eeprom.programmed) return kFtEepromNotProgrammed;
    // The caller's signatures, version and string buffers stay; everything else is the chip's.
    FtProgramData result = eeprom.record;
    result.version = record->version;
    result.manufacturer = record->manufacturer;
    result.manufacturerId = record->manufacturerId;
    result.description = record->description;
    result.serialNumber = record->serialNumber;
    CopyOut(eeprom.manufacturer, result.manufacturer);
    CopyOut(eeprom.manufacturerId, result.manufacturerId);
    CopyOut(eeprom.description, result.description);
    CopyOut(eeprom.serial, result.serialNumber);
    *record = result;
    return kFtOk;
}

FtStatus ReadUserArea(const Eeprom& eeprom, uint8_t* data, uint32_t length, uint32_t* read) {
    if (data == nullptr || read == nullptr) return kFtInvalidParameter;
    if (!eeprom.programmed) return kFtEepromNotProgrammed;
    uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(eeprom.userArea.size()));
    std::memcpy(data, eeprom.userArea.data(), n);
    *read = n;
    return kFtOk;
}

FtStatus WriteUserArea(Eeprom& eeprom, const uint8_t* data, uint32_t length) {
    if (data == nullptr && length > 0) return kFtInvalidParameter;
    if (!eeprom.programmed) return kFtEepromNotProgrammed;
    if (length > eeprom.userArea.size()) return kFtEepromWriteFailed;
    if (length > 0) std::memcpy(eeprom.userArea.data(), data, length);
    return kFtOk;
}

}  // namespace vcable

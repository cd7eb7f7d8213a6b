// The configuration EEPROM of one chip: USB identity, the rest of the programming record, and the
// free user area. Blank until programmed; the chip enumerates from it only after a port cycle or a
// replug.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vendor_api/ft_types.h"

namespace vcable {

// Longest strings the EEPROM keeps (buffer sizes of a host's read-back record, NUL included).
constexpr size_t kManufacturerSize = 32;
constexpr size_t kManufacturerIdSize = 16;
constexpr size_t kDescriptionSize = 64;
constexpr size_t kSerialSize = 16;

// The chip's 93C46 keeps the USB string descriptors (manufacturer, description, serial number)
// and the user area in the same 48 words: each descriptor takes a word for its header and one per
// character, the user area the words the strings leave. The manufacturer ID is not stored.
constexpr uint32_t kSharedWords = 48;
constexpr uint32_t kEepromWords = 64;  // all of the 93C46
constexpr uint8_t kErasedByte = 0xFF;

// Words the three string descriptors take.
uint32_t StringWords(const std::string& manufacturer, const std::string& description,
                     const std::string& serial);
// User-area bytes the strings leave (0 when they take all of the space or more).
uint32_t UserAreaBytesLeft(uint32_t stringWords);

// The 93C46's words as USB hosts last read or wrote them one at a time, and the encoding of the
// EEPROM they belong to: hosts keep seeing their own words, even ones that form no valid image
// yet, until the EEPROM changes another way. Kept with the chip so that they go when it goes.
struct HostWords {
    std::array<uint16_t, kEepromWords> words{};
    std::array<uint16_t, kEepromWords> basis{};
    bool taken = false;
};

struct Eeprom {
    bool programmed = false;
    FtProgramData record{};  // everything but the strings; its string pointers stay null
    std::string manufacturer;
    std::string manufacturerId;
    std::string description;
    std::string serial;
    // The user area: as large as the strings leave, unless a test fixed its size.
    std::vector<uint8_t> userArea = std::vector<uint8_t>(kSharedWords * 2, kErasedByte);
    std::optional<uint32_t> fixedUserAreaSize;
    uint32_t programs = 0;
    uint32_t erases = 0;
    HostWords hostWords;
};

// Gives the user area a size of its own whatever the strings (a test's choice); zeroed.
void FixUserAreaSize(Eeprom& eeprom, uint32_t size);

// The record a factory would program for a chip of the given identity.
FtProgramData DefaultRecord(uint16_t vendorId, uint16_t productId);

// Programs identity strings and record directly (scenario set-up); the user area takes the space
// the strings leave and is zeroed.
void ProgramEeprom(Eeprom& eeprom, const FtProgramData& record, const char* manufacturer,
                   const char* manufacturerId, const char* description, const char* serial);

void EraseEeprom(Eeprom& eeprom);

// The vendor calls' behaviour on a caller's record.
FtStatus ProgramFromRecord(Eeprom& eeprom, const FtProgramData* record);
FtStatus ReadIntoRecord(const Eeprom& eeprom, FtProgramData* record);
FtStatus ReadUserArea(const Eeprom& eeprom, uint8_t* data, uint32_t length, uint32_t* read);
FtStatus WriteUserArea(Eeprom& eeprom, const uint8_t* data, uint32_t length);

}  // namespace vcable

// The FT2232's 93C46 configuration EEPROM: 64 little-endian words. Words 0 to 10 hold the chip's
// settings and the pointers to three USB string descriptors, which follow from byte 0x16 on; the
// user area is what the strings leave of the 48 words from there, and the last word is the
// checksum. Pure functions, so the layout is tested without a device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ft_types.h"

namespace ftl {

constexpr size_t kEepromWords = 64;
using EepromImage = std::array<uint16_t, kEepromWords>;

constexpr uint32_t kStringAreaStart = 0x16;  // byte offset of the first string descriptor
constexpr uint32_t kSharedWords = 48;        // strings and user area together
constexpr uint32_t kChecksumWord = kEepromWords - 1;

// What an image says, with the record's string pointers left null.
struct EepromContents {
    FtProgramData record{};
    std::string manufacturer;
    std::string manufacturerId;
    std::string description;
    std::string serial;
    std::vector<uint8_t> userArea;
};

// The checksum word over words 0 to 62.
uint16_t Checksum(const EepromImage& image);

// The image for a record and its strings, the user area zeroed; null when the strings do not fit
// the shared words.
std::optional<EepromImage> EncodeImage(const FtProgramData& record, const std::string& manufacturer,
                                       const std::string& description, const std::string& serial);

// The contents of an image; null for an erased or unprogrammed image (bad checksum or string
// pointers outside the string area).
std::optional<EepromContents> DecodeImage(const EepromImage& image);

// Byte offset and size of the user area of a valid image (as DecodeImage accepted it).
uint32_t UserAreaOffset(const EepromImage& image);
uint32_t UserAreaSize(const EepromImage& image);

// Writes bytes into the user area of a valid image and renews its checksum.
void PutUserArea(EepromImage& image, const uint8_t* data, uint32_t length);

}  // namespace ftl

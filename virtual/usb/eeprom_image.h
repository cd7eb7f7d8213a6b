// The configuration EEPROM word by word, as the chip's EEPROM requests read and write it: the
// 64-word 93C46 image of the dual-channel chip (header, USB string descriptors, user area,
// checksum) built from the model's EEPROM, and an image that hosts wrote turned back into it.
#pragma once

#include <array>
#include <cstdint>

#include "chip/eeprom.h"

namespace vcable::usb {

constexpr uint32_t kImageWords = kEepromWords;
using EepromImage = std::array<uint16_t, kImageWords>;

constexpr uint16_t kDualChipRelease = 0x0500;    // bcdDevice of the D chip
constexpr uint16_t kSingleChipRelease = 0x0400;  // bcdDevice of the single-channel B chip

// The checksum the chip checks in the last word: over every word before it.
uint16_t ImageChecksum(const EepromImage& image);

// A blank EEPROM reads all ones.
EepromImage EncodeImage(const Eeprom& eeprom, bool dual);

// Reads an image back; false (and the EEPROM unchanged) when its checksum or string descriptors
// are not valid, as the chip would then enumerate as blank.
bool DecodeImage(const EepromImage& image, Eeprom& eeprom);

}  // namespace vcable::usb

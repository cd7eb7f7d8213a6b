// The standard descriptors of a chip as the USB host reads them: the device, its one
// configuration (one interface per channel, each with a bulk IN and a bulk OUT endpoint of 64
// bytes) and the strings the EEPROM holds, or the chip's own when it is blank.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chip/devices.h"

namespace vcable::usb {

constexpr uint16_t kPacketSize = 64;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint8_t kManufacturerString = 1, kProductString = 2, kSerialString = 3;

// Endpoints of interface i (channel i): IN 0x81, 0x83; OUT 0x02, 0x04.
inline uint8_t InEndpoint(int interface) { return static_cast<uint8_t>(0x81 + 2 * interface); }
inline uint8_t OutEndpoint(int interface) { return static_cast<uint8_t>(0x02 + 2 * interface); }
// The interface an endpoint belongs to, or -1.
int InterfaceOfEndpoint(const Device& device, uint8_t endpoint);

std::vector<uint8_t> DeviceDescriptorBytes(const Device& device);
// The configuration with its interfaces and endpoints, as GET_DESCRIPTOR returns it.
std::vector<uint8_t> ConfigDescriptorBytes(const Device& device);
// Index 0 is the language list; false for an index the device has no string for.
bool StringDescriptorBytes(const Device& device, uint8_t index, std::vector<uint8_t>& out);
// The text of a string descriptor (empty for none).
std::string StringText(const Device& device, uint8_t index);

}  // namespace vcable::usb

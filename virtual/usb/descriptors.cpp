// Descriptor bytes, built from the identity the device enumerated with.
#include "usb/descriptors.h"

#include "usb/eeprom_image.h"

namespace vcable::usb {
namespace {

constexpr uint8_t kDeviceDescriptorLength = 18, kConfigLength = 9, kInterfaceLength = 9,
                  kEndpointLength = 7;
constexpr uint8_t kDeviceType = 1, kConfigType = 2, kStringType = 3, kInterfaceType = 4,
                  kEndpointType = 5;
constexpr uint8_t kVendorClass = 0xFF, kBulk = 0x02;
constexpr uint8_t kBusPowered = 0x80, kSelfPowered = 0x40, kRemoteWakeup = 0x20;
constexpr uint16_t kUsb2 = 0x0200;
constexpr uint8_t kBlankMaxPower = 45;  // 90 mA in 2 mA units

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

bool HasSerial(const Device& device) { return !device.identity.serial.empty(); }

}  // namespace

int InterfaceOfEndpoint(const Device& device, uint8_t endpoint) {
    for (int i = 0; i < device.ChannelCount(); ++i) {
        if (endpoint == InEndpoint(i) || endpoint == OutEndpoint(i)) return i;
    }
    return -1;
}

std::vector<uint8_t> DeviceDescriptorBytes(const Device& device) {
    std::vector<uint8_t> d{kDeviceDescriptorLength, kDeviceType};
    Put16(d, kUsb2);
    d.insert(d.end(), {0, 0, 0, static_cast<uint8_t>(kPacketSize)});
    Put16(d, device.identity.vendorId);
    Put16(d, device.identity.productId);
    Put16(d, device.dual ? kDualChipRelease : kSingleChipRelease);
    d.insert(d.end(), {kManufacturerString, kProductString,
                       static_cast<uint8_t>(HasSerial(device) ? kSerialString : 0), 1});
    return d;
}

std::vector<uint8_t> ConfigDescriptorBytes(const Device& device) {
    const int interfaces = device.ChannelCount();
    const FtProgramData& record = device.eeprom.record;
    const bool programmed = device.eeprom.programmed;
    uint8_t attributes = kBusPowered;
    if (programmed && record.selfPowered) attributes |= kSelfPowered;
    if (programmed && record.remoteWakeup) attributes |= kRemoteWakeup;
    const uint8_t power = programmed ? static_cast<uint8_t>(record.maxPower / 2) : kBlankMaxPower;

    std::vector<uint8_t> d{kConfigLength, kConfigType};
    Put16(d, static_cast<uint16_t>(kConfigLength +
                                   interfaces * (kInterfaceLength + 2 * kEndpointLength)));
    d.insert(d.end(), {static_cast<uint8_t>(interfaces), 1, 0, attributes, power});
    for (int i = 0; i < interfaces; ++i) {
        d.insert(d.end(), {kInterfaceLength, kInterfaceType, static_cast<uint8_t>(i), 0, 2,
                           kVendorClass, kVendorClass, kVendorClass, kProductString});
        for (uint8_t endpoint : {InEndpoint(i), OutEndpoint(i)}) {
            d.insert(d.end(), {kEndpointLength, kEndpointType, endpoint, kBulk});
            Put16(d, kPacketSize);
            d.push_back(0);
        }
    }
    return d;
}

std::string StringText(const Device& device, uint8_t index) {
    switch (index) {
        case kManufacturerString:
            return device.identity.manufacturer;
        case kProductString:
            return device.identity.description;
        case kSerialString:
            return device.identity.serial;
        default:
            return {};
    }
}

bool StringDescriptorBytes(const Device& device, uint8_t index, std::vector<uint8_t>& out) {
    out.clear();
    if (index == 0) {
        out = {4, kStringType};
        Put16(out, kEnglishUs);
        return true;
    }
    if (index > kSerialString || (index == kSerialString && !HasSerial(device))) return false;
    const std::string text = StringText(device, index);
    out = {static_cast<uint8_t>(2 + 2 * text.size()), kStringType};
    for (char c : text) Put16(out, static_cast<uint8_t>(c));
    return true;
}

}  // namespace vcable::usb

// The descriptors inside a device record, read from the chip's own descriptor bytes the way the
// library reads them from a device: the device descriptor, and each configuration with its
// interfaces, alternate settings and endpoints.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "entry_points/model_lock.h"
#include "usb/descriptors.h"
#include "usb/usb_abi.h"
#include "usb0/usb0_api.h"
#include "usb0/usb0_objects.h"

using namespace vcable;
using namespace vcable::usb0;

namespace {

char kDeviceLayout[] = "bbwbbbbwwwbbbb";
char kConfigLayout[] = "bbwbbbbb";
char kInterfaceLayout[] = "bbbbbbbbb";
char kEndpointLayout[] = "bbbbwb";  // the standard 7 bytes
char kAudioEndpointLayout[] = "bbbbwbbb";
constexpr uint8_t kConfigLength = 9, kInterfaceLength = 9, kEndpointLength = 7,
                  kAudioEndpointLength = 9;

// One interface or endpoint descriptor at `d` (of `length` bytes) into the configuration; false
// when it does not fit the configuration's numbers.
bool AddDescriptor(usb_config_descriptor& config, const uint8_t* d, usb_interface_descriptor*& alt,
                   int& endpoints) {
    auto* bytes = const_cast<uint8_t*>(d);
    if (d[1] == LIBUSB_DT_INTERFACE && d[0] >= kInterfaceLength) {
        if (d[2] >= config.bNumInterfaces) return false;
        usb_interface& interface = config.interface[d[2]];
        auto* grown = static_cast<usb_interface_descriptor*>(std::realloc(
            interface.altsetting, (interface.num_altsetting + 1) * sizeof(*interface.altsetting)));
        if (grown == nullptr) return false;
        interface.altsetting = grown;
        alt = &grown[interface.num_altsetting++];
        std::memset(alt, 0, sizeof *alt);
        usb_parse_descriptor(bytes, kInterfaceLayout, alt);
        endpoints = 0;
        alt->endpoint = static_cast<usb_endpoint_descriptor*>(
            std::calloc(alt->bNumEndpoints, sizeof(usb_endpoint_descriptor)));
        return alt->bNumEndpoints == 0 || alt->endpoint != nullptr;
    }
    if (d[1] == LIBUSB_DT_ENDPOINT && d[0] >= kEndpointLength) {
        if (alt == nullptr || endpoints >= alt->bNumEndpoints) return false;
        usb_parse_descriptor(bytes,
                             d[0] >= kAudioEndpointLength ? kAudioEndpointLayout : kEndpointLayout,
                             &alt->endpoint[endpoints++]);
    }
    return true;  // descriptors of other kinds are passed over
}

}  // namespace

namespace vcable::usb0 {

Device* ChipOf(const UsbDeviceRecord& record) {
    const auto* listing = static_cast<const Listing*>(record.dev);
    for (int i = 0; listing != nullptr && i < DeviceCount(); ++i) {
        Device* chip = DeviceAt(i);
        if (chip->enumeration == listing->enumeration && chip->Visible()) return chip;
    }
    return nullptr;
}

bool FillDescriptors(UsbDeviceRecord& record, const Device& chip) {
    std::vector<uint8_t> bytes = usb::DeviceDescriptorBytes(chip);
    usb_parse_descriptor(bytes.data(), kDeviceLayout, &record.descriptor);
    const int configs = record.descriptor.bNumConfigurations;
    record.config =
        static_cast<usb_config_descriptor*>(std::calloc(configs, sizeof(usb_config_descriptor)));
    if (record.config == nullptr) return false;
    bytes = usb::ConfigDescriptorBytes(chip);  // the chip has one configuration
    for (int c = 0; c < configs; ++c) {
        if (usb_parse_configuration(&record.config[c], bytes.data()) < 0) return false;
    }
    return true;
}

}  // namespace vcable::usb0

extern "C" {

VC_API int usb_parse_descriptor(unsigned char* source, char* description, void* dest) {
    const unsigned char* from = source;
    auto* to = static_cast<unsigned char*>(dest);
    size_t at = 0;
    for (const char* c = description; *c != '\0'; ++c) {
        const size_t size = *c == 'w' ? 2 : *c == 'd' ? 4 : 1;
        at = (at + size - 1) / size * size;  // the field's natural alignment
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i) value |= uint32_t{*from++} << (8 * i);
        if (size == 1) to[at] = static_cast<uint8_t>(value);
        if (size == 2) {
            const auto word = static_cast<uint16_t>(value);
            std::memcpy(to + at, &word, 2);
        }
        if (size == 4) std::memcpy(to + at, &value, 4);
        at += size;
    }
    return static_cast<int>(from - source);
}

VC_API int usb_parse_configuration(usb_config_descriptor* config, unsigned char* buffer) {
    std::memset(config, 0, sizeof *config);
    usb_parse_descriptor(buffer, kConfigLayout, config);
    const int total = config->wTotalLength;
    if (config->bLength < kConfigLength || config->bDescriptorType != LIBUSB_DT_CONFIG ||
        total < config->bLength) {
        return -EINVAL;
    }
    config->interface =
        static_cast<usb_interface*>(std::calloc(config->bNumInterfaces, sizeof(usb_interface)));
    if (config->interface == nullptr && config->bNumInterfaces > 0) return -ENOMEM;
    usb_interface_descriptor* alt = nullptr;
    int endpoints = 0;
    int at = config->bLength;
    while (at + 2 <= total) {
        const uint8_t length = buffer[at];
        if (length < 2 || at + length > total ||
            !AddDescriptor(*config, buffer + at, alt, endpoints)) {
            return -EINVAL;
        }
        at += length;
    }
    return at;
}

VC_API void usb_destroy_configuration(struct usb_device* dev) {
    if (dev->config == nullptr) return;
    for (int c = 0; c < dev->descriptor.bNumConfigurations; ++c) {
        usb_config_descriptor& config = dev->config[c];
        for (int i = 0; config.interface != nullptr && i < config.bNumInterfaces; ++i) {
            usb_interface& interface = config.interface[i];
            for (int a = 0; a < interface.num_altsetting; ++a) {
                std::free(interface.altsetting[a].endpoint);
            }
            std::free(interface.altsetting);
        }
        std::free(config.interface);
    }
    std::free(dev->config);
    dev->config = nullptr;
}

VC_API void usb_fetch_and_parse_descriptors(usb_dev_handle* udev) {
    if (udev == nullptr || udev->device == nullptr) return;
    ModelLock lock;
    const Device* chip = ChipOf(*udev->device);
    if (chip == nullptr) return;
    usb_destroy_configuration(udev->device);
    FillDescriptors(*udev->device, *chip);
}

}  // extern "C"

#include "device_list.h"

#include <libusb-1.0/libusb.h>

#include <mutex>
#include <utility>

namespace ftl {
namespace {

struct Pair {
    uint16_t vendorId;
    uint16_t productId;
};

// The blank dual-channel chip and the programmed cable.
std::mutex pairsMutex;
std::vector<Pair> recognisedPairs = {{0x0403, 0x6010}, {0x1209, 0x0002}};

bool Recognised(const libusb_device_descriptor& d) {
    std::lock_guard<std::mutex> lock(pairsMutex);
    for (const Pair& pair : recognisedPairs) {
        if (pair.vendorId == d.idVendor && pair.productId == d.idProduct) return true;
    }
    return false;
}

std::string ReadString(libusb_device_handle* handle, uint8_t index) {
    if (handle == nullptr || index == 0) return {};
    unsigned char text[256] = {};
    int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n)) : "";
}

void AddChip(libusb_device* device, const libusb_device_descriptor& d,
             std::vector<ListedChannel>& out) {
    // A chip whose strings cannot be read (no permission) is still listed, without them.
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) != 0) handle = nullptr;
    const std::string product = ReadString(handle, d.iProduct);
    const std::string serial = ReadString(handle, d.iSerialNumber);
    if (handle != nullptr) libusb_close(handle);

    uint8_t ports[8] = {};
    int portCount = libusb_get_port_numbers(device, ports, sizeof ports);
    if (portCount < 0) {
        // Without a port path the address still tells chips apart.
        ports[0] = libusb_get_device_address(device);
        portCount = 1;
    }
    const uint8_t bus = libusb_get_bus_number(device);
    for (int channel = 0; channel < ChannelCountOf(d.bcdDevice); ++channel) {
        ListedChannel entry;
        entry.device = libusb_ref_device(device);
        entry.interface = channel;
        entry.vendorId = d.idVendor;
        entry.productId = d.idProduct;
        entry.type = DeviceTypeOf(d.bcdDevice);
        entry.highSpeed = libusb_get_device_speed(device) >= LIBUSB_SPEED_HIGH;
        entry.location = MakeLocation(bus, ports, portCount, channel);
        entry.description = ChannelDescription(product, channel);
        entry.serial = ChannelSerial(serial, channel);
        out.push_back(std::move(entry));
    }
}

}  // namespace

ChannelList& ChannelList::operator=(ChannelList&& other) noexcept {
    std::swap(channels, other.channels);
    return *this;
}

ChannelList::~ChannelList() {
    for (ListedChannel& entry : channels) libusb_unref_device(entry.device);
}

FtStatus ListChannels(libusb_context* usb, ChannelList& list) {
    if (usb == nullptr) return kFtIoError;
    libusb_device** devices = nullptr;
    ssize_t count = libusb_get_device_list(usb, &devices);
    if (count < 0) return kFtIoError;
    ChannelList fresh;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(devices[i], &d) != 0 || !Recognised(d)) continue;
        AddChip(devices[i], d, fresh.channels);
    }
    libusb_free_device_list(devices, 1);
    list = std::move(fresh);
    return kFtOk;
}

void AddRecognisedPair(uint16_t vendorId, uint16_t productId) {
    std::lock_guard<std::mutex> lock(pairsMutex);
    for (const Pair& pair : recognisedPairs) {
        if (pair.vendorId == vendorId && pair.productId == productId) return;
    }
    recognisedPairs.push_back({vendorId, productId});
}

uint32_t MakeLocation(uint8_t bus, const uint8_t* ports, int portCount, int interface) {
    uint32_t location = bus;
    for (int i = 0; i < portCount; ++i) location = location << 4 | (ports[i] & 0x0F);
    return location << 4 | static_cast<uint32_t>(interface + 1);
}

std::string ChannelDescription(const std::string& product, int interface) {
    return product + ' ' + static_cast<char>('A' + interface);
}

std::string ChannelSerial(const std::string& serial, int interface) {
    return serial.empty() ? serial : serial + static_cast<char>('A' + interface);
}

uint32_t DeviceTypeOf(uint16_t bcdDevice) {
    switch (bcdDevice) {
        case 0x0500:
            return kDeviceType2232C;
        case 0x0700:
            return kDeviceType2232H;
        default:
            return kDeviceTypeUnknown;
    }
}

int ChannelCountOf(uint16_t bcdDevice) {
    return bcdDevice == 0x0500 || bcdDevice == 0x0700 ? 2 : 1;
}

}  // namespace ftl

// The libusb entry points of the device list, each device's place on the bus, its descriptors
// and the opening and closing of handles.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "entry_points/model_lock.h"
#include "record/call_log.h"
#include "usb/descriptors.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

// One libusb_device per chip, kept while referenced; listing a chip again finds the same one.
std::map<const Device*, libusb_device*>& Listed() {
    static std::map<const Device*, libusb_device*> listed;
    return listed;
}

libusb_device_descriptor DescriptorOf(const Device& device) {
    const std::vector<uint8_t> raw = DeviceDescriptorBytes(device);
    return {raw[0],
            raw[1],
            static_cast<uint16_t>(raw[2] | raw[3] << 8),
            raw[4],
            raw[5],
            raw[6],
            raw[7],
            device.identity.vendorId,
            device.identity.productId,
            static_cast<uint16_t>(raw[12] | raw[13] << 8),
            raw[14],
            raw[15],
            raw[16],
            raw[17]};
}

libusb_device* DeviceFor(Device* device, int index) {
    libusb_device*& dev = Listed()[device];
    // A device that left the bus since is a new one; the old entry lives on while referenced.
    if (dev == nullptr || dev->enumeration != device->enumeration) {
        dev = new libusb_device;
        dev->device = device;
        dev->enumeration = device->enumeration;
        dev->address = static_cast<uint8_t>(2 + index);
        dev->port = static_cast<uint8_t>(1 + index);
        dev->descriptor = DescriptorOf(*device);
    }
    ++dev->refs;
    return dev;
}

// The chip of a listed device, if it is still in the device table.
Device* ChipOf(const libusb_device* dev) {
    for (int i = 0; i < DeviceCount(); ++i) {
        if (DeviceAt(i) == dev->device) return dev->device;
    }
    return nullptr;
}

// The interface an endpoint of a listed device belongs to, or -1.
int InterfaceOf(const libusb_device* dev, unsigned char endpoint) {
    const Device* device = ChipOf(dev);
    return device != nullptr ? InterfaceOfEndpoint(*device, endpoint) : -1;
}

libusb_config_descriptor* BuildConfig(const Device& device) {
    const int interfaces = device.ChannelCount();
    auto* config = static_cast<libusb_config_descriptor*>(std::calloc(
        1, sizeof(libusb_config_descriptor) +
               interfaces * (sizeof(libusb_interface) + sizeof(libusb_interface_descriptor) +
                             2 * sizeof(libusb_endpoint_descriptor))));
    if (config == nullptr) return nullptr;
    auto* interfaceList = reinterpret_cast<libusb_interface*>(config + 1);
    auto* alt = reinterpret_cast<libusb_interface_descriptor*>(interfaceList + interfaces);
    auto* endpoints = reinterpret_cast<libusb_endpoint_descriptor*>(alt + interfaces);
    const std::vector<uint8_t> raw = ConfigDescriptorBytes(device);
    *config = {9,
               LIBUSB_DT_CONFIG,
               static_cast<uint16_t>(raw.size()),
               static_cast<uint8_t>(interfaces),
               1,
               0,
               raw[7],
               raw[8],
               interfaceList,
               nullptr,
               0};
    for (int i = 0; i < interfaces; ++i) {
        interfaceList[i] = {&alt[i], 1};
        alt[i] = {9,    LIBUSB_DT_INTERFACE, static_cast<uint8_t>(i), 0,       2, 0xFF, 0xFF,
                  0xFF, kProductString,      &endpoints[2 * i],       nullptr, 0};
        endpoints[2 * i] = {7, LIBUSB_DT_ENDPOINT, InEndpoint(i), 2, kPacketSize, 0, 0, 0, nullptr,
                            0};
        endpoints[2 * i + 1] = {
            7, LIBUSB_DT_ENDPOINT, OutEndpoint(i), 2, kPacketSize, 0, 0, 0, nullptr, 0};
    }
    return config;
}

}  // namespace

namespace vcable::usb {

std::vector<libusb_device*> ListDevices() {
    ModelLock lock;
    std::vector<libusb_device*> devices;
    for (int i = 0; i < DeviceCount(); ++i) {
        Device* device = DeviceAt(i);
        if (device->Visible()) devices.push_back(DeviceFor(device, i));
    }
    return devices;
}

libusb_device* ListedDevice(Device* device) {
    ModelLock lock;
    for (int i = 0; i < DeviceCount(); ++i) {
        if (DeviceAt(i) == device && device->Visible()) return DeviceFor(device, i);
    }
    return nullptr;
}

void UnrefDevice(libusb_device* dev) {
    ModelLock lock;
    if (dev == nullptr || --dev->refs > 0) return;
    auto it = Listed().find(dev->device);
    if (it != Listed().end() && it->second == dev) Listed().erase(it);
    delete dev;
}

int OpenDevice(libusb_device* dev, libusb_device_handle** handle) {
    ModelLock lock;
    Device* device = ChipOf(dev);
    // A listing from before the device left the bus (or was reset as another) is stale.
    if (device == nullptr || !device->Visible() || device->enumeration != dev->enumeration) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    auto* h = new libusb_device_handle;
    h->dev = dev;
    ++dev->refs;
    h->session.device = device;
    h->session.enumeration = device->enumeration;
    *handle = h;
    return LIBUSB_SUCCESS;
}

}  // namespace vcable::usb

extern "C" {

VC_API ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
    ModelLock lock;
    if (list == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    std::vector<libusb_device*> devices;
    if (!Named(ctx)->noDeviceDiscovery) devices = ListDevices();
    auto** out = static_cast<libusb_device**>(std::calloc(devices.size() + 1, sizeof(void*)));
    if (out == nullptr) return LIBUSB_ERROR_NO_MEM;
    std::copy(devices.begin(), devices.end(), out);
    *list = out;
    return static_cast<ssize_t>(devices.size());
}

VC_API void libusb_free_device_list(libusb_device** list, int unref_devices) {
    ModelLock lock;
    if (list == nullptr) return;
    for (libusb_device** p = list; unref_devices && *p != nullptr; ++p) UnrefDevice(*p);
    std::free(list);
}

VC_API libusb_device* libusb_ref_device(libusb_device* dev) {
    ModelLock lock;
    if (dev != nullptr) ++dev->refs;
    return dev;
}

VC_API void libusb_unref_device(libusb_device* dev) { UnrefDevice(dev); }

VC_API uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
VC_API uint8_t libusb_get_device_address(libusb_device* dev) { return dev->address; }
VC_API uint8_t libusb_get_port_number(libusb_device* dev) { return dev->port; }
// Each chip sits on a port of the root hub: a path of one port.
VC_API int libusb_get_port_numbers(libusb_device* dev, uint8_t* numbers, int length) {
    if (length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
    if (numbers == nullptr) return LIBUSB_ERROR_OVERFLOW;
    numbers[0] = dev->port;
    return 1;
}
VC_API int libusb_get_port_path(libusb_context*, libusb_device* dev, uint8_t* path,
                                uint8_t path_length) {
    return libusb_get_port_numbers(dev, path, path_length);
}
// The root hub is not listed, so no device has a listed parent.
VC_API libusb_device* libusb_get_parent(libusb_device*) { return nullptr; }
VC_API int libusb_get_device_speed(libusb_device*) { return LIBUSB_SPEED_FULL; }

// As the device enumerated, even once it has left the bus.
VC_API int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    if (dev == nullptr || desc == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    *desc = dev->descriptor;
    return LIBUSB_SUCCESS;
}

VC_API int libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                        libusb_config_descriptor** config) {
    ModelLock lock;
    const Device* device = ChipOf(dev);
    if (device == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
    *config = BuildConfig(*device);
    return *config != nullptr ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_MEM;
}

// The chip has one configuration, number 1.
VC_API int libusb_get_config_descriptor_by_value(libusb_device* dev, uint8_t value,
                                                 libusb_config_descriptor** config) {
    return value == 1 ? libusb_get_config_descriptor(dev, 0, config) : LIBUSB_ERROR_NOT_FOUND;
}

VC_API int libusb_get_active_config_descriptor(libusb_device* dev,
                                               libusb_config_descriptor** config) {
    return libusb_get_config_descriptor(dev, 0, config);
}

VC_API void libusb_free_config_descriptor(libusb_config_descriptor* config) { std::free(config); }

VC_API int libusb_get_max_packet_size(libusb_device* dev, unsigned char endpoint) {
    ModelLock lock;
    return InterfaceOf(dev, endpoint) >= 0 ? int{kPacketSize} : int{LIBUSB_ERROR_NOT_FOUND};
}

// Bulk endpoints: the packet size itself (no transactions per microframe to multiply by).
VC_API int libusb_get_max_iso_packet_size(libusb_device* dev, unsigned char endpoint) {
    return libusb_get_max_packet_size(dev, endpoint);
}

VC_API int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
    return OpenDevice(dev, handle);
}

VC_API void libusb_close(libusb_device_handle* handle) {
    if (handle == nullptr) return;
    ModelLock lock;
    // Transfers still submitted on the handle die with it.
    for (auto* queue : {&DefaultContext()->submitted, &DefaultContext()->cancelled}) {
        std::erase_if(*queue, [&](libusb_transfer* t) { return t->dev_handle == handle; });
    }
    EndSession(handle->session);
    UnrefDevice(handle->dev);
    delete handle;
}

VC_API libusb_device* libusb_get_device(libusb_device_handle* handle) { return handle->dev; }

VC_API libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vid,
                                                             uint16_t pid) {
    ModelLock lock;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0; i < count && handle == nullptr; ++i) {
        const libusb_device_descriptor& d = list[i]->descriptor;
        if (d.idVendor == vid && d.idProduct == pid) {
            libusb_open(list[i], &handle);
        }
    }
    libusb_free_device_list(list, 1);
    return handle;
}

}  // extern "C"

// The libusb entry points of contexts, the device list, descriptors and device handles.
#include <algorithm>
#include <cstdarg>
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

namespace vcable::usb {

libusb_context* DefaultContext() {
    static libusb_context context;
    return &context;
}

// One queue of transfers serves every context: hosts use one, and a device belongs to all.
libusb_context* ContextOf(libusb_context*) { return DefaultContext(); }

int NotSupported(const char* function) {
    ModelLock lock;
    RecordModelError("%s is not modelled by the virtual cable's USB face", function);
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

}  // namespace vcable::usb

namespace {

// One libusb_device per chip, kept while referenced; listing a chip again finds the same one.
std::map<const Device*, libusb_device*>& Listed() {
    static std::map<const Device*, libusb_device*> listed;
    return listed;
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
    }
    ++dev->refs;
    return dev;
}

void Unref(libusb_device* dev) {
    if (dev == nullptr || --dev->refs > 0) return;
    auto it = Listed().find(dev->device);
    if (it != Listed().end() && it->second == dev) Listed().erase(it);
    delete dev;
}

// The chip of a listed device, if it is still in the device table.
Device* ChipOf(const libusb_device* dev) {
    for (int i = 0; i < DeviceCount(); ++i) {
        if (DeviceAt(i) == dev->device) return dev->device;
    }
    return nullptr;
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

extern "C" {

VC_API int libusb_init(libusb_context** ctx) {
    ModelLock lock;
    DeviceCount();  // fills the device table from the scenario
    if (ctx != nullptr) *ctx = new libusb_context;
    return LIBUSB_SUCCESS;
}

VC_API void libusb_exit(libusb_context* ctx) {
    if (ctx != nullptr && ctx != DefaultContext()) delete ctx;
}

VC_API int libusb_set_option(libusb_context*, int, ...) { return LIBUSB_SUCCESS; }
VC_API void libusb_set_debug(libusb_context*, int) {}

VC_API const libusb_version* libusb_get_version() {
    static const libusb_version version{1, 0, 26, 0, "", "virtual cable"};
    return &version;
}

VC_API ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
    ModelLock lock;
    if (list == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    std::vector<libusb_device*> devices;
    for (int i = 0; i < DeviceCount(); ++i) {
        Device* device = DeviceAt(i);
        if (device->Visible()) devices.push_back(DeviceFor(device, i));
    }
    auto** out = static_cast<libusb_device**>(std::calloc(devices.size() + 1, sizeof(void*)));
    if (out == nullptr) return LIBUSB_ERROR_NO_MEM;
    std::copy(devices.begin(), devices.end(), out);
    *list = out;
    return static_cast<ssize_t>(devices.size());
}

VC_API void libusb_free_device_list(libusb_device** list, int unref_devices) {
    ModelLock lock;
    if (list == nullptr) return;
    for (libusb_device** p = list; unref_devices && *p != nullptr; ++p) Unref(*p);
    std::free(list);
}

VC_API libusb_device* libusb_ref_device(libusb_device* dev) {
    ModelLock lock;
    if (dev != nullptr) ++dev->refs;
    return dev;
}

VC_API void libusb_unref_device(libusb_device* dev) {
    ModelLock lock;
    Unref(dev);
}

VC_API uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
VC_API uint8_t libusb_get_device_address(libusb_device* dev) { return dev->address; }
VC_API uint8_t libusb_get_port_number(libusb_device* dev) { return dev->port; }
VC_API int libusb_get_port_numbers(libusb_device* dev, uint8_t* numbers, int length) {
    if (numbers == nullptr || length < 1) return LIBUSB_ERROR_OVERFLOW;
    numbers[0] = dev->port;
    return 1;
}
VC_API libusb_device* libusb_get_parent(libusb_device*) { return nullptr; }
VC_API int libusb_get_device_speed(libusb_device*) { return LIBUSB_SPEED_FULL; }

VC_API int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    ModelLock lock;
    const Device* device = ChipOf(dev);
    if (device == nullptr || desc == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    const std::vector<uint8_t> raw = DeviceDescriptorBytes(*device);
    *desc = {raw[0],
             raw[1],
             static_cast<uint16_t>(raw[2] | raw[3] << 8),
             raw[4],
             raw[5],
             raw[6],
             raw[7],
             device->identity.vendorId,
             device->identity.productId,
             static_cast<uint16_t>(raw[12] | raw[13] << 8),
             raw[14],
             raw[15],
             raw[16],
             raw[17]};
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

VC_API int libusb_get_active_config_descriptor(libusb_device* dev,
                                               libusb_config_descriptor** config) {
    return libusb_get_config_descriptor(dev, 0, config);
}

VC_API void libusb_free_config_descriptor(libusb_config_descriptor* config) { std::free(config); }

VC_API int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
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

VC_API void libusb_close(libusb_device_handle* handle) {
    if (handle == nullptr) return;
    ModelLock lock;
    // Transfers still submitted on the handle die with it.
    for (auto* queue : {&DefaultContext()->submitted, &DefaultContext()->cancelled}) {
        std::erase_if(*queue, [&](libusb_transfer* t) { return t->dev_handle == handle; });
    }
    EndSession(handle->session);
    Unref(handle->dev);
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
        const Device* device = list[i]->device;
        if (device->identity.vendorId == vid && device->identity.productId == pid) {
            libusb_open(list[i], &handle);
        }
    }
    libusb_free_device_list(list, 1);
    return handle;
}

}  // extern "C"

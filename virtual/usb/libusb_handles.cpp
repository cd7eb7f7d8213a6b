// The libusb entry points on an open device: configuration, interfaces, kernel drivers, strings
// and the synchronous transfers.
#include <cstring>
#include <vector>

#include "entry_points/model_lock.h"
#include "usb/descriptors.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"
#include "vendor_api/ft_api.h"

using namespace vcable;
using namespace vcable::usb;

namespace vcable::usb {

int HandleAlive(libusb_device_handle* handle) {
    ModelLock lock;
    return handle != nullptr && SessionAlive(handle->session) ? LIBUSB_SUCCESS
                                                              : LIBUSB_ERROR_NO_DEVICE;
}

}  // namespace vcable::usb

namespace {

// libusb refuses an interface number beyond what a device can have, or an alternate setting
// beyond a byte, before it asks the device.
constexpr int kMaxInterfaces = 32, kMaxAltSettings = 256;

bool ValidInterface(int interface) { return interface >= 0 && interface < kMaxInterfaces; }

}  // namespace

extern "C" {

VC_API int libusb_get_configuration(libusb_device_handle* handle, int* config) {
    if (int e = HandleAlive(handle)) return e;
    *config = handle->configuration;
    return LIBUSB_SUCCESS;
}

VC_API int libusb_set_configuration(libusb_device_handle* handle, int config) {
    if (config < -1 || config > 0xFF) return LIBUSB_ERROR_INVALID_PARAM;
    if (int e = HandleAlive(handle)) return e;
    // usbfs refuses a configuration while an interface is claimed, even the same one.
    if (ClaimsAny(handle->session)) return LIBUSB_ERROR_BUSY;
    if (config != 1 && config != -1 && config != 0) return LIBUSB_ERROR_NOT_FOUND;
    handle->configuration = config == 1 ? 1 : 0;
    return LIBUSB_SUCCESS;
}

VC_API int libusb_claim_interface(libusb_device_handle* handle, int interface) {
    if (!ValidInterface(interface)) return LIBUSB_ERROR_INVALID_PARAM;
    if (handle == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    return OpenInterface(handle->session, interface);
}

VC_API int libusb_release_interface(libusb_device_handle* handle, int interface) {
    if (!ValidInterface(interface)) return LIBUSB_ERROR_INVALID_PARAM;
    if (int e = HandleAlive(handle)) return e;
    ModelLock lock;
    Session& session = handle->session;
    if (interface < 0 || interface >= 2 || session.channels[interface] == nullptr) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    // The chip keeps its settings; the model's channel closes, as the vendor face's FT_Close.
    FT_Close(session.channels[interface]);
    session.channels[interface] = nullptr;
    return LIBUSB_SUCCESS;
}

VC_API int libusb_set_interface_alt_setting(libusb_device_handle* handle, int interface, int alt) {
    if (!ValidInterface(interface) || alt < 0 || alt >= kMaxAltSettings) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    if (int e = HandleAlive(handle)) return e;
    if (interface < 0 || interface >= handle->session.device->ChannelCount()) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    return alt == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

VC_API int libusb_clear_halt(libusb_device_handle* handle, unsigned char) {
    return HandleAlive(handle);
}
VC_API int libusb_reset_device(libusb_device_handle* handle) {
    if (handle == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    return ResetSession(handle->session);
}
VC_API int libusb_kernel_driver_active(libusb_device_handle* handle, int) {
    if (int e = HandleAlive(handle)) return e;
    return 0;
}
VC_API int libusb_detach_kernel_driver(libusb_device_handle* handle, int) {
    if (int e = HandleAlive(handle)) return e;
    return LIBUSB_ERROR_NOT_FOUND;  // no driver is attached to a virtual device
}
VC_API int libusb_attach_kernel_driver(libusb_device_handle* handle, int) {
    if (int e = HandleAlive(handle)) return e;
    return LIBUSB_ERROR_NOT_FOUND;
}
VC_API int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) {
    return LIBUSB_SUCCESS;
}

VC_API int libusb_control_transfer(libusb_device_handle* handle, uint8_t request_type,
                                   uint8_t request, uint16_t value, uint16_t index,
                                   unsigned char* data, uint16_t length, unsigned int) {
    if (handle == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    return ControlRequest(handle->session, request_type, request, value, index, data, length);
}

VC_API int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                unsigned char* data, int length, int* transferred,
                                unsigned int timeout) {
    if (handle == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    int count = 0;
    const int result = BulkTransfer(handle->session, endpoint, data, length, timeout, &count);
    if (transferred != nullptr) *transferred = count;
    // libusb reports usbfs refusing the URB for an endpoint the device lacks as an I/O error.
    return result == LIBUSB_ERROR_NOT_FOUND ? LIBUSB_ERROR_IO : result;
}

// The chip's endpoints are all bulk: the kernel refuses an interrupt URB on them (EINVAL), which
// libusb reports as an I/O error.
VC_API int libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char, unsigned char*,
                                     int, int* transferred, unsigned int) {
    if (transferred != nullptr) *transferred = 0;
    if (int e = HandleAlive(handle)) return e;
    return ModelGap(LIBUSB_ERROR_IO,
                    "libusb_interrupt_transfer: the chip has no interrupt endpoint");
}

VC_API int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                              unsigned char* data, int length) {
    if (int e = HandleAlive(handle)) return e;
    if (index == 0 || data == nullptr || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
    ModelLock lock;
    std::vector<uint8_t> descriptor;
    if (!StringDescriptorBytes(*handle->session.device, index, descriptor)) {
        return LIBUSB_ERROR_PIPE;
    }
    int n = 0;
    for (size_t i = 2; i + 1 < descriptor.size() && n < length - 1; i += 2) {
        data[n++] = descriptor[i + 1] == 0 ? descriptor[i] : '?';
    }
    data[n] = 0;
    return n;
}

}  // extern "C"

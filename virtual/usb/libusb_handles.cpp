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

namespace {

// 0 while the handle's device is there, else LIBUSB_ERROR_NO_DEVICE.
int Alive(libusb_device_handle* handle) {
    ModelLock lock;
    return handle != nullptr && SessionAlive(handle->session) ? LIBUSB_SUCCESS
                                                              : LIBUSB_ERROR_NO_DEVICE;
}

const char* const kErrorNames[][2] = {
    {"LIBUSB_SUCCESS", "Success"},
    {"LIBUSB_ERROR_IO", "Input/Output Error"},
    {"LIBUSB_ERROR_INVALID_PARAM", "Invalid parameter"},
    {"LIBUSB_ERROR_ACCESS", "Access denied (insufficient permissions)"},
    {"LIBUSB_ERROR_NO_DEVICE", "No such device (it may have been disconnected)"},
    {"LIBUSB_ERROR_NOT_FOUND", "Entity not found"},
    {"LIBUSB_ERROR_BUSY", "Resource busy"},
    {"LIBUSB_ERROR_TIMEOUT", "Operation timed out"},
    {"LIBUSB_ERROR_OVERFLOW", "Overflow"},
    {"LIBUSB_ERROR_PIPE", "Pipe error"},
    {"LIBUSB_ERROR_INTERRUPTED", "System call interrupted (perhaps due to signal)"},
    {"LIBUSB_ERROR_NO_MEM", "Insufficient memory"},
    {"LIBUSB_ERROR_NOT_SUPPORTED", "Operation not supported or unimplemented on this platform"},
};

const char* ErrorText(int code, int column) {
    if (code <= 0 && code >= LIBUSB_ERROR_NOT_SUPPORTED) return kErrorNames[-code][column];
    return column == 0 ? "LIBUSB_ERROR_OTHER" : "Other error";
}

}  // namespace

extern "C" {

VC_API const char* libusb_error_name(int code) { return ErrorText(code, 0); }
VC_API const char* libusb_strerror(int code) { return ErrorText(code, 1); }

VC_API int libusb_get_configuration(libusb_device_handle* handle, int* config) {
    if (int e = Alive(handle)) return e;
    *config = handle->configuration;
    return LIBUSB_SUCCESS;
}

VC_API int libusb_set_configuration(libusb_device_handle* handle, int config) {
    if (int e = Alive(handle)) return e;
    if (config != 1 && config != -1 && config != 0) return LIBUSB_ERROR_NOT_FOUND;
    handle->configuration = config == 1 ? 1 : 0;
    return LIBUSB_SUCCESS;
}

VC_API int libusb_claim_interface(libusb_device_handle* handle, int interface) {
    if (handle == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    return OpenInterface(handle->session, interface);
}

VC_API int libusb_release_interface(libusb_device_handle* handle, int interface) {
    if (int e = Alive(handle)) return e;
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
    if (int e = Alive(handle)) return e;
    if (interface < 0 || interface >= handle->session.device->ChannelCount()) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    return alt == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

VC_API int libusb_clear_halt(libusb_device_handle* handle, unsigned char) { return Alive(handle); }
VC_API int libusb_reset_device(libusb_device_handle* handle) {
    if (handle == nullptr) return LIBUSB_ERROR_NO_DEVICE;
    return ResetSession(handle->session);
}
VC_API int libusb_kernel_driver_active(libusb_device_handle* handle, int) {
    if (int e = Alive(handle)) return e;
    return 0;
}
VC_API int libusb_detach_kernel_driver(libusb_device_handle* handle, int) {
    if (int e = Alive(handle)) return e;
    return LIBUSB_ERROR_NOT_FOUND;  // no driver is attached to a virtual device
}
VC_API int libusb_attach_kernel_driver(libusb_device_handle* handle, int) {
    if (int e = Alive(handle)) return e;
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
    return result;
}

VC_API int libusb_interrupt_transfer(libusb_device_handle*, unsigned char, unsigned char*, int,
                                     int* transferred, unsigned int) {
    if (transferred != nullptr) *transferred = 0;
    return NotSupported("libusb_interrupt_transfer (the chip has no interrupt endpoint)");
}

VC_API int libusb_get_max_packet_size(libusb_device*, unsigned char) { return kPacketSize; }
VC_API int libusb_get_max_iso_packet_size(libusb_device*, unsigned char) {
    return NotSupported("libusb_get_max_iso_packet_size (the chip has no isochronous endpoint)");
}

VC_API int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                              unsigned char* data, int length) {
    if (int e = Alive(handle)) return e;
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

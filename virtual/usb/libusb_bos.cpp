// The BOS and the SuperSpeed descriptors. The chip is a full-speed USB 2.0 device (bcdUSB 0x0200)
// without a BOS: it stalls GET_DESCRIPTOR(BOS), which a host sees as LIBUSB_ERROR_PIPE. The
// parsers of device capabilities and endpoint companions work on whatever a host hands them,
// as libusb's do, with the layouts the USB 3 specification gives them.
#include <cstdlib>
#include <cstring>

#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

constexpr uint8_t kBosHeaderLength = 5, kCompanionLength = 6, kUsb2ExtensionLength = 7,
                  kSsCapabilityLength = 10, kContainerIdLength = 20;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

// Allocates *out for a descriptor parsed from `bytes`.
template <class T, class Fill>
int Parse(const uint8_t* bytes, T** out, Fill fill) {
    if (out == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    *out = static_cast<T*>(std::calloc(1, sizeof(T)));
    if (*out == nullptr) return LIBUSB_ERROR_NO_MEM;
    fill(bytes, **out);
    return LIBUSB_SUCCESS;
}

// A device capability of `type`, at least `length` bytes long, parsed into *out; another type
// is an invalid parameter, a short one an I/O error, as libusb reports them.
template <class T, class Fill>
int ParseCapability(const libusb_bos_dev_capability_descriptor* cap, uint8_t type, uint8_t length,
                    T** out, Fill fill) {
    if (cap == nullptr || cap->bDevCapabilityType != type) return LIBUSB_ERROR_INVALID_PARAM;
    if (cap->bLength < length) return LIBUSB_ERROR_IO;
    return Parse(reinterpret_cast<const uint8_t*>(cap), out, fill);
}

}  // namespace

extern "C" {

VC_API int libusb_get_bos_descriptor(libusb_device_handle* handle, libusb_bos_descriptor** bos) {
    if (int e = HandleAlive(handle)) return e;
    if (bos == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    uint8_t header[kBosHeaderLength] = {};
    const int got =
        ControlRequest(handle->session, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                       LIBUSB_DT_BOS << 8, 0, header, sizeof header);
    if (got < 0) return got;  // the chip's stall
    return ModelGap(LIBUSB_ERROR_IO, "libusb_get_bos_descriptor: a chip with a BOS");
}

VC_API void libusb_free_bos_descriptor(libusb_bos_descriptor* bos) { std::free(bos); }

// Looks through the descriptors that follow an endpoint's for its SuperSpeed companion.
VC_API int libusb_get_ss_endpoint_companion_descriptor(
    libusb_context*, const libusb_endpoint_descriptor* endpoint,
    libusb_ss_endpoint_companion_descriptor** ep_comp) {
    if (endpoint == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    const uint8_t* at = endpoint->extra;
    for (int left = endpoint->extra_length; left >= 2; left -= at[0], at += at[0]) {
        if (at[0] < 2 || at[0] > left) return LIBUSB_ERROR_IO;
        if (at[1] != LIBUSB_DT_SS_ENDPOINT_COMPANION) continue;
        if (at[0] < kCompanionLength) return LIBUSB_ERROR_IO;
        return Parse(at, ep_comp, [](const uint8_t* b, auto& d) {
            d = {b[0], b[1], b[2], b[3], Le16(b + 4)};
        });
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

VC_API void libusb_free_ss_endpoint_companion_descriptor(
    libusb_ss_endpoint_companion_descriptor* ep_comp) {
    std::free(ep_comp);
}

VC_API int libusb_get_usb_2_0_extension_descriptor(
    libusb_context*, libusb_bos_dev_capability_descriptor* dev_cap,
    libusb_usb_2_0_extension_descriptor** usb_2_0_extension) {
    return ParseCapability(dev_cap, LIBUSB_BT_USB_2_0_EXTENSION, kUsb2ExtensionLength,
                           usb_2_0_extension, [](const uint8_t* b, auto& d) {
                               d = {b[0], b[1], b[2], Le32(b + 3)};
                           });
}

VC_API void libusb_free_usb_2_0_extension_descriptor(
    libusb_usb_2_0_extension_descriptor* usb_2_0_extension) {
    std::free(usb_2_0_extension);
}

VC_API int libusb_get_ss_usb_device_capability_descriptor(
    libusb_context*, libusb_bos_dev_capability_descriptor* dev_cap,
    libusb_ss_usb_device_capability_descriptor** ss_usb_device_cap) {
    return ParseCapability(dev_cap, LIBUSB_BT_SS_USB_DEVICE_CAPABILITY, kSsCapabilityLength,
                           ss_usb_device_cap, [](const uint8_t* b, auto& d) {
                               d = {b[0], b[1], b[2], b[3], Le16(b + 4), b[6], b[7], Le16(b + 8)};
                           });
}

VC_API void libusb_free_ss_usb_device_capability_descriptor(
    libusb_ss_usb_device_capability_descriptor* ss_usb_device_cap) {
    std::free(ss_usb_device_cap);
}

VC_API int libusb_get_container_id_descriptor(libusb_context*,
                                              libusb_bos_dev_capability_descriptor* dev_cap,
                                              libusb_container_id_descriptor** container_id) {
    return ParseCapability(dev_cap, LIBUSB_BT_CONTAINER_ID, kContainerIdLength, container_id,
                           [](const uint8_t* b, auto& d) {
                               d = {b[0], b[1], b[2], b[3], {}};
                               std::memcpy(d.ContainerID, b + 4, sizeof d.ContainerID);
                           });
}

VC_API void libusb_free_container_id_descriptor(libusb_container_id_descriptor* container_id) {
    std::free(container_id);
}

}  // extern "C"

// Transfers on an open device: bulk packets and control requests through the chip's USB side, as
// the USB face makes them, and the descriptor and string requests built on them.
#include <algorithm>
#include <cerrno>

#include "entry_points/model_lock.h"
#include "record/call_log.h"
#include "usb/usb_abi.h"
#include "usb0/usb0_api.h"
#include "usb0/usb0_objects.h"

using namespace vcable;
using namespace vcable::usb0;

namespace {

constexpr int kDescriptorTimeoutMs = 1000;
constexpr int kLongestDescriptor = 255;

int Bulk(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    if (dev == nullptr) return Fail(EINVAL, "no device handle");
    int done = 0;
    const int result =
        usb::BulkTransfer(dev->session, static_cast<uint8_t>(ep), reinterpret_cast<uint8_t*>(bytes),
                          size, static_cast<uint32_t>(std::max(timeout, 0)), &done);
    if (result < 0) return Result(result, "error on bulk endpoint 0x%02X", ep & 0xFF);
    return done;
}

// The chip has bulk endpoints only: usbfs refuses an interrupt transfer on them.
int Interrupt(usb_dev_handle* dev, int ep) {
    if (int e = Alive(dev)) return e;
    {
        ModelLock lock;
        RecordModelError(
            "interrupt transfer on endpoint 0x%02X: the chip has no interrupt endpoint", ep & 0xFF);
    }
    return Fail(EINVAL, "error on interrupt endpoint 0x%02X", ep & 0xFF);
}

}  // namespace

extern "C" {

VC_API int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    return Bulk(dev, ep & ~LIBUSB_ENDPOINT_IN, const_cast<char*>(bytes), size, timeout);
}

VC_API int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    return Bulk(dev, ep | LIBUSB_ENDPOINT_IN, bytes, size, timeout);
}

VC_API int usb_interrupt_write(usb_dev_handle* dev, int ep, const char*, int, int) {
    return Interrupt(dev, ep);
}

VC_API int usb_interrupt_read(usb_dev_handle* dev, int ep, char*, int, int) {
    return Interrupt(dev, ep);
}

VC_API int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                           char* bytes, int size, int) {
    if (dev == nullptr) return Fail(EINVAL, "no device handle");
    if (size < 0 || size > 0xFFFF) return Fail(EINVAL, "control message of %d bytes", size);
    const int result = usb::ControlRequest(
        dev->session, static_cast<uint8_t>(requesttype), static_cast<uint8_t>(request),
        static_cast<uint16_t>(value), static_cast<uint16_t>(index),
        reinterpret_cast<uint8_t*>(bytes), static_cast<uint16_t>(size));
    return Result(result, "error sending control message");
}

VC_API int usb_get_descriptor_by_endpoint(usb_dev_handle* udev, int ep, unsigned char type,
                                          unsigned char index, void* buf, int size) {
    return usb_control_msg(udev, ep | LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                           (type << 8) + index, 0, static_cast<char*>(buf), size,
                           kDescriptorTimeoutMs);
}

VC_API int usb_get_descriptor(usb_dev_handle* udev, unsigned char type, unsigned char index,
                              void* buf, int size) {
    return usb_get_descriptor_by_endpoint(udev, 0, type, index, buf, size);
}

VC_API int usb_get_string(usb_dev_handle* dev, int index, int langid, char* buf, size_t buflen) {
    return usb_control_msg(dev, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                           (LIBUSB_DT_STRING << 8) + (index & 0xFF), langid, buf,
                           static_cast<int>(std::min<size_t>(buflen, 0xFFFF)),
                           kDescriptorTimeoutMs);
}

// The string in the device's first language, as Latin-1 with '?' for what lies beyond it.
VC_API int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
    if (buf == nullptr || buflen == 0) return Fail(EINVAL, "no room for string %d", index);
    unsigned char d[kLongestDescriptor];
    auto* text = reinterpret_cast<char*>(d);
    int n = usb_get_string(dev, 0, 0, text, sizeof d);
    if (n < 0) return n;
    if (n < 4) return Fail(EIO, "the device has no language for its strings");
    n = usb_get_string(dev, index, d[2] | d[3] << 8, text, sizeof d);
    if (n < 0) return n;
    if (n < 2 || d[1] != LIBUSB_DT_STRING) return Fail(EIO, "string %d is malformed", index);
    if (d[0] > n) return Fail(EFBIG, "string %d is longer than the bytes read", index);
    size_t out = 0;
    for (int i = 2; i + 1 < d[0] && out + 1 < buflen; i += 2) {
        buf[out++] = d[i + 1] != 0 ? '?' : static_cast<char>(d[i]);
    }
    buf[out] = '\0';
    return static_cast<int>(out);
}

}  // extern "C"

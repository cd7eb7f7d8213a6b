/* Control functions of the virtual cable's USB face (libusb-1.0.so.0 only; the vendor face has
 * none of them). */
#ifndef VCABLE_USB_H
#define VCABLE_USB_H

#include "vc_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What a platform that keeps the bus to itself hands an application for a device: an open file
 * descriptor standing for device `device`'s USB device node, to pass to libusb_wrap_sys_device.
 * Reading it gives the device and configuration descriptors, as a device node does. It stays
 * the device's until the device leaves the bus; the caller closes it. -1 when there is no such
 * device on the bus, or on Windows, where libusb wraps no system devices. */
VC_API int vc_usb_sys_device(int device);

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_USB_H */

// Opening a listed device and what a host does with the open device: configuration, interfaces,
// endpoints, a port reset and the kernel driver calls (no driver is bound to a virtual device).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "entry_points/model_lock.h"
#include "usb/descriptors.h"
#include "usb/usb_abi.h"
#include "usb0/usb0_api.h"
#include "usb0/usb0_objects.h"

using namespace vcable;
using namespace vcable::usb0;

namespace {

int CheckInterface(usb_dev_handle* dev, int interface) {
    if (int e = Alive(dev)) return e;
    if (interface < 0 || interface >= dev->session.device->ChannelCount()) {
        return Fail(EINVAL, "the device has no interface %d", interface);
    }
    return 0;
}

int CheckEndpoint(usb_dev_handle* dev, unsigned int ep) {
    if (int e = Alive(dev)) return e;
    ModelLock lock;
    if (ep > 0xFF || usb::InterfaceOfEndpoint(*dev->session.device, static_cast<uint8_t>(ep)) < 0) {
        return Fail(ENOENT, "the device has no endpoint 0x%02X", ep);
    }
    return 0;
}

}  // namespace

extern "C" {

VC_API usb_dev_handle* usb_open(struct usb_device* dev) {
    if (dev == nullptr) {
        Fail(EINVAL, "no device to open");
        return nullptr;
    }
    auto* handle = new usb_dev_handle;
    handle->device = dev;
    if (usb_os_open(handle) < 0) {
        delete handle;
        return nullptr;
    }
    return handle;
}

VC_API int usb_os_open(usb_dev_handle* dev) {
    ModelLock lock;
    Device* chip = ChipOf(*dev->device);
    if (chip == nullptr) return Fail(ENODEV, "could not open device %s", dev->device->filename);
    dev->fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (dev->fd < 0) return Fail(errno, "could not open device %s", dev->device->filename);
    dev->bus = dev->device->bus;
    dev->session.device = chip;
    dev->session.enumeration = chip->enumeration;
    return 0;
}

VC_API int usb_close(usb_dev_handle* dev) {
    if (dev == nullptr) return Fail(EINVAL, "no device handle to close");
    const int result = usb_os_close(dev);
    delete dev;
    return result;
}

VC_API int usb_os_close(usb_dev_handle* dev) {
    usb::EndSession(dev->session);
    if (dev->fd >= 0) close(dev->fd);
    dev->fd = -1;
    return 0;
}

VC_API struct usb_device* usb_device(usb_dev_handle* dev) {
    return dev != nullptr ? dev->device : nullptr;
}

VC_API int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    if (int e = Alive(dev)) return e;
    if (usb::ClaimsAny(dev->session)) {
        return Fail(EBUSY, "could not set config %d: an interface is claimed", configuration);
    }
    // The chip's one configuration, or none (0, -1: unconfigured).
    if (configuration != 1 && configuration != 0 && configuration != -1) {
        return Fail(EINVAL, "could not set config %d", configuration);
    }
    return 0;
}

VC_API int usb_claim_interface(usb_dev_handle* dev, int interface) {
    if (int e = Alive(dev)) return e;
    const int result = usb::OpenInterface(dev->session, interface);
    if (result == 0) dev->interface = interface;
    return Result(result, "could not claim interface %d", interface);
}

VC_API int usb_release_interface(usb_dev_handle* dev, int interface) {
    if (int e = Alive(dev)) return e;
    const int result = usb::ReleaseInterface(dev->session, interface);
    if (result == LIBUSB_ERROR_NOT_FOUND) {
        return Fail(EINVAL, "could not release intf %d: it is not claimed", interface);
    }
    if (result == 0 && dev->interface == interface) dev->interface = -1;
    return Result(result, "could not release intf %d", interface);
}

VC_API int usb_set_altinterface(usb_dev_handle* dev, int alternate) {
    if (int e = Alive(dev)) return e;
    if (dev->interface < 0) return Fail(EINVAL, "no interface claimed");
    // Each interface has one setting, 0.
    if (alternate != 0)
        return Fail(EINVAL, "could not set alt intf %d/%d", dev->interface, alternate);
    return 0;
}

VC_API int usb_resetep(usb_dev_handle* dev, unsigned int ep) { return CheckEndpoint(dev, ep); }
VC_API int usb_clear_halt(usb_dev_handle* dev, unsigned int ep) { return CheckEndpoint(dev, ep); }

VC_API int usb_reset(usb_dev_handle* dev) {
    if (int e = Alive(dev)) return e;
    // A device that comes back as another (new strings or IDs) is lost to this handle.
    if (usb::ResetSession(dev->session) != 0) return Fail(ENODEV, "could not reset");
    return 0;
}

VC_API int usb_get_driver_np(usb_dev_handle* dev, int interface, char*, unsigned int) {
    if (int e = CheckInterface(dev, interface)) return e;
    return Fail(ENODATA, "could not get bound driver");
}

VC_API int usb_detach_kernel_driver_np(usb_dev_handle* dev, int interface) {
    if (int e = CheckInterface(dev, interface)) return e;
    return Fail(ENODATA, "could not detach kernel driver from interface %d", interface);
}

}  // extern "C"

// What Linux's USB file system gives a host beside transfers, as it gives it for this chip:
// system device handles (a device node's descriptor wrapped into a handle), device memory (the
// kernel maps memory for any device) and bulk streams (refused: they need SuperSpeed endpoints
// and the chip is full speed). Windows' back end has none of the first two.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "entry_points/model_lock.h"
#include "usb/descriptors.h"
#include "usb/usb_api.h"
#include "usb/usb_objects.h"
#include "vc_export.h"
#include "vcable_usb.h"

using namespace vcable;
using namespace vcable::usb;

namespace {

#ifndef _WIN32
// A device node stands for one enumeration of one device; its name says which.
constexpr const char* kNodeName = "vcable-usb:%" PRIu64;
constexpr const char* kNodeLink = "/memfd:vcable-usb:%" SCNu64 " (deleted)";

// The enumeration a descriptor the face handed out stands for; false for any other descriptor.
bool NodeEnumeration(intptr_t fd, uint64_t& enumeration) {
    char path[48], target[128];
    std::snprintf(path, sizeof path, "/proc/self/fd/%" PRIdPTR, fd);
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = 0;
    return std::sscanf(target, kNodeLink, &enumeration) == 1;
}

// The device on the bus with this enumeration, or null once it has left.
Device* DeviceOfEnumeration(uint64_t enumeration) {
    for (int i = 0; i < DeviceCount(); ++i) {
        Device* device = DeviceAt(i);
        if (device->enumeration == enumeration && device->Visible()) return device;
    }
    return nullptr;
}
#endif

int StreamsRefused(libusb_device_handle* handle, const char* function) {
    if (int e = HandleAlive(handle)) return e;
    // The kernel answers EINVAL below SuperSpeed, which libusb reports as an invalid parameter.
    std::string what =
        std::string(function) + ": bulk streams need SuperSpeed; the chip is full speed";
    return ModelGap(LIBUSB_ERROR_INVALID_PARAM, what.c_str());
}

}  // namespace

extern "C" {

VC_API int vc_usb_sys_device(int device) {
#ifndef _WIN32
    ModelLock lock;
    const Device* chip = DeviceAt(device);
    if (chip == nullptr || !chip->Visible()) return -1;
    char name[48];
    std::snprintf(name, sizeof name, kNodeName, chip->enumeration);
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) return -1;
    std::vector<uint8_t> node = DeviceDescriptorBytes(*chip);
    const std::vector<uint8_t> config = ConfigDescriptorBytes(*chip);
    node.insert(node.end(), config.begin(), config.end());
    if (write(fd, node.data(), node.size()) != static_cast<ssize_t>(node.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return -1;
    }
    return fd;
#else
    (void)device;
    return -1;
#endif
}

VC_API int libusb_wrap_sys_device(libusb_context*, intptr_t sys_dev,
                                  libusb_device_handle** handle) {
#ifndef _WIN32
    if (handle == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    uint64_t enumeration = 0;
    if (!NodeEnumeration(sys_dev, enumeration)) {
        return ModelGap(LIBUSB_ERROR_IO,
                        "libusb_wrap_sys_device: not a device node of the virtual cable "
                        "(vc_usb_sys_device gives them)");
    }
    ModelLock lock;
    Device* device = DeviceOfEnumeration(enumeration);
    libusb_device* dev = device != nullptr ? ListedDevice(device) : nullptr;
    if (dev == nullptr) return LIBUSB_ERROR_NO_DEVICE;  // the node of a device that has left
    const int result = OpenDevice(dev, handle);
    UnrefDevice(dev);  // the handle holds it
    return result;
#else
    (void)sys_dev, (void)handle;
    return LIBUSB_ERROR_NOT_SUPPORTED;
#endif
}

VC_API unsigned char* libusb_dev_mem_alloc(libusb_device_handle* handle, size_t length) {
#ifndef _WIN32
    if (HandleAlive(handle) != LIBUSB_SUCCESS || length == 0) return nullptr;
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory != MAP_FAILED ? static_cast<unsigned char*>(memory) : nullptr;
#else
    (void)handle, (void)length;
    return nullptr;
#endif
}

VC_API int libusb_dev_mem_free(libusb_device_handle*, unsigned char* buffer, size_t length) {
#ifndef _WIN32
    return munmap(buffer, length) == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_OTHER;
#else
    (void)buffer, (void)length;
    return LIBUSB_ERROR_NOT_SUPPORTED;
#endif
}

VC_API int libusb_alloc_streams(libusb_device_handle* handle, uint32_t, unsigned char*, int) {
    return StreamsRefused(handle, "libusb_alloc_streams");
}

VC_API int libusb_free_streams(libusb_device_handle* handle, unsigned char*, int) {
    return StreamsRefused(handle, "libusb_free_streams");
}

}  // extern "C"

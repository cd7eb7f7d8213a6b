// The last error, as usb_strerror gives it, and the errno values the face's calls return for the
// chip's USB failures (those a Linux host's usbfs gives for the same).
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "entry_points/model_lock.h"
#include "usb/usb_abi.h"
#include "usb0/usb0_api.h"
#include "usb0/usb0_objects.h"

extern "C" {
VC_API int usb_debug = 0;
VC_API int usb_error_type = 0;
VC_API int usb_error_errno = 0;
VC_API char usb_error_str[1024] = {};
}

namespace vcable::usb0 {
namespace {

enum ErrorKind { kNoError = 0, kErrorText = 1, kErrorNumber = 2 };

// The errno value of each libusb-1.0 error, by its negated code (0 to 12).
constexpr int kErrnoOf[] = {0,         EIO,       EINVAL, EACCES, ENODEV, ENOENT, EBUSY,
                            ETIMEDOUT, EOVERFLOW, EPIPE,  EINTR,  ENOMEM, ENOSYS};

int ErrnoOf(int usbError) {
    const int at = -usbError;
    return at > 0 && at < static_cast<int>(std::size(kErrnoOf)) ? kErrnoOf[at] : EIO;
}

int FailWith(int errnoValue, const char* format, va_list args) {
    char what[512];
    std::vsnprintf(what, sizeof what, format, args);
    std::snprintf(usb_error_str, sizeof usb_error_str, "%s: %s", what, std::strerror(errnoValue));
    usb_error_type = kErrorText;
    if (usb_debug >= 2) std::fprintf(stderr, "USB error: %s\n", usb_error_str);
    errno = errnoValue;
    return -errnoValue;
}

}  // namespace

int Fail(int errnoValue, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = FailWith(errnoValue, format, args);
    va_end(args);
    return result;
}

int Result(int usbResult, const char* format, ...) {
    if (usbResult >= 0) return usbResult;
    va_list args;
    va_start(args, format);
    const int result = FailWith(ErrnoOf(usbResult), format, args);
    va_end(args);
    return result;
}

int Alive(usb_dev_handle* dev) {
    if (dev == nullptr) return Fail(EINVAL, "no device handle");
    ModelLock lock;
    if (usb::SessionAlive(dev->session)) return 0;
    // The device's record may be freed by now (usb_find_devices): the handle alone speaks.
    return Fail(ENODEV, "the device is gone");
}

}  // namespace vcable::usb0

extern "C" {

VC_API char* usb_strerror(void) {
    static char none[] = "No error";
    static char unknown[] = "Unknown error";
    switch (usb_error_type) {
        case vcable::usb0::kErrorText:
            return usb_error_str;
        case vcable::usb0::kErrorNumber:
            return usb_error_errno > 0 ? std::strerror(usb_error_errno) : unknown;
        default:
            return none;
    }
}

VC_API void usb_set_debug(int level) { usb_debug = level; }

}  // extern "C"

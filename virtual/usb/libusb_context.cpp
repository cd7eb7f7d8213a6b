// The library as a whole: contexts and their options, the version, error names and texts, the
// message language and the capabilities, answered as libusb 1.0.26 on Linux answers them.
#include <cctype>
#include <cstdarg>

#include "entry_points/model_lock.h"
#include "record/call_log.h"
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

libusb_context* ContextOf(libusb_context*) { return DefaultContext(); }

int ModelGap(int error, const char* what) {
    ModelLock lock;
    RecordModelError("USB face: %s", what);
    return error;
}

}  // namespace vcable::usb

namespace {

// Names of the error codes from 0 down, and their texts (the library's English ones).
const char* const kErrors[][2] = {
    {"LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED", "Success"},
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
constexpr const char* kOtherErrorText = "Other error";

// Names of the transfer statuses from 1 up (0 shares its name with LIBUSB_SUCCESS).
const char* const kStatusNames[] = {
    "LIBUSB_TRANSFER_ERROR", "LIBUSB_TRANSFER_TIMED_OUT", "LIBUSB_TRANSFER_CANCELLED",
    "LIBUSB_TRANSFER_STALL", "LIBUSB_TRANSFER_NO_DEVICE", "LIBUSB_TRANSFER_OVERFLOW",
};
constexpr int kLastError = LIBUSB_ERROR_NOT_SUPPORTED;
constexpr int kStatusCount = sizeof kStatusNames / sizeof kStatusNames[0];

// Linux's back end reaches HID devices and detaches kernel drivers; Windows' does neither.
#ifdef _WIN32
constexpr int kLinuxBackEnd = 0;
#else
constexpr int kLinuxBackEnd = 1;
#endif

}  // namespace

extern "C" {

VC_API int libusb_init(libusb_context** ctx) {
    ModelLock lock;
    DeviceCount();  // fills the device table from the scenario
    if (ctx != nullptr) {
        *ctx = new libusb_context;
        // Options set without a context hold for the contexts made after.
        (*ctx)->noDeviceDiscovery = DefaultContext()->noDeviceDiscovery;
    }
    return LIBUSB_SUCCESS;
}

VC_API void libusb_exit(libusb_context* ctx) {
    ForgetHotplugCallbacks(Named(ctx));
    if (ctx != nullptr && ctx != DefaultContext()) {
        delete ctx;
    } else {
        DefaultContext()->noDeviceDiscovery = false;
    }
}

VC_API int libusb_set_option(libusb_context* ctx, libusb_option option, ...) {
    switch (option) {
        case LIBUSB_OPTION_LOG_LEVEL: {
            va_list args;
            // The enumeration before the variadic part is passed as an int, on every ABI the face
            // is built for; clang warns that an enumeration may in principle be promoted.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
            va_start(args, option);
#ifdef __clang__
#pragma clang diagnostic pop
#endif
            const int level = va_arg(args, int);
            va_end(args);
            // The face writes no messages, so any valid level leaves nothing to do.
            return level >= LIBUSB_LOG_LEVEL_NONE && level <= LIBUSB_LOG_LEVEL_DEBUG
                       ? LIBUSB_SUCCESS
                       : LIBUSB_ERROR_INVALID_PARAM;
        }
        case LIBUSB_OPTION_USE_USBDK:
            // A Windows back end's: kept without a context for the contexts made after (where it
            // does nothing), refused by a context.
            return ctx == nullptr ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_SUPPORTED;
        case LIBUSB_OPTION_NO_DEVICE_DISCOVERY: {
            ModelLock lock;
            Named(ctx)->noDeviceDiscovery = true;
            return LIBUSB_SUCCESS;
        }
        default:
            return LIBUSB_ERROR_INVALID_PARAM;
    }
}

// The face writes no log messages: a level or a callback has nothing to act on.
VC_API void libusb_set_debug(libusb_context*, int) {}
VC_API void libusb_set_log_cb(libusb_context*, libusb_log_cb, int) {}

VC_API const libusb_version* libusb_get_version() {
    static const libusb_version version{1, 0, 26, 0, "", "virtual cable"};
    return &version;
}

VC_API int libusb_has_capability(uint32_t capability) {
    switch (capability) {
        case LIBUSB_CAP_HAS_CAPABILITY:
        case LIBUSB_CAP_HAS_HOTPLUG:
            return 1;
        case LIBUSB_CAP_HAS_HID_ACCESS:  // no kernel driver stands in the way
        case LIBUSB_CAP_SUPPORTS_DETACH_KERNEL_DRIVER:
            return kLinuxBackEnd;
        default:
            return 0;
    }
}

VC_API const char* libusb_error_name(int code) {
    if (code <= 0 && code >= kLastError) return kErrors[-code][0];
    if (code == LIBUSB_ERROR_OTHER) return "LIBUSB_ERROR_OTHER";
    if (code >= 1 && code <= kStatusCount) return kStatusNames[code - 1];
    return "**UNKNOWN**";
}

VC_API const char* libusb_strerror(int code) {
    return code <= 0 && code >= kLastError ? kErrors[-code][1] : kOtherErrorText;
}

// A locale is a two-letter language, alone or followed by '_', '-' or '.' and more; the face
// speaks English only, so any other language is not found and the texts stay as they are.
VC_API int libusb_setlocale(const char* locale) {
    if (locale == nullptr || locale[0] == 0 || locale[1] == 0) return LIBUSB_ERROR_INVALID_PARAM;
    const char after = locale[2];
    if (after != 0 && after != '_' && after != '-' && after != '.') {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    const bool english = std::tolower(static_cast<unsigned char>(locale[0])) == 'e' &&
                         std::tolower(static_cast<unsigned char>(locale[1])) == 'n';
    return english ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

}  // extern "C"

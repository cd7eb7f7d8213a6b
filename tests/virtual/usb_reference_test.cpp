// The answers of the USB face that depend on nothing but their arguments, held against the
// system's libusb-1.0 loaded beside it (where it is installed): error names and texts,
// capabilities, locales, options, and the parsers of BOS capabilities and endpoint companions.
#ifndef _WIN32
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include "usb/usb_api.h"

namespace {

// The system's libusb, loaded beside the face for the answers that depend on nothing but the
// arguments; null (and the test skipped) where it is not installed.
void* SystemLibusb() {
    static void* library = [] {
        void* h = dlopen("libusb-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
        return h != nullptr && dlsym(h, "vc_reset") == nullptr ? h : nullptr;  // not the face
    }();
    return library;
}

template <class F>
F* System(const char* name, F*) {
    return reinterpret_cast<F*>(dlsym(SystemLibusb(), name));
}
#define SYSTEM(name) System(#name, &name)

TEST(UsbReference, LibraryWideAnswersAreTheSystemLibrarys) {
    if (SystemLibusb() == nullptr) GTEST_SKIP() << "the system's libusb-1.0 is not installed";
    for (int code = -100; code <= 10; ++code) {
        EXPECT_STREQ(libusb_error_name(code), SYSTEM(libusb_error_name)(code)) << code;
        EXPECT_STREQ(libusb_strerror(code), SYSTEM(libusb_strerror)(code)) << code;
    }
    for (uint32_t cap : {0x0000u, 0x0001u, 0x0100u, 0x0101u, 0x0002u, 0xFFFFu}) {
        EXPECT_EQ(libusb_has_capability(cap) != 0, SYSTEM(libusb_has_capability)(cap) != 0) << cap;
    }
    // Other languages than English are the face's one difference: not found, texts unchanged.
    for (const char* locale : {static_cast<const char*>(nullptr), "", "e", "en", "EN",
                               "en_US.UTF-8", "en-GB", "en.", "enx", "xx", "zz_ZZ"}) {
        EXPECT_EQ(libusb_setlocale(locale), SYSTEM(libusb_setlocale)(locale))
            << (locale ? locale : "null");
    }
    const int options[][2] = {{LIBUSB_OPTION_LOG_LEVEL, -1}, {LIBUSB_OPTION_LOG_LEVEL, 4},
                              {LIBUSB_OPTION_LOG_LEVEL, 5},  {LIBUSB_OPTION_LOG_LEVEL, 0},
                              {LIBUSB_OPTION_USE_USBDK, 0},  {LIBUSB_OPTION_MAX, 0}};
    for (const auto& o : options) {
        const auto option = static_cast<libusb_option>(o[0]);
        EXPECT_EQ(libusb_set_option(nullptr, option, o[1]),
                  SYSTEM(libusb_set_option)(nullptr, option, o[1]))
            << o[0] << " " << o[1];
    }
}

// One parser of both libraries on the same input: the same result and, parsed, the same members.
template <class T, class In, class Members>
void ExpectSameParse(int (*ours)(libusb_context*, In, T**), const char* name, In input,
                     Members members) {
    auto* theirs = reinterpret_cast<decltype(ours)>(dlsym(SystemLibusb(), name));
    T *a = nullptr, *b = nullptr;
    EXPECT_EQ(ours(nullptr, input, &a), theirs(nullptr, input, &b)) << name;
    if (a != nullptr && b != nullptr) {
        EXPECT_EQ(members(*a), members(*b)) << name;
    }
    std::free(a), std::free(b);
}
#define EXPECT_SAME_PARSE(parser, input, members) ExpectSameParse(parser, #parser, input, members)

// Device capabilities and endpoint companions as hosts hand them over: parsed as libusb parses
// them, refused with its errors.
TEST(UsbReference, DescriptorParsersAgreeWithTheSystemLibrarys) {
    if (SystemLibusb() == nullptr) GTEST_SKIP() << "the system's libusb-1.0 is not installed";
    using Bytes = std::vector<uint8_t>;
    const Bytes capabilities[] = {
        {7, 0x10, 2, 0x1E, 0xF4, 0x00, 0x80},                // USB 2.0 extension
        {6, 0x10, 2, 0x1E, 0xF4, 0x00, 0x80},                // too short
        {10, 0x10, 3, 0x02, 0x0E, 0x00, 1, 10, 0xFF, 0x07},  // SuperSpeed device
        {20, 0x10, 4, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},  // container ID
        {3, 0x10, 9},                                                             // unknown type
    };
    for (const Bytes& bytes : capabilities) {
        auto* cap = reinterpret_cast<libusb_bos_dev_capability_descriptor*>(
            const_cast<uint8_t*>(bytes.data()));
        EXPECT_SAME_PARSE(libusb_get_usb_2_0_extension_descriptor, cap,
                          [](auto& d) { return d.bmAttributes; });
        EXPECT_SAME_PARSE(libusb_get_ss_usb_device_capability_descriptor, cap, [](auto& d) {
            return std::tuple(d.bmAttributes, d.wSpeedSupported, d.bFunctionalitySupport,
                              d.bU1DevExitLat, d.bU2DevExitLat);
        });
        EXPECT_SAME_PARSE(libusb_get_container_id_descriptor, cap,
                          [](auto& d) { return Bytes(d.ContainerID, d.ContainerID + 16); });
    }
    const Bytes extras[] = {{},
                            {6, 0x30, 3, 0x04, 0x00, 0x04},
                            {7, 0x25, 1, 2, 3, 4, 5, 6, 0x30, 15, 0, 0x00, 0x10},
                            {5, 0x30, 3, 0x04, 0x00},
                            {1, 0x30},
                            {9, 0x30, 3, 0x04, 0x00, 0x04}};
    for (const Bytes& extra : extras) {
        const libusb_endpoint_descriptor endpoint{
            7, 5, 0x81, 2, 64, 0, 0, 0, extra.data(), static_cast<int>(extra.size())};
        EXPECT_SAME_PARSE(libusb_get_ss_endpoint_companion_descriptor, &endpoint, [](auto& d) {
            return std::tuple(d.bMaxBurst, d.bmAttributes, d.wBytesPerInterval);
        });
    }
}

}  // namespace

#endif  // !_WIN32

// The libusb-1.0 interface as its callers compile against it: error codes, descriptor and
// transfer structures, the callback types, and the constants of the standard requests. Written
// from the library's public API documentation. Every type a function of usb_api.h takes or
// returns has the name, members and layout of the system's declaration; tests/usb_abi checks
// that at build time where the system's header is installed, and the asserts below check the
// sizes on x86-64 everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

enum {
    LIBUSB_SUCCESS = 0,
    LIBUSB_ERROR_IO = -1,
    LIBUSB_ERROR_INVALID_PARAM = -2,
    LIBUSB_ERROR_ACCESS = -3,
    LIBUSB_ERROR_NO_DEVICE = -4,
    LIBUSB_ERROR_NOT_FOUND = -5,
    LIBUSB_ERROR_BUSY = -6,
    LIBUSB_ERROR_TIMEOUT = -7,
    LIBUSB_ERROR_OVERFLOW = -8,
    LIBUSB_ERROR_PIPE = -9,
    LIBUSB_ERROR_INTERRUPTED = -10,
    LIBUSB_ERROR_NO_MEM = -11,
    LIBUSB_ERROR_NOT_SUPPORTED = -12,
    LIBUSB_ERROR_OTHER = -99,
};

enum libusb_transfer_status {
    LIBUSB_TRANSFER_COMPLETED,
    LIBUSB_TRANSFER_ERROR,
    LIBUSB_TRANSFER_TIMED_OUT,
    LIBUSB_TRANSFER_CANCELLED,
    LIBUSB_TRANSFER_STALL,
    LIBUSB_TRANSFER_NO_DEVICE,
    LIBUSB_TRANSFER_OVERFLOW,
};

enum {
    LIBUSB_TRANSFER_TYPE_CONTROL = 0,
    LIBUSB_TRANSFER_TYPE_ISOCHRONOUS = 1,
    LIBUSB_TRANSFER_TYPE_BULK = 2,
    LIBUSB_TRANSFER_TYPE_INTERRUPT = 3,
    LIBUSB_TRANSFER_TYPE_BULK_STREAM = 4,
};

enum {
    LIBUSB_TRANSFER_SHORT_NOT_OK = 1,
    LIBUSB_TRANSFER_FREE_BUFFER = 2,
    LIBUSB_TRANSFER_FREE_TRANSFER = 4,
};

enum {
    LIBUSB_DT_DEVICE = 1,
    LIBUSB_DT_CONFIG = 2,
    LIBUSB_DT_STRING = 3,
    LIBUSB_DT_INTERFACE = 4,
    LIBUSB_DT_ENDPOINT = 5,
    LIBUSB_DT_BOS = 0x0F,
    LIBUSB_DT_DEVICE_CAPABILITY = 0x10,
    LIBUSB_DT_SS_ENDPOINT_COMPANION = 0x30,
};

// Device capability types inside a BOS.
enum {
    LIBUSB_BT_USB_2_0_EXTENSION = 2,
    LIBUSB_BT_SS_USB_DEVICE_CAPABILITY = 3,
    LIBUSB_BT_CONTAINER_ID = 4,
};

enum {
    LIBUSB_CAP_HAS_CAPABILITY = 0x0000,
    LIBUSB_CAP_HAS_HOTPLUG = 0x0001,
    LIBUSB_CAP_HAS_HID_ACCESS = 0x0100,
    LIBUSB_CAP_SUPPORTS_DETACH_KERNEL_DRIVER = 0x0101,
};

enum libusb_option {
    LIBUSB_OPTION_LOG_LEVEL = 0,
    LIBUSB_OPTION_USE_USBDK = 1,
    LIBUSB_OPTION_NO_DEVICE_DISCOVERY = 2,
    LIBUSB_OPTION_MAX = 3,
};

enum libusb_log_level {
    LIBUSB_LOG_LEVEL_NONE = 0,
    LIBUSB_LOG_LEVEL_ERROR = 1,
    LIBUSB_LOG_LEVEL_WARNING = 2,
    LIBUSB_LOG_LEVEL_INFO = 3,
    LIBUSB_LOG_LEVEL_DEBUG = 4,
};

enum libusb_hotplug_event {
    LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED = 1 << 0,
    LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT = 1 << 1,
};

enum { LIBUSB_HOTPLUG_NO_FLAGS = 0, LIBUSB_HOTPLUG_ENUMERATE = 1 << 0 };
enum { LIBUSB_HOTPLUG_MATCH_ANY = -1 };

enum {
    LIBUSB_REQUEST_GET_STATUS = 0,
    LIBUSB_REQUEST_SET_ADDRESS = 5,
    LIBUSB_REQUEST_GET_DESCRIPTOR = 6,
    LIBUSB_REQUEST_GET_CONFIGURATION = 8,
    LIBUSB_REQUEST_SET_CONFIGURATION = 9,
};

enum { LIBUSB_ENDPOINT_IN = 0x80, LIBUSB_REQUEST_TYPE_VENDOR = 0x40 };
enum { LIBUSB_SPEED_FULL = 2 };
enum { LIBUSB_ENDPOINT_TRANSFER_TYPE_MASK = 0x03 };
constexpr size_t LIBUSB_CONTROL_SETUP_SIZE = 8;

struct libusb_device_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};

struct libusb_endpoint_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bEndpointAddress;
    uint8_t bmAttributes;
    uint16_t wMaxPacketSize;
    uint8_t bInterval;
    uint8_t bRefresh;
    uint8_t bSynchAddress;
    const unsigned char* extra;
    int extra_length;
};

struct libusb_interface_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
    const libusb_endpoint_descriptor* endpoint;
    const unsigned char* extra;
    int extra_length;
};

struct libusb_interface {
    const libusb_interface_descriptor* altsetting;
    int num_altsetting;
};

struct libusb_config_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t MaxPower;
    const libusb_interface* interface;
    const unsigned char* extra;
    int extra_length;
};

struct libusb_iso_packet_descriptor {
    unsigned int length;
    unsigned int actual_length;
    libusb_transfer_status status;
};

struct libusb_transfer;
typedef void (*libusb_transfer_cb_fn)(libusb_transfer* transfer);

struct libusb_transfer {
    libusb_device_handle* dev_handle;
    uint8_t flags;
    unsigned char endpoint;
    unsigned char type;
    unsigned int timeout;
    libusb_transfer_status status;
    int length;
    int actual_length;
    libusb_transfer_cb_fn callback;
    void* user_data;
    unsigned char* buffer;
    int num_iso_packets;
    libusb_iso_packet_descriptor iso_packet_desc[0];  // num_iso_packets of them follow
};

struct libusb_version {
    const uint16_t major, minor, micro, nano;
    const char* rc;
    const char* describe;
};

// The descriptors of SuperSpeed endpoints and of a BOS with its device capabilities.
struct libusb_ss_endpoint_companion_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bMaxBurst;
    uint8_t bmAttributes;
    uint16_t wBytesPerInterval;
};

struct libusb_bos_dev_capability_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bDevCapabilityType;
    uint8_t dev_capability_data[0];  // bLength - 3 bytes
};

struct libusb_bos_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumDeviceCaps;
    libusb_bos_dev_capability_descriptor* dev_capability[0];  // bNumDeviceCaps of them
};

struct libusb_usb_2_0_extension_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bDevCapabilityType;
    uint32_t bmAttributes;
};

struct libusb_ss_usb_device_capability_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bDevCapabilityType;
    uint8_t bmAttributes;
    uint16_t wSpeedSupported;
    uint8_t bFunctionalitySupport;
    uint8_t bU1DevExitLat;
    uint16_t bU2DevExitLat;
};

struct libusb_container_id_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bDevCapabilityType;
    uint8_t bReserved;
    uint8_t ContainerID[16];
};

struct libusb_pollfd {
    int fd;
    short events;  // poll(2) events to wait for
};

typedef void (*libusb_pollfd_added_cb)(int fd, short events, void* user_data);
typedef void (*libusb_pollfd_removed_cb)(int fd, void* user_data);
typedef void (*libusb_log_cb)(libusb_context* ctx, libusb_log_level level, const char* str);

typedef int libusb_hotplug_callback_handle;
// Returns 1 to be deregistered.
typedef int (*libusb_hotplug_callback_fn)(libusb_context* ctx, libusb_device* device,
                                          libusb_hotplug_event event, void* user_data);

}  // extern "C"

#if UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(libusb_device_descriptor) == 18);
static_assert(sizeof(libusb_endpoint_descriptor) == 32);
static_assert(sizeof(libusb_interface_descriptor) == 40);
static_assert(sizeof(libusb_config_descriptor) == 40);
static_assert(offsetof(libusb_transfer, timeout) == 12);
static_assert(offsetof(libusb_transfer, actual_length) == 24);
static_assert(offsetof(libusb_transfer, callback) == 32);
static_assert(offsetof(libusb_transfer, buffer) == 48);
static_assert(offsetof(libusb_transfer, iso_packet_desc) == 60);
static_assert(sizeof(libusb_transfer) == 64);
static_assert(sizeof(libusb_bos_descriptor) == 8);
static_assert(sizeof(libusb_usb_2_0_extension_descriptor) == 8);
static_assert(sizeof(libusb_ss_usb_device_capability_descriptor) == 10);
#endif

// The libusb-1.0 interface as its callers compile against it: error codes, descriptor and
// transfer structures, and the constants of the standard requests. Written from the library's
// public API documentation; the layouts are checked below against the x86-64 and 32-bit ABIs.
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
    LIBUSB_TRANSFER_TYPE_BULK = 2,
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
};

enum {
    LIBUSB_REQUEST_GET_STATUS = 0,
    LIBUSB_REQUEST_SET_ADDRESS = 5,
    LIBUSB_REQUEST_GET_DESCRIPTOR = 6,
    LIBUSB_REQUEST_GET_CONFIGURATION = 8,
    LIBUSB_REQUEST_SET_CONFIGURATION = 9,
};

enum { LIBUSB_ENDPOINT_IN = 0x80, LIBUSB_REQUEST_TYPE_VENDOR = 0x40 };
enum { LIBUSB_SPEED_FULL = 2 };
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
    libusb_iso_packet_descriptor iso_packet_desc[1];  // num_iso_packets of them
};

struct libusb_version {
    uint16_t major, minor, micro, nano;
    const char* rc;
    const char* describe;
};

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
#endif

// The libusb-0.1 interface as its callers compile against it: the bus and device records the
// library hands out, with the descriptors inside them. Written from the library's public API
// documentation; the layouts are those of the x86-64 Linux ABI, which a test compares with the
// system's header.
#pragma once

#include <cstdint>

extern "C" {

struct usb_endpoint_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bEndpointAddress;
    uint8_t bmAttributes;
    uint16_t wMaxPacketSize;
    uint8_t bInterval;
    uint8_t bRefresh;
    uint8_t bSynchAddress;
    unsigned char* extra;  // descriptors of other kinds that followed it
    int extralen;
};

struct usb_interface_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
    usb_endpoint_descriptor* endpoint;
    unsigned char* extra;
    int extralen;
};

struct usb_interface {
    usb_interface_descriptor* altsetting;
    int num_altsetting;
};

struct usb_config_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t MaxPower;
    usb_interface* interface;
    unsigned char* extra;
    int extralen;
};

struct __attribute__((packed)) usb_device_descriptor {
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

// The longest path the records' names hold, without the terminating zero (Linux's PATH_MAX).
constexpr int kUsb0PathMax = 4096;

struct usb_bus;

struct usb_device {
    usb_device *next, *prev;
    char filename[kUsb0PathMax + 1];  // the device's number on its bus, "002"
    usb_bus* bus;
    usb_device_descriptor descriptor;
    usb_config_descriptor* config;  // bNumConfigurations of them
    void* dev;                      // the library's own record of the device
    uint8_t devnum;
    unsigned char num_children;
    usb_device** children;
};

struct usb_bus {
    usb_bus *next, *prev;
    char dirname[kUsb0PathMax + 1];  // the bus's number, "001"
    usb_device* devices;
    uint32_t location;
    usb_device* root_dev;
};

// An open device; its contents are the library's own (usb0_objects.h).
struct usb_dev_handle;

}  // extern "C"

// The device record under a name of its own: the function usb_device() hides the structure's
// plain name wherever the API is declared.
using UsbDeviceRecord = usb_device;

static_assert(sizeof(usb_device_descriptor) == 18);

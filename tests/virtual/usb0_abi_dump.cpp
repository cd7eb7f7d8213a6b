// Prints the libusb-0.1 interface as one header declares it: each structure's size and alignment,
// each field's offset, size and type, and the type of each function and variable (types by their
// mangled names). Built once against the system's usb.h and once against the virtual cable's own
// declarations; the two outputs must be the same.
#include <cstddef>
#include <cstdio>
#include <typeinfo>

#ifdef USB0_SYSTEM_HEADER
#include <usb.h>
#else
#include "usb0/usb0_api.h"
#endif

#define STRUCT(s) \
    std::printf("struct %s size %zu align %zu\n", #s, sizeof(struct s), alignof(struct s));
#define FIELD(s, f)                                                              \
    std::printf("  %s offset %zu size %zu type %s\n", #f, offsetof(struct s, f), \
                sizeof(static_cast<struct s*>(nullptr)->f),                      \
                typeid(static_cast<struct s*>(nullptr)->f).name());
#define SYMBOL(symbol) std::printf("%s %s\n", #symbol, typeid(&symbol).name());

int main() {
    STRUCT(usb_endpoint_descriptor)
    FIELD(usb_endpoint_descriptor, bLength)
    FIELD(usb_endpoint_descriptor, bDescriptorType)
    FIELD(usb_endpoint_descriptor, bEndpointAddress)
    FIELD(usb_endpoint_descriptor, bmAttributes)
    FIELD(usb_endpoint_descriptor, wMaxPacketSize)
    FIELD(usb_endpoint_descriptor, bInterval)
    FIELD(usb_endpoint_descriptor, bRefresh)
    FIELD(usb_endpoint_descriptor, bSynchAddress)
    FIELD(usb_endpoint_descriptor, extra)
    FIELD(usb_endpoint_descriptor, extralen)
    STRUCT(usb_interface_descriptor)
    FIELD(usb_interface_descriptor, bLength)
    FIELD(usb_interface_descriptor, bDescriptorType)
    FIELD(usb_interface_descriptor, bInterfaceNumber)
    FIELD(usb_interface_descriptor, bAlternateSetting)
    FIELD(usb_interface_descriptor, bNumEndpoints)
    FIELD(usb_interface_descriptor, bInterfaceClass)
    FIELD(usb_interface_descriptor, bInterfaceSubClass)
    FIELD(usb_interface_descriptor, bInterfaceProtocol)
    FIELD(usb_interface_descriptor, iInterface)
    FIELD(usb_interface_descriptor, endpoint)
    FIELD(usb_interface_descriptor, extra)
    FIELD(usb_interface_descriptor, extralen)
    STRUCT(usb_interface)
    FIELD(usb_interface, altsetting)
    FIELD(usb_interface, num_altsetting)
    STRUCT(usb_config_descriptor)
    FIELD(usb_config_descriptor, bLength)
    FIELD(usb_config_descriptor, bDescriptorType)
    FIELD(usb_config_descriptor, wTotalLength)
    FIELD(usb_config_descriptor, bNumInterfaces)
    FIELD(usb_config_descriptor, bConfigurationValue)
    FIELD(usb_config_descriptor, iConfiguration)
    FIELD(usb_config_descriptor, bmAttributes)
    FIELD(usb_config_descriptor, MaxPower)
    FIELD(usb_config_descriptor, interface)
    FIELD(usb_config_descriptor, extra)
    FIELD(usb_config_descriptor, extralen)
    STRUCT(usb_device_descriptor)
    FIELD(usb_device_descriptor, bLength)
    FIELD(usb_device_descriptor, bDescriptorType)
    FIELD(usb_device_descriptor, bcdUSB)
    FIELD(usb_device_descriptor, bDeviceClass)
    FIELD(usb_device_descriptor, bDeviceSubClass)
    FIELD(usb_device_descriptor, bDeviceProtocol)
    FIELD(usb_device_descriptor, bMaxPacketSize0)
    FIELD(usb_device_descriptor, idVendor)
    FIELD(usb_device_descriptor, idProduct)
    FIELD(usb_device_descriptor, bcdDevice)
    FIELD(usb_device_descriptor, iManufacturer)
    FIELD(usb_device_descriptor, iProduct)
    FIELD(usb_device_descriptor, iSerialNumber)
    FIELD(usb_device_descriptor, bNumConfigurations)
    STRUCT(usb_device)
    FIELD(usb_device, next)
    FIELD(usb_device, prev)
    FIELD(usb_device, filename)
    FIELD(usb_device, bus)
    FIELD(usb_device, descriptor)
    FIELD(usb_device, config)
    FIELD(usb_device, dev)
    FIELD(usb_device, devnum)
    FIELD(usb_device, num_children)
    FIELD(usb_device, children)
    STRUCT(usb_bus)
    FIELD(usb_bus, next)
    FIELD(usb_bus, prev)
    FIELD(usb_bus, dirname)
    FIELD(usb_bus, devices)
    FIELD(usb_bus, location)
    FIELD(usb_bus, root_dev)

    SYMBOL(usb_busses)
    SYMBOL(usb_init)
    SYMBOL(usb_set_debug)
    SYMBOL(usb_find_busses)
    SYMBOL(usb_find_devices)
    SYMBOL(usb_get_busses)
    SYMBOL(usb_strerror)
    SYMBOL(usb_open)
    SYMBOL(usb_close)
    SYMBOL(usb_device)
    SYMBOL(usb_set_configuration)
    SYMBOL(usb_claim_interface)
    SYMBOL(usb_release_interface)
    SYMBOL(usb_set_altinterface)
    SYMBOL(usb_resetep)
    SYMBOL(usb_clear_halt)
    SYMBOL(usb_reset)
    SYMBOL(usb_get_driver_np)
    SYMBOL(usb_detach_kernel_driver_np)
    SYMBOL(usb_bulk_write)
    SYMBOL(usb_bulk_read)
    SYMBOL(usb_interrupt_write)
    SYMBOL(usb_interrupt_read)
    SYMBOL(usb_control_msg)
    SYMBOL(usb_get_string)
    SYMBOL(usb_get_string_simple)
    SYMBOL(usb_get_descriptor)
    SYMBOL(usb_get_descriptor_by_endpoint)
    return 0;
}

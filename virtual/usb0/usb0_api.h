// The functions and variables the libusb-0.1 face exports, as hosts call them (the records are in
// usb0_abi.h): the public API first, then the library's internal names, which the system's library
// exports too and which a host could have been linked against. The face's own sources and tests
// include it, so the compiler checks every definition against these declarations.
#pragma once

#include <cstddef>

#include "usb0/usb0_abi.h"
#include "vc_export.h"

extern "C" {

// The busses found so far, each with its devices (usb_find_busses, usb_find_devices).
extern VC_API usb_bus* usb_busses;

VC_API void usb_init(void);
VC_API void usb_set_debug(int level);
VC_API int usb_find_busses(void);
VC_API int usb_find_devices(void);
VC_API usb_bus* usb_get_busses(void);
VC_API char* usb_strerror(void);

VC_API usb_dev_handle* usb_open(struct usb_device* dev);
VC_API int usb_close(usb_dev_handle* dev);
VC_API struct usb_device* usb_device(usb_dev_handle* dev);
VC_API int usb_set_configuration(usb_dev_handle* dev, int configuration);
VC_API int usb_claim_interface(usb_dev_handle* dev, int interface);
VC_API int usb_release_interface(usb_dev_handle* dev, int interface);
VC_API int usb_set_altinterface(usb_dev_handle* dev, int alternate);
VC_API int usb_resetep(usb_dev_handle* dev, unsigned int ep);
VC_API int usb_clear_halt(usb_dev_handle* dev, unsigned int ep);
VC_API int usb_reset(usb_dev_handle* dev);
VC_API int usb_get_driver_np(usb_dev_handle* dev, int interface, char* name, unsigned int namelen);
VC_API int usb_detach_kernel_driver_np(usb_dev_handle* dev, int interface);

VC_API int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout);
VC_API int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);
VC_API int usb_interrupt_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                               int timeout);
VC_API int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);
VC_API int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                           char* bytes, int size, int timeout);
VC_API int usb_get_string(usb_dev_handle* dev, int index, int langid, char* buf, size_t buflen);
VC_API int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen);
VC_API int usb_get_descriptor(usb_dev_handle* udev, unsigned char type, unsigned char index,
                              void* buf, int size);
VC_API int usb_get_descriptor_by_endpoint(usb_dev_handle* udev, int ep, unsigned char type,
                                          unsigned char index, void* buf, int size);

// The library's internals. The debug level, and the last error: its kind (0 none, 1 the text in
// usb_error_str, 2 the errno value in usb_error_errno).
extern VC_API int usb_debug;
extern VC_API int usb_error_type;
extern VC_API int usb_error_errno;
extern VC_API char usb_error_str[1024];

VC_API void usb_os_init(void);
VC_API int usb_os_find_busses(usb_bus** busses);
VC_API int usb_os_find_devices(usb_bus* bus, struct usb_device** devices);
VC_API int usb_os_determine_children(usb_bus* bus);
VC_API int usb_os_open(usb_dev_handle* dev);
VC_API int usb_os_close(usb_dev_handle* dev);
VC_API void usb_free_dev(struct usb_device* dev);
VC_API void usb_free_bus(usb_bus* bus);
// Reads a descriptor from `source` into the structure `dest` as `description` lays it out: 'b' a
// byte, 'w' a little-endian word and 'd' a double word, each at its natural alignment in `dest`.
// Returns the bytes read.
VC_API int usb_parse_descriptor(unsigned char* source, char* description, void* dest);
// Builds `config` (interfaces, alternate settings, endpoints) from a whole configuration
// descriptor; returns the bytes used, or a negative errno value for a malformed one.
VC_API int usb_parse_configuration(usb_config_descriptor* config, unsigned char* buffer);
VC_API void usb_destroy_configuration(struct usb_device* dev);
// Reads the device's descriptors again into the record the handle was opened on.
VC_API void usb_fetch_and_parse_descriptors(usb_dev_handle* udev);

}  // extern "C"

// The libusb-1.0 functions the USB face exports, as hosts call them (the structures and codes are
// in usb_abi.h). The face's own sources and tests include it, so the compiler checks every
// definition against these declarations.
#pragma once

#include <sys/types.h>

#include "usb/usb_abi.h"
#include "vc_export.h"

struct timeval;

extern "C" {

VC_API int libusb_init(libusb_context** ctx);
VC_API void libusb_exit(libusb_context* ctx);
VC_API int libusb_set_option(libusb_context* ctx, int option, ...);
VC_API void libusb_set_debug(libusb_context* ctx, int level);
VC_API const libusb_version* libusb_get_version();
VC_API const char* libusb_error_name(int code);
VC_API const char* libusb_strerror(int code);

VC_API ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list);
VC_API void libusb_free_device_list(libusb_device** list, int unref_devices);
VC_API libusb_device* libusb_ref_device(libusb_device* dev);
VC_API void libusb_unref_device(libusb_device* dev);
VC_API uint8_t libusb_get_bus_number(libusb_device* dev);
VC_API uint8_t libusb_get_device_address(libusb_device* dev);
VC_API uint8_t libusb_get_port_number(libusb_device* dev);
VC_API int libusb_get_port_numbers(libusb_device* dev, uint8_t* numbers, int length);
VC_API libusb_device* libusb_get_parent(libusb_device* dev);
VC_API int libusb_get_device_speed(libusb_device* dev);
VC_API int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc);
VC_API int libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                        libusb_config_descriptor** config);
VC_API int libusb_get_active_config_descriptor(libusb_device* dev,
                                               libusb_config_descriptor** config);
VC_API void libusb_free_config_descriptor(libusb_config_descriptor* config);
VC_API int libusb_get_max_packet_size(libusb_device* dev, unsigned char endpoint);
VC_API int libusb_get_max_iso_packet_size(libusb_device* dev, unsigned char endpoint);

VC_API int libusb_open(libusb_device* dev, libusb_device_handle** handle);
VC_API void libusb_close(libusb_device_handle* handle);
VC_API libusb_device* libusb_get_device(libusb_device_handle* handle);
VC_API libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vid,
                                                             uint16_t pid);
VC_API int libusb_get_configuration(libusb_device_handle* handle, int* config);
VC_API int libusb_set_configuration(libusb_device_handle* handle, int config);
VC_API int libusb_claim_interface(libusb_device_handle* handle, int interface);
VC_API int libusb_release_interface(libusb_device_handle* handle, int interface);
VC_API int libusb_set_interface_alt_setting(libusb_device_handle* handle, int interface, int alt);
VC_API int libusb_clear_halt(libusb_device_handle* handle, unsigned char endpoint);
VC_API int libusb_reset_device(libusb_device_handle* handle);
VC_API int libusb_kernel_driver_active(libusb_device_handle* handle, int interface);
VC_API int libusb_detach_kernel_driver(libusb_device_handle* handle, int interface);
VC_API int libusb_attach_kernel_driver(libusb_device_handle* handle, int interface);
VC_API int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable);
VC_API int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                              unsigned char* data, int length);

VC_API int libusb_control_transfer(libusb_device_handle* handle, uint8_t request_type,
                                   uint8_t request, uint16_t value, uint16_t index,
                                   unsigned char* data, uint16_t length, unsigned int timeout);
VC_API int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                unsigned char* data, int length, int* transferred,
                                unsigned int timeout);
VC_API int libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* transferred,
                                     unsigned int timeout);

VC_API libusb_transfer* libusb_alloc_transfer(int iso_packets);
VC_API void libusb_free_transfer(libusb_transfer* transfer);
VC_API int libusb_submit_transfer(libusb_transfer* transfer);
VC_API int libusb_cancel_transfer(libusb_transfer* transfer);
VC_API int libusb_handle_events(libusb_context* ctx);
VC_API int libusb_handle_events_completed(libusb_context* ctx, int* completed);
VC_API int libusb_handle_events_timeout(libusb_context* ctx, timeval* tv);
VC_API int libusb_handle_events_timeout_completed(libusb_context* ctx, timeval* tv, int* completed);

}  // extern "C"

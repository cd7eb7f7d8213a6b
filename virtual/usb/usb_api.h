// The libusb-1.0 functions the USB face exports, as hosts call them (the structures and codes are
// in usb_abi.h): every function Debian's libusb 1.0.26 exports, and no other. The face's own
// sources and tests include it, so the compiler checks every definition against these
// declarations; tests/usb_abi checks the declarations against the system's header and the
// exports against the system's library. docs/virtual-cable.md says what each group does.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "usb/usb_abi.h"
#include "vc_export.h"

struct timeval;

extern "C" {

// The library: contexts, options, versions, errors and capabilities (libusb_context.cpp).
VC_API int libusb_init(libusb_context** ctx);
VC_API void libusb_exit(libusb_context* ctx);
VC_API int libusb_set_option(libusb_context* ctx, libusb_option option, ...);
VC_API void libusb_set_debug(libusb_context* ctx, int level);
VC_API void libusb_set_log_cb(libusb_context* ctx, libusb_log_cb cb, int mode);
VC_API const libusb_version* libusb_get_version();
VC_API int libusb_has_capability(uint32_t capability);
VC_API const char* libusb_error_name(int code);
VC_API const char* libusb_strerror(int code);
VC_API int libusb_setlocale(const char* locale);

// Devices on the bus, their place on it and their configuration (libusb_devices.cpp).
VC_API ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list);
VC_API void libusb_free_device_list(libusb_device** list, int unref_devices);
VC_API libusb_device* libusb_ref_device(libusb_device* dev);
VC_API void libusb_unref_device(libusb_device* dev);
VC_API uint8_t libusb_get_bus_number(libusb_device* dev);
VC_API uint8_t libusb_get_device_address(libusb_device* dev);
VC_API uint8_t libusb_get_port_number(libusb_device* dev);
VC_API int libusb_get_port_numbers(libusb_device* dev, uint8_t* numbers, int length);
VC_API int libusb_get_port_path(libusb_context* ctx, libusb_device* dev, uint8_t* path,
                                uint8_t path_length);
VC_API libusb_device* libusb_get_parent(libusb_device* dev);
VC_API int libusb_get_device_speed(libusb_device* dev);
VC_API int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc);
VC_API int libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                        libusb_config_descriptor** config);
VC_API int libusb_get_config_descriptor_by_value(libusb_device* dev, uint8_t value,
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

// The BOS and the SuperSpeed descriptors (libusb_bos.cpp).
VC_API int libusb_get_bos_descriptor(libusb_device_handle* handle, libusb_bos_descriptor** bos);
VC_API void libusb_free_bos_descriptor(libusb_bos_descriptor* bos);
VC_API int libusb_get_ss_endpoint_companion_descriptor(
    libusb_context* ctx, const libusb_endpoint_descriptor* endpoint,
    libusb_ss_endpoint_companion_descriptor** ep_comp);
VC_API void libusb_free_ss_endpoint_companion_descriptor(
    libusb_ss_endpoint_companion_descriptor* ep_comp);
VC_API int libusb_get_usb_2_0_extension_descriptor(
    libusb_context* ctx, libusb_bos_dev_capability_descriptor* dev_cap,
    libusb_usb_2_0_extension_descriptor** usb_2_0_extension);
VC_API void libusb_free_usb_2_0_extension_descriptor(
    libusb_usb_2_0_extension_descriptor* usb_2_0_extension);
VC_API int libusb_get_ss_usb_device_capability_descriptor(
    libusb_context* ctx, libusb_bos_dev_capability_descriptor* dev_cap,
    libusb_ss_usb_device_capability_descriptor** ss_usb_device_cap);
VC_API void libusb_free_ss_usb_device_capability_descriptor(
    libusb_ss_usb_device_capability_descriptor* ss_usb_device_cap);
VC_API int libusb_get_container_id_descriptor(libusb_context* ctx,
                                              libusb_bos_dev_capability_descriptor* dev_cap,
                                              libusb_container_id_descriptor** container_id);
VC_API void libusb_free_container_id_descriptor(libusb_container_id_descriptor* container_id);

// An open device: configuration, interfaces, kernel drivers, strings and the synchronous
// transfers (libusb_handles.cpp).
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

// What the operating system's USB file system gives a host beside transfers: system device
// handles, device memory and bulk streams (libusb_usbfs.cpp).
VC_API int libusb_wrap_sys_device(libusb_context* ctx, intptr_t sys_dev,
                                  libusb_device_handle** handle);
VC_API unsigned char* libusb_dev_mem_alloc(libusb_device_handle* handle, size_t length);
VC_API int libusb_dev_mem_free(libusb_device_handle* handle, unsigned char* buffer, size_t length);
VC_API int libusb_alloc_streams(libusb_device_handle* handle, uint32_t num_streams,
                                unsigned char* endpoints, int num_endpoints);
VC_API int libusb_free_streams(libusb_device_handle* handle, unsigned char* endpoints,
                               int num_endpoints);

// Asynchronous transfers (libusb_transfers.cpp).
VC_API libusb_transfer* libusb_alloc_transfer(int iso_packets);
VC_API void libusb_free_transfer(libusb_transfer* transfer);
VC_API int libusb_submit_transfer(libusb_transfer* transfer);
VC_API int libusb_cancel_transfer(libusb_transfer* transfer);
VC_API void libusb_transfer_set_stream_id(libusb_transfer* transfer, uint32_t stream_id);
VC_API uint32_t libusb_transfer_get_stream_id(libusb_transfer* transfer);

// Event handling: the handlers, the event lock and its waiters, poll descriptors and time-outs
// (libusb_events.cpp).
VC_API int libusb_handle_events(libusb_context* ctx);
VC_API int libusb_handle_events_completed(libusb_context* ctx, int* completed);
VC_API int libusb_handle_events_timeout(libusb_context* ctx, timeval* tv);
VC_API int libusb_handle_events_timeout_completed(libusb_context* ctx, timeval* tv, int* completed);
VC_API int libusb_handle_events_locked(libusb_context* ctx, timeval* tv);
VC_API int libusb_try_lock_events(libusb_context* ctx);
VC_API void libusb_lock_events(libusb_context* ctx);
VC_API void libusb_unlock_events(libusb_context* ctx);
VC_API int libusb_event_handling_ok(libusb_context* ctx);
VC_API int libusb_event_handler_active(libusb_context* ctx);
VC_API void libusb_interrupt_event_handler(libusb_context* ctx);
VC_API void libusb_lock_event_waiters(libusb_context* ctx);
VC_API void libusb_unlock_event_waiters(libusb_context* ctx);
VC_API int libusb_wait_for_event(libusb_context* ctx, timeval* tv);
VC_API int libusb_pollfds_handle_timeouts(libusb_context* ctx);
VC_API int libusb_get_next_timeout(libusb_context* ctx, timeval* tv);
VC_API const libusb_pollfd** libusb_get_pollfds(libusb_context* ctx);
VC_API void libusb_free_pollfds(const libusb_pollfd** pollfds);
VC_API void libusb_set_pollfd_notifiers(libusb_context* ctx, libusb_pollfd_added_cb added_cb,
                                        libusb_pollfd_removed_cb removed_cb, void* user_data);

// Hotplug: the cable's arrival and departure (libusb_hotplug.cpp).
VC_API int libusb_hotplug_register_callback(libusb_context* ctx, int events, int flags,
                                            int vendor_id, int product_id, int dev_class,
                                            libusb_hotplug_callback_fn cb_fn, void* user_data,
                                            libusb_hotplug_callback_handle* callback_handle);
VC_API void libusb_hotplug_deregister_callback(libusb_context* ctx,
                                               libusb_hotplug_callback_handle callback_handle);
VC_API void* libusb_hotplug_get_user_data(libusb_context* ctx,
                                          libusb_hotplug_callback_handle callback_handle);

}  // extern "C"

// The libusb-1.0 ABI the USB face must match, as rows: every function Debian's libusb 1.0.26
// exports, and every member of the structures those functions pass. check_face_library.py
// holds the function rows to the system library's exports; signatures_face.cpp and
// signatures_system.cpp turn each row into a function whose mangled name carries the face's
// and the system header's types, so the check's link fails on any difference.
#pragma once

#define VC_USB_ABI_FUNCTIONS(X)                        \
    X(libusb_alloc_streams)                            \
    X(libusb_alloc_transfer)                           \
    X(libusb_attach_kernel_driver)                     \
    X(libusb_bulk_transfer)                            \
    X(libusb_cancel_transfer)                          \
    X(libusb_claim_interface)                          \
    X(libusb_clear_halt)                               \
    X(libusb_close)                                    \
    X(libusb_control_transfer)                         \
    X(libusb_detach_kernel_driver)                     \
    X(libusb_dev_mem_alloc)                            \
    X(libusb_dev_mem_free)                             \
    X(libusb_error_name)                               \
    X(libusb_event_handler_active)                     \
    X(libusb_event_handling_ok)                        \
    X(libusb_exit)                                     \
    X(libusb_free_bos_descriptor)                      \
    X(libusb_free_config_descriptor)                   \
    X(libusb_free_container_id_descriptor)             \
    X(libusb_free_device_list)                         \
    X(libusb_free_pollfds)                             \
    X(libusb_free_ss_endpoint_companion_descriptor)    \
    X(libusb_free_ss_usb_device_capability_descriptor) \
    X(libusb_free_streams)                             \
    X(libusb_free_transfer)                            \
    X(libusb_free_usb_2_0_extension_descriptor)        \
    X(libusb_get_active_config_descriptor)             \
    X(libusb_get_bos_descriptor)                       \
    X(libusb_get_bus_number)                           \
    X(libusb_get_config_descriptor)                    \
    X(libusb_get_config_descriptor_by_value)           \
    X(libusb_get_configuration)                        \
    X(libusb_get_container_id_descriptor)              \
    X(libusb_get_device)                               \
    X(libusb_get_device_address)                       \
    X(libusb_get_device_descriptor)                    \
    X(libusb_get_device_list)                          \
    X(libusb_get_device_speed)                         \
    X(libusb_get_max_iso_packet_size)                  \
    X(libusb_get_max_packet_size)                      \
    X(libusb_get_next_timeout)                         \
    X(libusb_get_parent)                               \
    X(libusb_get_pollfds)                              \
    X(libusb_get_port_number)                          \
    X(libusb_get_port_numbers)                         \
    X(libusb_get_port_path)                            \
    X(libusb_get_ss_endpoint_companion_descriptor)     \
    X(libusb_get_ss_usb_device_capability_descriptor)  \
    X(libusb_get_string_descriptor_ascii)              \
    X(libusb_get_usb_2_0_extension_descriptor)         \
    X(libusb_get_version)                              \
    X(libusb_handle_events)                            \
    X(libusb_handle_events_completed)                  \
    X(libusb_handle_events_locked)                     \
    X(libusb_handle_events_timeout)                    \
    X(libusb_handle_events_timeout_completed)          \
    X(libusb_has_capability)                           \
    X(libusb_hotplug_deregister_callback)              \
    X(libusb_hotplug_get_user_data)                    \
    X(libusb_hotplug_register_callback)                \
    X(libusb_init)                                     \
    X(libusb_interrupt_event_handler)                  \
    X(libusb_interrupt_transfer)                       \
    X(libusb_kernel_driver_active)                     \
    X(libusb_lock_event_waiters)                       \
    X(libusb_lock_events)                              \
    X(libusb_open)                                     \
    X(libusb_open_device_with_vid_pid)                 \
    X(libusb_pollfds_handle_timeouts)                  \
    X(libusb_ref_device)                               \
    X(libusb_release_interface)                        \
    X(libusb_reset_device)                             \
    X(libusb_set_auto_detach_kernel_driver)            \
    X(libusb_set_configuration)                        \
    X(libusb_set_debug)                                \
    X(libusb_set_interface_alt_setting)                \
    X(libusb_set_log_cb)                               \
    X(libusb_set_option)                               \
    X(libusb_set_pollfd_notifiers)                     \
    X(libusb_setlocale)                                \
    X(libusb_strerror)                                 \
    X(libusb_submit_transfer)                          \
    X(libusb_transfer_get_stream_id)                   \
    X(libusb_transfer_set_stream_id)                   \
    X(libusb_try_lock_events)                          \
    X(libusb_unlock_event_waiters)                     \
    X(libusb_unlock_events)                            \
    X(libusb_unref_device)                             \
    X(libusb_wait_for_event)                           \
    X(libusb_wrap_sys_device)

#define VC_USB_ABI_STRUCTS(S)                     \
    S(libusb_device_descriptor)                   \
    S(libusb_endpoint_descriptor)                 \
    S(libusb_interface_descriptor)                \
    S(libusb_interface)                           \
    S(libusb_config_descriptor)                   \
    S(libusb_ss_endpoint_companion_descriptor)    \
    S(libusb_bos_dev_capability_descriptor)       \
    S(libusb_bos_descriptor)                      \
    S(libusb_usb_2_0_extension_descriptor)        \
    S(libusb_ss_usb_device_capability_descriptor) \
    S(libusb_container_id_descriptor)             \
    S(libusb_version)                             \
    S(libusb_iso_packet_descriptor)               \
    S(libusb_transfer)                            \
    S(libusb_pollfd)

#define VC_USB_ABI_MEMBERS(M)                                            \
    M(libusb_device_descriptor, bLength)                                 \
    M(libusb_device_descriptor, bDescriptorType)                         \
    M(libusb_device_descriptor, bcdUSB)                                  \
    M(libusb_device_descriptor, bDeviceClass)                            \
    M(libusb_device_descriptor, bDeviceSubClass)                         \
    M(libusb_device_descriptor, bDeviceProtocol)                         \
    M(libusb_device_descriptor, bMaxPacketSize0)                         \
    M(libusb_device_descriptor, idVendor)                                \
    M(libusb_device_descriptor, idProduct)                               \
    M(libusb_device_descriptor, bcdDevice)                               \
    M(libusb_device_descriptor, iManufacturer)                           \
    M(libusb_device_descriptor, iProduct)                                \
    M(libusb_device_descriptor, iSerialNumber)                           \
    M(libusb_device_descriptor, bNumConfigurations)                      \
    M(libusb_endpoint_descriptor, bLength)                               \
    M(libusb_endpoint_descriptor, bDescriptorType)                       \
    M(libusb_endpoint_descriptor, bEndpointAddress)                      \
    M(libusb_endpoint_descriptor, bmAttributes)                          \
    M(libusb_endpoint_descriptor, wMaxPacketSize)                        \
    M(libusb_endpoint_descriptor, bInterval)                             \
    M(libusb_endpoint_descriptor, bRefresh)                              \
    M(libusb_endpoint_descriptor, bSynchAddress)                         \
    M(libusb_endpoint_descriptor, extra)                                 \
    M(libusb_endpoint_descriptor, extra_length)                          \
    M(libusb_interface_descriptor, bLength)                              \
    M(libusb_interface_descriptor, bDescriptorType)                      \
    M(libusb_interface_descriptor, bInterfaceNumber)                     \
    M(libusb_interface_descriptor, bAlternateSetting)                    \
    M(libusb_interface_descriptor, bNumEndpoints)                        \
    M(libusb_interface_descriptor, bInterfaceClass)                      \
    M(libusb_interface_descriptor, bInterfaceSubClass)                   \
    M(libusb_interface_descriptor, bInterfaceProtocol)                   \
    M(libusb_interface_descriptor, iInterface)                           \
    M(libusb_interface_descriptor, endpoint)                             \
    M(libusb_interface_descriptor, extra)                                \
    M(libusb_interface_descriptor, extra_length)                         \
    M(libusb_interface, altsetting)                                      \
    M(libusb_interface, num_altsetting)                                  \
    M(libusb_config_descriptor, bLength)                                 \
    M(libusb_config_descriptor, bDescriptorType)                         \
    M(libusb_config_descriptor, wTotalLength)                            \
    M(libusb_config_descriptor, bNumInterfaces)                          \
    M(libusb_config_descriptor, bConfigurationValue)                     \
    M(libusb_config_descriptor, iConfiguration)                          \
    M(libusb_config_descriptor, bmAttributes)                            \
    M(libusb_config_descriptor, MaxPower)                                \
    M(libusb_config_descriptor, interface)                               \
    M(libusb_config_descriptor, extra)                                   \
    M(libusb_config_descriptor, extra_length)                            \
    M(libusb_ss_endpoint_companion_descriptor, bLength)                  \
    M(libusb_ss_endpoint_companion_descriptor, bDescriptorType)          \
    M(libusb_ss_endpoint_companion_descriptor, bMaxBurst)                \
    M(libusb_ss_endpoint_companion_descriptor, bmAttributes)             \
    M(libusb_ss_endpoint_companion_descriptor, wBytesPerInterval)        \
    M(libusb_bos_dev_capability_descriptor, bLength)                     \
    M(libusb_bos_dev_capability_descriptor, bDescriptorType)             \
    M(libusb_bos_dev_capability_descriptor, bDevCapabilityType)          \
    M(libusb_bos_dev_capability_descriptor, dev_capability_data)         \
    M(libusb_bos_descriptor, bLength)                                    \
    M(libusb_bos_descriptor, bDescriptorType)                            \
    M(libusb_bos_descriptor, wTotalLength)                               \
    M(libusb_bos_descriptor, bNumDeviceCaps)                             \
    M(libusb_bos_descriptor, dev_capability)                             \
    M(libusb_usb_2_0_extension_descriptor, bLength)                      \
    M(libusb_usb_2_0_extension_descriptor, bDescriptorType)              \
    M(libusb_usb_2_0_extension_descriptor, bDevCapabilityType)           \
    M(libusb_usb_2_0_extension_descriptor, bmAttributes)                 \
    M(libusb_ss_usb_device_capability_descriptor, bLength)               \
    M(libusb_ss_usb_device_capability_descriptor, bDescriptorType)       \
    M(libusb_ss_usb_device_capability_descriptor, bDevCapabilityType)    \
    M(libusb_ss_usb_device_capability_descriptor, bmAttributes)          \
    M(libusb_ss_usb_device_capability_descriptor, wSpeedSupported)       \
    M(libusb_ss_usb_device_capability_descriptor, bFunctionalitySupport) \
    M(libusb_ss_usb_device_capability_descriptor, bU1DevExitLat)         \
    M(libusb_ss_usb_device_capability_descriptor, bU2DevExitLat)         \
    M(libusb_container_id_descriptor, bLength)                           \
    M(libusb_container_id_descriptor, bDescriptorType)                   \
    M(libusb_container_id_descriptor, bDevCapabilityType)                \
    M(libusb_container_id_descriptor, bReserved)                         \
    M(libusb_container_id_descriptor, ContainerID)                       \
    M(libusb_version, major)                                             \
    M(libusb_version, minor)                                             \
    M(libusb_version, micro)                                             \
    M(libusb_version, nano)                                              \
    M(libusb_version, rc)                                                \
    M(libusb_version, describe)                                          \
    M(libusb_iso_packet_descriptor, length)                              \
    M(libusb_iso_packet_descriptor, actual_length)                       \
    M(libusb_iso_packet_descriptor, status)                              \
    M(libusb_transfer, dev_handle)                                       \
    M(libusb_transfer, flags)                                            \
    M(libusb_transfer, endpoint)                                         \
    M(libusb_transfer, type)                                             \
    M(libusb_transfer, timeout)                                          \
    M(libusb_transfer, status)                                           \
    M(libusb_transfer, length)                                           \
    M(libusb_transfer, actual_length)                                    \
    M(libusb_transfer, callback)                                         \
    M(libusb_transfer, user_data)                                        \
    M(libusb_transfer, buffer)                                           \
    M(libusb_transfer, num_iso_packets)                                  \
    M(libusb_transfer, iso_packet_desc)                                  \
    M(libusb_pollfd, fd)                                                 \
    M(libusb_pollfd, events)

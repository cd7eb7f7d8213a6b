// Entry points that open, close, reset and cycle channels, and FT_GetDeviceInfo.
#include <ftdi.h>
#include <libusb-1.0/libusb.h>

#include <cstring>

#include "call.h"
#include "device_list.h"
#include "entry_points.h"
#include "status_map.h"

using namespace ftl;

namespace {

// Claims the channel's interface, detaching the kernel's serial driver from that interface only
// (the chip's other channels keep theirs), and hands the handle to libftdi1. libftdi1's own open
// would also set 9600 baud with its request that names no port, which on the FT2232C reaches
// channel A whichever channel is opened.
FtStatus ClaimChannel(const ListedChannel& entry, ftdi_context* ftdi, bool& detached) {
    libusb_device_handle* usb = nullptr;
    if (int result = libusb_open(entry.device, &usb)) return StatusFromUsb(result, Step::kOpen);
    // None attached is no failure; one that was is given back when the channel closes.
    detached = libusb_detach_kernel_driver(usb, entry.interface) == 0;
    if (int result = libusb_claim_interface(usb, entry.interface)) {
        libusb_close(usb);
        return StatusFromUsb(result, Step::kOpen);
    }
    ftdi_set_usbdev(ftdi, usb);
    ftdi->type = entry.type == kDeviceType2232H ? TYPE_2232H : TYPE_2232C;
    ftdi->max_packet_size = entry.highSpeed ? 512 : 64;
    if (ftdi_usb_reset(ftdi) < 0) {
        ftdi_usb_close(ftdi);
        return kFtDeviceNotOpened;
    }
    return kFtOk;
}

FtStatus OpenListed(const ListedChannel& entry, FtHandle* handle) {
    if (HandleAt(entry.location) != nullptr) return kFtDeviceNotOpened;
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) return kFtInsufficientResources;
    bool detached = false;
    FtStatus status =
        ftdi_set_interface(ftdi, static_cast<ftdi_interface>(INTERFACE_A + entry.interface)) < 0
            ? kFtDeviceNotOpened
            : ClaimChannel(entry, ftdi, detached);
    if (status != kFtOk) {
        ftdi_free(ftdi);
        return status;
    }
    auto channel = std::make_unique<Channel>();
    channel->ftdi = ftdi;
    channel->kernelDriverDetached = detached;
    channel->device = libusb_ref_device(entry.device);
    channel->interface = entry.interface;
    channel->type = entry.type;
    channel->id = static_cast<uint32_t>(entry.vendorId) << 16 | entry.productId;
    channel->location = entry.location;
    channel->description = entry.description;
    channel->serial = entry.serial;
    unsigned char latency = 0;
    if (ftdi_get_latency_timer(ftdi, &latency) == 0) channel->latencyMs = latency;
    *handle = AddChannel(std::move(channel));
    return kFtOk;
}

template <typename Match>
FtStatus OpenFirst(FtHandle* handle, Match&& match) {
    if (handle == nullptr) return kFtInvalidParameter;
    ChannelList list;
    if (FtStatus status = ListChannels(UsbContext(), list)) return status;
    for (const ListedChannel& entry : list.channels) {
        if (match(entry)) return OpenListed(entry, handle);
    }
    return kFtDeviceNotFound;
}

// A USB port reset; when the chip comes back with new descriptors (after programming its EEPROM)
// it enumerates again and every handle of it ends, as after the vendor's port cycle.
FtStatus ResetUsbPort(Channel& channel) {
    int result = libusb_reset_device(channel.ftdi->usb_dev);
    if (result == LIBUSB_ERROR_NOT_FOUND) {
        MarkChipCycled(channel);
        return kFtOk;
    }
    if (result == LIBUSB_ERROR_NO_DEVICE) channel.unplugged = true;
    return StatusFromUsb(result, Step::kCall);
}

}  // namespace

FTL_API FtStatus FT_Open(int deviceNumber, FtHandle* handle) {
    int index = 0;
    return OpenFirst(handle, [&](const ListedChannel&) { return index++ == deviceNumber; });
}

FTL_API FtStatus FT_OpenEx(void* arg, uint32_t flags, FtHandle* handle) {
    if (flags == kOpenByLocation) {
        const auto location = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
        return OpenFirst(handle, [&](const ListedChannel& e) { return e.location == location; });
    }
    if (arg == nullptr || (flags != kOpenBySerialNumber && flags != kOpenByDescription)) {
        return kFtInvalidParameter;
    }
    const char* name = static_cast<const char*>(arg);
    return OpenFirst(handle, [&](const ListedChannel& e) {
        return (flags == kOpenBySerialNumber ? e.serial : e.description) == name;
    });
}

FTL_API FtStatus FT_Close(FtHandle handle) {
    std::shared_ptr<Channel> channel = RemoveChannel(handle);
    if (!channel) return kFtInvalidHandle;
    std::lock_guard<std::mutex> lock(channel->mutex);
    if (channel->kernelDriverDetached && !channel->unplugged) {
        // The channel's serial port comes back once the library lets go of it.
        libusb_release_interface(channel->ftdi->usb_dev, channel->interface);
        libusb_attach_kernel_driver(channel->ftdi->usb_dev, channel->interface);
    }
    ftdi_usb_close(channel->ftdi);
    ftdi_free(channel->ftdi);
    libusb_unref_device(channel->device);
    // The handle is released either way; an unplugged chip is still reported.
    return channel->unplugged ? kFtIoError : kFtOk;
}

FTL_API FtStatus FT_ResetDevice(FtHandle handle) {
    return OnChannel(handle, [](Channel& channel) {
        channel.rx.clear();
        return Checked(channel, ftdi_usb_reset(channel.ftdi));
    });
}

FTL_API FtStatus FT_ResetPort(FtHandle handle) { return OnChannel(handle, ResetUsbPort); }

FTL_API FtStatus FT_CyclePort(FtHandle handle) {
    // A channel whose chip a cycle through its other channel has already sent away has nothing
    // left to cycle.
    std::shared_ptr<Channel> channel = FindChannel(handle);
    if (channel && channel->cycled && !channel->unplugged) return kFtOk;
    return OnChannel(handle, ResetUsbPort);
}

FTL_API FtStatus FT_GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                  char* description, void*) {
    return OnChannel(handle, [&](Channel& channel) {
        if (type) *type = channel.type;
        if (id) *id = channel.id;
        if (serial) std::strcpy(serial, channel.serial.substr(0, kSerialSize - 1).c_str());
        if (description) {
            std::strcpy(description, channel.description.substr(0, kDescriptionSize - 1).c_str());
        }
        return kFtOk;
    });
}

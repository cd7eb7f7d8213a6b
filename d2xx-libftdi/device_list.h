// The device list: every channel of every recognised chip on the bus is one entry, as the D2XX
// interface lists them. Built afresh from libusb on each call that needs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ft_types.h"

struct libusb_context;
struct libusb_device;

namespace ftl {

struct ListedChannel {
    libusb_device* device = nullptr;  // referenced while the list holds it
    int interface = 0;                // 0 for channel A, 1 for B, ...
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint32_t type = kDeviceTypeUnknown;
    bool highSpeed = false;
    uint32_t location = 0;
    std::string description;
    std::string serial;
};

// A list that holds a reference to each entry's device until it goes.
class ChannelList {
  public:
    ChannelList() = default;
    ChannelList(ChannelList&& other) noexcept : channels(std::move(other.channels)) {}
    ChannelList& operator=(ChannelList&& other) noexcept;
    ChannelList(const ChannelList&) = delete;
    ChannelList& operator=(const ChannelList&) = delete;
    ~ChannelList();

    std::vector<ListedChannel> channels;
};

// The channels of every chip whose vendor and product ID are recognised; a status other than
// kFtOk when libusb cannot list the bus.
FtStatus ListChannels(libusb_context* usb, ChannelList& list);

// Recognises another vendor and product ID pair (FT_Reload); the blank chip's and the
// programmed cable's pairs are recognised from the start.
void AddRecognisedPair(uint16_t vendorId, uint16_t productId);

// The pieces of an entry, kept apart so that they are tested without a bus.
// Location: the bus number, then one hex digit per port of the path from the root, then the
// channel number counted from 1 (bus 2, port 1, channel A: 0x211).
uint32_t MakeLocation(uint8_t bus, const uint8_t* ports, int portCount, int interface);
// "Dual RS232" and channel A: "Dual RS232 A"; an empty serial number stays empty.
std::string ChannelDescription(const std::string& product, int interface);
std::string ChannelSerial(const std::string& serial, int interface);
// Device type and channel count from the chip's release number (bcdDevice).
uint32_t DeviceTypeOf(uint16_t bcdDevice);
int ChannelCountOf(uint16_t bcdDevice);

}  // namespace ftl

// The pieces of a device-list entry, and what libusb and libftdi1 failures become.
#include <gtest/gtest.h>
#include <libusb-1.0/libusb.h>

#include "device_list.h"
#include "status_map.h"

namespace ftl {
namespace {

TEST(DeviceListEntry, LocationIsBusPortPathAndChannel) {
    struct Row {
        uint8_t bus;
        std::vector<uint8_t> ports;
        int interface;
        uint32_t location;
    } rows[] = {
        {2, {1}, 0, 0x211},
        {2, {1}, 1, 0x212},
        {1, {3, 2}, 0, 0x1321},
        {3, {1, 4, 2}, 1, 0x31422},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MakeLocation(row.bus, row.ports.data(), static_cast<int>(row.ports.size()),
                               row.interface),
                  row.location);
    }
}

TEST(DeviceListEntry, ChannelsCarryTheirLetter) {
    EXPECT_EQ(ChannelDescription("Dual RS232", 0), "Dual RS232 A");
    EXPECT_EQ(ChannelDescription("ZV7300LNK", 1), "ZV7300LNK B");
    EXPECT_EQ(ChannelSerial("ZV000001", 0), "ZV000001A");
    EXPECT_EQ(ChannelSerial("ZV000001", 1), "ZV000001B");
    EXPECT_EQ(ChannelSerial("", 1), "") << "a blank chip has no serial number";
    EXPECT_EQ(DeviceTypeOf(0x0500), kDeviceType2232C);
    EXPECT_EQ(DeviceTypeOf(0x0700), kDeviceType2232H);
    EXPECT_EQ(ChannelCountOf(0x0500), 2);
    EXPECT_EQ(ChannelCountOf(0x0600), 1);
}

TEST(StatusMap, UsbFailuresByStep) {
    struct Row {
        int usb;
        Step step;
        FtStatus status;
    } rows[] = {
        {0, Step::kCall, kFtOk},
        {LIBUSB_ERROR_NO_DEVICE, Step::kOpen, kFtDeviceNotFound},
        {LIBUSB_ERROR_NO_DEVICE, Step::kCall, kFtIoError},
        {LIBUSB_ERROR_NO_DEVICE, Step::kEepromWrite, kFtIoError},
        {LIBUSB_ERROR_ACCESS, Step::kOpen, kFtDeviceNotOpened},
        {LIBUSB_ERROR_BUSY, Step::kOpen, kFtDeviceNotOpened},
        {LIBUSB_ERROR_PIPE, Step::kCall, kFtIoError},
        {LIBUSB_ERROR_PIPE, Step::kEepromRead, kFtEepromReadFailed},
        {LIBUSB_ERROR_TIMEOUT, Step::kEepromWrite, kFtEepromWriteFailed},
        {LIBUSB_ERROR_IO, Step::kEepromErase, kFtEepromEraseFailed},
        {LIBUSB_ERROR_NO_MEM, Step::kCall, kFtInsufficientResources},
        {LIBUSB_ERROR_NOT_SUPPORTED, Step::kCall, kFtNotSupported},
        {LIBUSB_ERROR_OTHER, Step::kCall, kFtOtherError},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StatusFromUsb(row.usb, row.step), row.status)
            << libusb_error_name(row.usb) << " step " << static_cast<int>(row.step);
    }
    EXPECT_EQ(StatusFromFtdi(-4, Step::kOpen), kFtDeviceNotOpened);
    EXPECT_EQ(StatusFromFtdi(-1, Step::kCall), kFtIoError);
    EXPECT_EQ(StatusFromFtdi(-1, Step::kEepromRead), kFtEepromReadFailed);
    EXPECT_EQ(StatusFromFtdi(3, Step::kCall), kFtOk);
}

}  // namespace
}  // namespace ftl

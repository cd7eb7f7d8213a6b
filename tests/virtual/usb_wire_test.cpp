// The USB face as a host's USB stack meets it, against the documents rather than the model's own
// tables: descriptor bytes in the USB 2.0 layout with the chip's values, the baud divisor's
// sub-integer codes as the chip maker's application note lists them, an idle IN transfer ended
// by the latency timer, and a handle that ends with its device's enumeration.
#include "usb/usb_api.h"
#include "vcable_clock.h"
#include "vcable_fixture.h"
#include "vcable_scenario.h"

using vtest::Bytes;

namespace {

constexpr uint8_t kVendorOut = 0x40, kVendorIn = 0xC0;
constexpr uint8_t kSetBaudRate = 0x03, kSetLatency = 0x09, kGetLatency = 0x0A;
constexpr uint16_t kChannelA = 1;  // the vendor requests' index of channel A

class UsbWireTest : public VcableTest {
  protected:
    void TearDown() override { Close(); }

    // Loads the scenario (none: the default one) and opens the first device of a fresh listing,
    // claiming nothing.
    void Open(const char* scenario = nullptr) {
        Close();
        char error[200] = {};
        if (scenario != nullptr) {
            ASSERT_EQ(vc_load_scenario_text(scenario, error, sizeof error), 0) << error;
        }
        libusb_device** list = nullptr;
        ASSERT_GE(libusb_get_device_list(nullptr, &list), 1);
        ASSERT_EQ(libusb_open(list[0], &handle_), 0);
        libusb_free_device_list(list, 1);
    }
    void Close() {
        libusb_close(handle_);
        handle_ = nullptr;
    }

    Bytes Descriptor(uint16_t value) {
        Bytes out(255);
        const int n = libusb_control_transfer(handle_, 0x80, LIBUSB_REQUEST_GET_DESCRIPTOR, value,
                                              0x0409, out.data(), 255, 0);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
    int Vendor(uint8_t request, uint16_t value, uint16_t index) {
        return libusb_control_transfer(handle_, kVendorOut, request, value, index, nullptr, 0, 0);
    }

    libusb_device_handle* handle_ = nullptr;
};

// USB 2.0 chapter 9: a configuration of 9 bytes, then per interface its 9 bytes and its
// endpoints' 7 each, wTotalLength counting them all and bMaxPower in 2 mA units; strings in
// UTF-16LE with bLength counting bytes. The chip: vendor-specific interfaces, one per channel,
// each with a bulk IN and OUT endpoint of 64 bytes, 90 mA unless the EEPROM says otherwise.
TEST_F(UsbWireTest, DescriptorsAreTheUsb2LayoutWithTheChipsValues) {
    const Bytes dual = {9, 2,  55, 0, 2, 1,    0,    0x80, 45,              //
                        9, 4,  0,  0, 2, 0xFF, 0xFF, 0xFF, 2,  7, 5, 0x81,  //
                        2, 64, 0,  0, 7, 5,    0x02, 2,    64, 0, 0,        //
                        9, 4,  1,  0, 2, 0xFF, 0xFF, 0xFF, 2,  7, 5, 0x83,  //
                        2, 64, 0,  0, 7, 5,    0x04, 2,    64, 0, 0};
    const char* blank = "[[device]]\ndescription = \"P\"\neeprom = \"blank\"\n";
    const char* single = "[[device]]\ntype = \"single\"\ndescription = \"S\"\nserial = \"S1\"\n";
    const struct {
        const char* what;
        const char* scenario;
        uint16_t value;
        Bytes bytes;
    } rows[] = {
        {"configuration", nullptr, 0x0200, dual},
        {"product string", nullptr, 0x0302, {20,  3, 'Z', 0, 'V', 0, '7', 0, '3', 0,
                                             '0', 0, '0', 0, 'L', 0, 'N', 0, 'K', 0}},
        {"blank EEPROM: configuration", blank, 0x0200, dual},
        {"single-channel chip: device",
         single,
         0x0100,
         {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x03, 0x04, 0x01, 0x60, 0x00, 0x04, 1, 2, 3, 1}},
        {"single-channel chip: configuration",
         single,
         0x0200,
         {9,    2, 32, 0, 1,    1, 0,  0x80, 45, 9, 4, 0,    0, 2,  0xFF, 0xFF,
          0xFF, 2, 7,  5, 0x81, 2, 64, 0,    0,  7, 5, 0x02, 2, 64, 0,    0}},
    };
    for (const auto& row : rows) {
        Open(row.scenario);
        EXPECT_BYTES_EQ(row.bytes, Descriptor(row.value)) << row.what;
    }
}

// The chip maker's application note on baud rates: the divisor is n + k/8 of the 3 MHz clock,
// the fraction's code in bits 15:14 of wValue and its high bit in bit 8 of wIndex (whose low byte
// names the channel); codes 0 to 7 are 0, 1/2, 1/4, 1/8, 3/8, 5/8, 3/4 and 7/8, and the divisors
// 0 and 1 mean 3 MBd and 2 MBd. The rates are 3 MHz / (100 + k/8), rounded.
TEST_F(UsbWireTest, BaudDivisorCodesAreTheApplicationNotes) {
    const struct {
        uint16_t value, index;
        uint32_t baud;
    } rows[] = {
        {0x0064, 0x0001, 30000},   {0x4064, 0x0001, 29851}, {0x8064, 0x0001, 29925},
        {0xC064, 0x0001, 29963},   {0x0064, 0x0101, 29888}, {0x4064, 0x0101, 29814},
        {0x8064, 0x0101, 29777},   {0xC064, 0x0101, 29740}, {0x0000, 0x0001, 3000000},
        {0x0001, 0x0001, 2000000},
    };
    Open();
    for (const auto& row : rows) {
        ASSERT_EQ(Vendor(kSetBaudRate, row.value, row.index), 0) << std::hex << row.value;
        VcChannelSettings s{};
        vc_channel_settings(0, 0, &s);
        EXPECT_EQ(s.baud_rate, row.baud) << std::hex << row.value << " " << row.index;
    }
}

// With the chip's packets, an IN transfer on an idle channel ends when the latency timer runs
// out, with the two status bytes alone, however long the host would wait; a host time-out
// shorter than the timer ends it first, and an asynchronous transfer reports it as a time-out.
TEST_F(UsbWireTest, AnIdleInTransferEndsAtTheLatencyTimer) {
    vc_set_reply_delivery(VC_DELIVERY_USB);
    Open();
    ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    ASSERT_EQ(Vendor(kSetLatency, 10, kChannelA), 0);
    VcClockReading before{}, after{};
    vc_clock_read(VC_SPEED_FULL, &before);
    uint8_t in[64];
    int done = 0;
    ASSERT_EQ(libusb_bulk_transfer(handle_, 0x81, in, sizeof in, &done, 1000), 0);
    vc_clock_read(VC_SPEED_FULL, &after);
    EXPECT_BYTES_EQ((Bytes{0x01, 0x60}), Bytes(in, in + done));
    EXPECT_LE(after.elapsed_ns - before.elapsed_ns, 11000000u) << "waited past the latency timer";

    libusb_transfer* t = libusb_alloc_transfer(0);
    t->dev_handle = handle_;
    t->endpoint = 0x81;
    t->type = LIBUSB_TRANSFER_TYPE_BULK;
    t->timeout = 2;
    t->buffer = in;
    t->length = sizeof in;
    ASSERT_EQ(libusb_submit_transfer(t), 0);
    libusb_handle_events(nullptr);
    EXPECT_EQ(t->status, LIBUSB_TRANSFER_TIMED_OUT);
    libusb_free_transfer(t);
}

// A handle belongs to one enumeration of its device: after an unplug and replug it fails with
// LIBUSB_ERROR_NO_DEVICE, also when it had claimed nothing; a new listing opens the device.
TEST_F(UsbWireTest, AReplugEndsAHandleThatClaimedNothing) {
    Open();
    ASSERT_EQ(vc_unplug(0), 0);
    ASSERT_EQ(vc_replug(0), 0);
    uint8_t latency = 0;
    EXPECT_EQ(
        libusb_control_transfer(handle_, kVendorIn, kGetLatency, 0, kChannelA, &latency, 1, 0),
        LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_claim_interface(handle_, 0), LIBUSB_ERROR_NO_DEVICE);
    Open();
    EXPECT_EQ(
        libusb_control_transfer(handle_, kVendorIn, kGetLatency, 0, kChannelA, &latency, 1, 0), 1);
}

}  // namespace

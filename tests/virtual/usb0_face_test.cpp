// The libusb-0.1 face: the bus and device records and how usb_find_devices keeps them across bus
// events, the descriptors inside them, transfers through the chip's USB side, and the errno
// values and texts of failing calls.
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "usb/usb_abi.h"
#include "usb0/usb0_api.h"
#include "vcable_fixture.h"

using vtest::Bytes;

namespace {

class Usb0FaceTest : public VcableTest {
  protected:
    void SetUp() override {
        VcableTest::SetUp();
        usb_init();
        usb_find_busses();
        usb_find_devices();
        ASSERT_NE(First(), nullptr);
        handle_ = usb_open(First());
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override { usb_close(handle_); }

    static UsbDeviceRecord* First() { return usb_get_busses()->devices; }

    int BulkOut(Bytes bytes) {
        return usb_bulk_write(handle_, 0x02, reinterpret_cast<const char*>(bytes.data()),
                              static_cast<int>(bytes.size()), 100);
    }
    Bytes BulkIn() {
        Bytes in(512);
        const int n = usb_bulk_read(handle_, 0x81, reinterpret_cast<char*>(in.data()), 512, 100);
        in.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return in;
    }

    usb_dev_handle* handle_ = nullptr;
};

TEST_F(Usb0FaceTest, RecordsHoldTheBusTheDeviceAndItsDescriptors) {
    const usb_bus* bus = usb_get_busses();
    EXPECT_EQ(bus, usb_busses);
    EXPECT_STREQ(bus->dirname, "001");
    EXPECT_EQ(bus->next, nullptr);
    const UsbDeviceRecord* dev = First();
    EXPECT_STREQ(dev->filename, "002");
    EXPECT_EQ(dev->devnum, 2);
    EXPECT_EQ(dev->bus, bus);
    EXPECT_EQ(dev->descriptor.idVendor, 0x0403);
    EXPECT_EQ(dev->descriptor.idProduct, 0x6010);
    EXPECT_EQ(dev->descriptor.bcdDevice, 0x0500);
    ASSERT_EQ(dev->descriptor.bNumConfigurations, 1);
    const usb_config_descriptor& config = dev->config[0];
    ASSERT_EQ(config.bNumInterfaces, 2);
    const uint8_t endpoints[2][2] = {{0x81, 0x02}, {0x83, 0x04}};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(config.interface[i].num_altsetting, 1);
        const usb_interface_descriptor& alt = config.interface[i].altsetting[0];
        EXPECT_EQ(alt.bInterfaceNumber, i);
        ASSERT_EQ(alt.bNumEndpoints, 2);
        for (int e = 0; e < 2; ++e) {
            EXPECT_EQ(alt.endpoint[e].bEndpointAddress, endpoints[i][e]);
            EXPECT_EQ(alt.endpoint[e].wMaxPacketSize, 64);
        }
    }
    EXPECT_EQ(usb_device(handle_), dev);
    // What libftdi's 0.x series reads of the handle: a descriptor select() takes.
    EXPECT_NE(fcntl(*reinterpret_cast<int*>(handle_), F_GETFD), -1);
}

TEST_F(Usb0FaceTest, FindingAgainCountsOnlyWhatChangedOnTheBus) {
    EXPECT_EQ(usb_find_busses(), 0);
    EXPECT_EQ(usb_find_devices(), 0);
    vc_unplug(0);
    EXPECT_EQ(usb_find_devices(), 1);
    EXPECT_EQ(First(), nullptr);
    char text[8];
    // The handle outlives its freed record: its calls fail without touching it.
    EXPECT_EQ(usb_bulk_read(handle_, 0x81, text, 8, 0), -ENODEV);
    EXPECT_EQ(usb_claim_interface(handle_, 0), -ENODEV);
    EXPECT_NE(std::string(usb_strerror()).find(std::strerror(ENODEV)), std::string::npos);
    vc_replug(0);
    EXPECT_EQ(usb_find_devices(), 1);
    ASSERT_NE(First(), nullptr);
    usb_dev_handle* again = usb_open(First());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(usb_claim_interface(again, 0), 0);
    usb_close(again);
}

TEST_F(Usb0FaceTest, TransfersReachTheChipThroughItsRequestsAndPackets) {
    ASSERT_EQ(usb_set_configuration(handle_, 1), 0);
    ASSERT_EQ(usb_claim_interface(handle_, 0), 0);
    char byte = 0;
    EXPECT_EQ(usb_control_msg(handle_, 0x40, 0x09, 7, 1, nullptr, 0, 100), 0);  // latency 7 ms
    EXPECT_EQ(usb_control_msg(handle_, 0xC0, 0x0A, 0, 1, &byte, 1, 100), 1);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(usb_control_msg(handle_, 0x40, 0x0B, 0x020B, 1, nullptr, 0, 100), 0);  // MPSSE
    // Loopback: a byte out on TDI comes back on TDO, after the two status bytes.
    EXPECT_EQ(BulkOut({0x84, 0x31, 0x00, 0x00, 0xA5, 0x87}), 6);
    EXPECT_BYTES_EQ(BulkIn(), (Bytes{0x01, 0x60, 0xA5}));
    // Bulk endpoints take the endpoint number with or without the direction bit.
    EXPECT_EQ(usb_bulk_write(handle_, 0x82, "\xAA", 1, 100), 1);
    EXPECT_EQ(usb_bulk_read(handle_, 0x01, &byte, 1, 100), -EOVERFLOW);
    EXPECT_BYTES_EQ(BulkIn(), (Bytes{0x01, 0x60, 0xFA, 0xAA}));

    char text[64];
    EXPECT_EQ(usb_get_string_simple(handle_, 2, text, sizeof text), 9);
    EXPECT_STREQ(text, "ZV7300LNK");
    EXPECT_EQ(usb_get_string_simple(handle_, 3, text, 4), 3);  // cut to the buffer
    EXPECT_STREQ(text, "ZV0");
    unsigned char device[18];
    EXPECT_EQ(usb_get_descriptor(handle_, 1, 0, device, sizeof device), 18);
    EXPECT_EQ(device[8] | device[9] << 8, 0x0403);
    EXPECT_EQ(usb_release_interface(handle_, 0), 0);
}

TEST_F(Usb0FaceTest, FailingCallsGiveTheErrnoValueAndText) {
    const struct {
        const char* call;
        std::function<int(usb_dev_handle*)> run;
        int result;
        uint32_t modelErrors;
    } rows[] = {
        {"claim a third interface", [](auto h) { return usb_claim_interface(h, 2); }, -ENOENT, 0},
        {"release an unclaimed one", [](auto h) { return usb_release_interface(h, 1); }, -EINVAL,
         0},
        {"alternate setting before a claim", [](auto h) { return usb_set_altinterface(h, 0); },
         -EINVAL, 0},
        {"a second configuration", [](auto h) { return usb_set_configuration(h, 2); }, -EINVAL, 0},
        {"no kernel driver bound",
         [](auto h) {
             char name[32];
             return usb_get_driver_np(h, 0, name, sizeof name);
         },
         -ENODATA, 0},
        {"detach none", [](auto h) { return usb_detach_kernel_driver_np(h, 1); }, -ENODATA, 0},
        {"an endpoint the chip lacks", [](auto h) { return usb_clear_halt(h, 0x85); }, -ENOENT, 0},
        {"a bulk read there", [](auto h) { return usb_bulk_read(h, 0x85, nullptr, 0, 0); }, -ENOENT,
         0},
        {"an interrupt transfer",
         [](auto h) {
             char b[8];
             return usb_interrupt_read(h, 0x81, b, 8, 0);
         },
         -EINVAL, 1},
        {"a control message too long",
         [](auto h) { return usb_control_msg(h, 0xC0, 0x0A, 0, 1, nullptr, 0x10000, 0); }, -EINVAL,
         0},
        {"a read the fault rule times out",
         [](auto h) {
             char b[64];
             vc_fault_fail_usb("FT_Read", 1, 4, LIBUSB_ERROR_TIMEOUT, 0);
             return usb_bulk_read(h, 0x81, b, 64, 100);
         },
         -ETIMEDOUT, 0},
        {"a configuration while an interface is claimed",
         [](auto h) {
             usb_claim_interface(h, 0);
             return usb_set_configuration(h, 1);
         },
         -EBUSY, 0},
    };
    for (const auto& row : rows) {
        const uint32_t errorsBefore = vc_model_error_count();
        errno = 0;
        EXPECT_EQ(row.run(handle_), row.result) << row.call;
        EXPECT_EQ(errno, -row.result) << row.call;
        EXPECT_NE(std::string(usb_strerror()).find(std::strerror(-row.result)), std::string::npos)
            << row.call << ": " << usb_strerror();
        EXPECT_EQ(vc_model_error_count() - errorsBefore, row.modelErrors) << row.call;
    }
    EXPECT_EQ(usb_claim_interface(handle_, 1), 0);
    EXPECT_EQ(usb_set_altinterface(handle_, 0), 0);
    EXPECT_EQ(usb_set_altinterface(handle_, 1), -EINVAL);
}

TEST(Usb0Descriptors, FieldsLandAtTheirNaturalAlignment) {
    unsigned char source[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    struct {
        uint8_t b;
        uint16_t w;
        uint8_t b2;
        uint32_t d;
    } out{};
    char layout[] = "bwbd";
    EXPECT_EQ(usb_parse_descriptor(source, layout, &out), 8);
    EXPECT_EQ(out.b, 1);
    EXPECT_EQ(out.w, 0x0302);
    EXPECT_EQ(out.b2, 4);
    EXPECT_EQ(out.d, 0x08070605u);
    // A configuration whose interface claims more interfaces than it declared is refused.
    unsigned char bad[] = {9, 2, 18, 0, 1, 1, 0, 0x80, 45, 9, 4, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    usb_config_descriptor config{};
    EXPECT_EQ(usb_parse_configuration(&config, bad), -EINVAL);
    std::free(config.interface);
}

}  // namespace

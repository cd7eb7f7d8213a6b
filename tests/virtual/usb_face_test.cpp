// The USB face (libusb-1.0 over the chip model): descriptors, the vendor control requests, IN
// packets with their status bytes, asynchronous transfers, faults and unplugging, and the same
// replies through both faces.
#include <algorithm>
#include <functional>
#include <random>

#include "usb/usb_api.h"
#include "vcable_clock.h"
#include "vcable_fixture.h"
#include "vcable_scenario.h"

using vtest::Bytes;

namespace {

constexpr uint8_t kOut = 0x40, kIn = 0xC0;

class UsbFaceTest : public VcableTest {
  protected:
    void SetUp() override {
        VcableTest::SetUp();
        Open();
    }
    void TearDown() override {
        libusb_close(handle_);
        libusb_exit(ctx_);
    }

    void Open() {
        ASSERT_EQ(libusb_init(&ctx_), 0);
        libusb_device** list = nullptr;
        ASSERT_GE(libusb_get_device_list(ctx_, &list), 1);
        ASSERT_EQ(libusb_open(list[0], &handle_), 0);
        libusb_free_device_list(list, 1);
        ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    }

    // Closes the host's side, loads the default scenario or `scenario`, and opens again.
    void Reopen(const char* scenario = nullptr) {
        libusb_close(handle_);
        libusb_exit(ctx_);
        handle_ = nullptr;
        VcableTest::SetUp();
        char error[200] = {};
        if (scenario != nullptr) {
            ASSERT_EQ(vc_load_scenario_text(scenario, error, 200), 0) << error;
        }
        Open();
    }

    static Bytes Descriptor(libusb_device_handle* h, uint16_t value) {
        Bytes out(255);
        int n = libusb_control_transfer(h, 0x80, LIBUSB_REQUEST_GET_DESCRIPTOR, value, kEnglishUs(),
                                        out.data(), 255, 0);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
    static uint16_t kEnglishUs() { return 0x0409; }

    int Control(uint8_t type, uint8_t request, uint16_t value, Bytes* in = nullptr) {
        uint8_t buffer[8] = {};
        int n = libusb_control_transfer(handle_, type, request, value, 1, buffer, in ? 2 : 0, 0);
        if (in != nullptr && n >= 0) in->assign(buffer, buffer + n);
        return n;
    }

    int BulkOut(Bytes bytes) {
        int done = 0;
        int e = libusb_bulk_transfer(handle_, 0x02, bytes.data(), static_cast<int>(bytes.size()),
                                     &done, 0);
        return e == 0 ? done : e;
    }

    Bytes BulkIn(int length) {
        Bytes in(static_cast<size_t>(length));
        int done = 0;
        EXPECT_EQ(libusb_bulk_transfer(handle_, 0x81, in.data(), length, &done, 0), 0);
        in.resize(static_cast<size_t>(done));
        return in;
    }

    // The data of IN transfers until `count` bytes came, each packet's status bytes checked.
    Bytes ReadData(size_t count) {
        Bytes data;
        for (int tries = 0; tries < 50 && data.size() < count; ++tries) {
            Bytes in = BulkIn(512);
            for (size_t at = 0; at < in.size(); at += 64) {
                EXPECT_EQ(in[at], 0x01);
                EXPECT_EQ(in[at + 1], 0x60);
                data.insert(data.end(), in.begin() + at + 2,
                            in.begin() + std::min(in.size(), at + 64));
            }
        }
        return data;
    }

    // Writes the 64 EEPROM words word by word, with the checksum in the last one made to match.
    void WriteEepromImage(uint16_t image[64]) {
        uint16_t sum = 0xAAAA;
        for (int i = 0; i < 63; ++i) {
            sum ^= image[i];
            sum = static_cast<uint16_t>((sum << 1) | (sum >> 15));
        }
        image[63] = sum;
        for (uint16_t i = 0; i < 64; ++i) {
            ASSERT_EQ(libusb_control_transfer(handle_, kOut, 0x91, image[i], i, nullptr, 0, 0), 0);
        }
    }

    void SelectMpsse() { ASSERT_EQ(Control(kOut, 0x0B, 0x0200 | 0x0B), 0); }

    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

VcChannelSettings SettingsA() {
    VcChannelSettings s{};
    vc_channel_settings(0, 0, &s);
    return s;
}

TEST_F(UsbFaceTest, DescriptorsShowTheDualChipAndItsEepromStrings) {
    libusb_device_descriptor d{};
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(handle_), &d), 0);
    EXPECT_EQ(d.idVendor, 0x0403);
    EXPECT_EQ(d.idProduct, 0x6010);
    EXPECT_EQ(d.bcdDevice, 0x0500);
    EXPECT_EQ(d.bMaxPacketSize0, 64);
    EXPECT_EQ(d.bNumConfigurations, 1);
    EXPECT_BYTES_EQ(Descriptor(handle_, 0x0100), (Bytes{18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x03, 0x04,
                                                        0x10, 0x60, 0x00, 0x05, 1, 2, 3, 1}));

    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_config_descriptor(libusb_get_device(handle_), 0, &config), 0);
    ASSERT_EQ(config->bNumInterfaces, 2);
    const uint8_t endpoints[2][2] = {{0x81, 0x02}, {0x83, 0x04}};
    for (int i = 0; i < 2; ++i) {
        const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
        ASSERT_EQ(alt.bNumEndpoints, 2);
        for (int e = 0; e < 2; ++e) {
            EXPECT_EQ(alt.endpoint[e].bEndpointAddress, endpoints[i][e]);
            EXPECT_EQ(alt.endpoint[e].bmAttributes, 2);  // bulk
            EXPECT_EQ(alt.endpoint[e].wMaxPacketSize, 64);
        }
    }
    EXPECT_EQ(Descriptor(handle_, 0x0200).size(), config->wTotalLength);
    libusb_free_config_descriptor(config);

    const struct {
        uint8_t index;
        const char* text;
    } strings[] = {{1, "Zelvorinex"}, {2, "ZV7300LNK"}, {3, "ZV000001"}};
    for (const auto& s : strings) {
        unsigned char text[64] = {};
        EXPECT_EQ(libusb_get_string_descriptor_ascii(handle_, s.index, text, sizeof text),
                  static_cast<int>(strlen(s.text)));
        EXPECT_STREQ(reinterpret_cast<char*>(text), s.text);
    }
    EXPECT_BYTES_EQ(Descriptor(handle_, 0x0300), (Bytes{4, 3, 0x09, 0x04}));
}

TEST_F(UsbFaceTest, IdentityFollowsTheScenarioAndABlankEeprom) {
    const struct {
        const char* scenario;
        uint16_t vendor, product;
        const char* product_string;
        bool serial;
    } rows[] = {
        {"[[device]]\ndescription = \"P\"\nserial = \"S1\"\nvendor_id = 0x1209\n"
         "product_id = 0x7301\n",
         0x1209, 0x7301, "P", true},
        {"[[device]]\ndescription = \"P\"\neeprom = \"blank\"\n", 0x0403, 0x6010, "Dual RS232",
         false},
    };
    for (const auto& row : rows) {
        Reopen(row.scenario);
        libusb_device_descriptor d{};
        ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(handle_), &d), 0);
        EXPECT_EQ(d.idVendor, row.vendor);
        EXPECT_EQ(d.idProduct, row.product);
        EXPECT_EQ(d.iSerialNumber != 0, row.serial);
        unsigned char text[64] = {};
        libusb_get_string_descriptor_ascii(handle_, 2, text, sizeof text);
        EXPECT_STREQ(reinterpret_cast<char*>(text), row.product_string);
    }
}

TEST_F(UsbFaceTest, VendorRequestsSetTheChannelAsTheVendorCallsDo) {
    const struct {
        const char* what;
        uint8_t request;
        uint16_t value;
        std::function<bool(const VcChannelSettings&)> holds;
    } rows[] = {
        {"latency 1, the chip's own minimum", 0x09, 1, [](auto& s) { return s.latency_ms == 1; }},
        {"latency", 0x09, 5, [](auto& s) { return s.latency_ms == 5; }},
        {"bit mode", 0x0B, 0x020B, [](auto& s) { return s.bit_mode == 2 && s.bit_mask == 0x0B; }},
        {"divisor 26: 115385 baud", 0x03, 0x001A, [](auto& s) { return s.baud_rate == 115385; }},
        {"divisor 26.5 (fraction code 1)", 0x03, 0x401A,
         [](auto& s) { return s.baud_rate == 113208; }},
        {"3 MBd", 0x03, 0x0000, [](auto& s) { return s.baud_rate == 3000000; }},
        {"7 bits, even parity, 2 stop bits", 0x04, 0x1207,
         [](auto& s) { return s.word_length == 7 && s.parity == 2 && s.stop_bits == 2; }},
        {"space parity, the last", 0x04, 0x0408, [](auto& s) { return s.parity == 4; }},
        {"DTR on", 0x01, 0x0101, [](auto& s) { return s.dtr == 1; }},
        {"DTR off", 0x01, 0x0100, [](auto& s) { return s.dtr == 0; }},
        {"flow control XON/XOFF", 0x02, 0x1311, [](auto& s) { return s.flow_control == 0; }},
        {"reset", 0x00, 0, [](auto& s) { return s.resets == 1; }},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Control(kOut, row.request, row.value), 0) << row.what;
        EXPECT_TRUE(row.holds(SettingsA())) << row.what;
    }
    // Flow control comes in the index's high byte.
    uint8_t none[1];
    EXPECT_EQ(libusb_control_transfer(handle_, kOut, 0x02, 0x1311, 0x0401, none, 0, 0), 0);
    EXPECT_EQ(SettingsA().flow_control, 0x0400);
    EXPECT_EQ(SettingsA().xon, 0x11);

    Bytes in;
    EXPECT_EQ(Control(kIn, 0x0A, 0, &in), 1);
    EXPECT_BYTES_EQ(in, Bytes{5});
    EXPECT_EQ(Control(kIn, 0x05, 0, &in), 2);
    EXPECT_BYTES_EQ(in, (Bytes{0x01, 0x60}));
    EXPECT_EQ(vc_model_error_count(), 0u);
}

TEST_F(UsbFaceTest, ValuesTheChipRefusesStallWithTheRuleTheyBreak) {
    const struct {
        const char* what;
        uint8_t request;
        uint16_t value, index;
        const char* rule;
    } rows[] = {
        {"reset value 3", 0x00, 3, 1, "1 or 2 (purges)"},
        {"modem control bit 2", 0x01, 0x0404, 1, "DTR (bit 0)"},
        {"two handshakes", 0x02, 0, 0x0301, "one at a time"},
        {"divisor 1 with a fraction", 0x03, 0x4001, 1, "take no fraction"},
        {"divisor bit 17", 0x03, 0x001A, 0x0201, "17 bits"},
        {"1.5 stop bits", 0x04, 0x0808, 1, "no 1.5"},
        {"9 data bits", 0x04, 0x0009, 1, "7 or 8 data bits"},
        {"parity 5", 0x04, 0x0508, 1, "mark or space"},
        {"data bit 15", 0x04, 0x8008, 1, "bit 15"},
        {"event character bit 9", 0x06, 0x0241, 1, "enable (bit 8)"},
        {"latency 0", 0x09, 0, 1, "1 to 255 ms"},
        {"latency 256", 0x09, 256, 1, "1 to 255 ms"},
        {"bit modes 0x01 and 0x02 at once", 0x0B, 0x0300, 1, "one at a time"},
        {"MPSSE on channel B", 0x0B, 0x0200, 2, "only channel A"},
        {"CBUS bit-bang", 0x0B, 0x2000, 1, "no such mode"},
        {"vendor request 0x42", 0x42, 0, 1, "not modelled"},
        {"latency on a channel C", 0x09, 5, 3, "names a channel"},
    };
    uint32_t errors = 0;
    for (const auto& row : rows) {
        EXPECT_EQ(libusb_control_transfer(handle_, kOut, row.request, row.value, row.index, nullptr,
                                          0, 0),
                  LIBUSB_ERROR_PIPE)
            << row.what;
        ASSERT_EQ(vc_model_error_count(), ++errors) << row.what;
        EXPECT_NE(std::string(vc_model_error(errors - 1)).find(row.rule), std::string::npos)
            << row.what << ": " << vc_model_error(errors - 1);
    }
}

TEST_F(UsbFaceTest, PurgesAreNamedFromTheChipsSide) {
    // Value 1 empties what came from the host, value 2 what waits for it.
    const uint8_t waiting[] = {1, 2, 3};
    ASSERT_EQ(vc_inject_rx(0, 0, waiting, 3), 0);
    EXPECT_EQ(Control(kOut, 0x00, 1), 0);
    EXPECT_EQ(vc_rx_pending(0, 0), 3u);
    EXPECT_EQ(Control(kOut, 0x00, 2), 0);
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
}

TEST_F(UsbFaceTest, EepromWordsReadWriteAndEraseTheModelsEeprom) {
    auto word = [&](uint16_t index) {
        uint8_t w[2] = {};
        EXPECT_EQ(libusb_control_transfer(handle_, kIn, 0x90, 0, index, w, 2, 0), 2);
        return static_cast<uint16_t>(w[0] | w[1] << 8);
    };
    uint16_t image[64];
    for (uint16_t i = 0; i < 64; ++i) image[i] = word(i);
    EXPECT_EQ(image[1], 0x0403);
    EXPECT_EQ(image[2], 0x6010);
    EXPECT_EQ(image[3], 0x0500);
    EXPECT_EQ(word(64 + 2), 0x6010) << "the 93C46 ignores higher address bits";

    // Erase, then write the image back with a new product ID and checksum: programmed again.
    ASSERT_EQ(libusb_control_transfer(handle_, kOut, 0x92, 0, 0, nullptr, 0, 0), 0);
    VcEepromView view{};
    vc_eeprom_view(0, &view);
    EXPECT_EQ(view.programmed, 0);
    EXPECT_EQ(word(2), 0xFFFF);
    image[2] = 0x6011;
    WriteEepromImage(image);
    vc_eeprom_view(0, &view);
    EXPECT_EQ(view.programmed, 1);
    EXPECT_EQ(view.product_id, 0x6011);
    EXPECT_STREQ(view.description, "ZV7300LNK");
    EXPECT_STREQ(view.serial_number, "ZV000001");
}

// The EEPROM requests run in the frames of the record calls (a word read as FT_EE_Read, a word
// write as FT_EE_Program, the erase as FT_EraseEE): the call log shows them with the word's
// address, and a fault rule on those calls fails the request, which then changes nothing. Words
// that form no valid image yet are the chip's until the model is reset.
TEST_F(UsbFaceTest, EepromRequestsAreLoggedMeetFaultRulesAndEndWithTheModel) {
    auto read = [&](uint16_t index, uint16_t* word) {
        uint8_t w[2] = {};
        const int n = libusb_control_transfer(handle_, kIn, 0x90, 0, index, w, 2, 0);
        *word = static_cast<uint16_t>(w[0] | w[1] << 8);
        return n;
    };
    auto write = [&](uint16_t index, uint16_t word) {
        return libusb_control_transfer(handle_, kOut, 0x91, word, index, nullptr, 0, 0);
    };
    uint16_t original = 0, word = 0;
    ASSERT_EQ(read(0x30, &original), 2);
    vc_log_clear();
    ASSERT_GE(vc_fault_fail_usb("FT_EE_Read", 1, vcable::kFtEepromReadFailed, LIBUSB_ERROR_PIPE, 0),
              0);
    ASSERT_GE(vc_fault_fail("FT_EE_Program", 1, vcable::kFtEepromWriteFailed, 0), 0);
    ASSERT_GE(vc_fault_fail("FT_EraseEE", 1, vcable::kFtEepromEraseFailed, 0), 0);
    EXPECT_EQ(read(0x30, &word), LIBUSB_ERROR_PIPE) << "a stall, as the rule asks";
    EXPECT_EQ(write(0x30, original ^ 0x5A5A), LIBUSB_ERROR_IO);
    EXPECT_EQ(libusb_control_transfer(handle_, kOut, 0x92, 0, 0, nullptr, 0, 0), LIBUSB_ERROR_IO);
    ASSERT_EQ(write(0x30 + 64, original ^ 0x5A5A), 0) << "the address wraps";
    ASSERT_EQ(read(0x30, &word), 2);
    EXPECT_EQ(word, original ^ 0x5A5A) << "only the write that passed took effect";
    VcEepromView view{};
    vc_eeprom_view(0, &view);
    EXPECT_EQ(view.programmed, 1) << "the failed erase left the EEPROM, the checksum the record";

    const char* entries[] = {"FT_EE_Read", "FT_EE_Program", "FT_EraseEE", "FT_EE_Program",
                             "FT_EE_Read"};
    ASSERT_EQ(vc_log_count(), 5u);
    for (uint32_t i = 0; i < 5; ++i) {
        VcCall call{};
        ASSERT_EQ(vc_log_get(i, &call), 0);
        EXPECT_STREQ(call.entry, entries[i]);
        EXPECT_EQ(call.faulted, i < 3 ? 1 : 0) << i;
        if (i == 2) continue;
        ASSERT_GE(call.arg_count, 1u);
        EXPECT_EQ(call.args[0], i == 3 ? 0x70u : 0x30u) << i;
    }
    VcCall last{};
    ASSERT_EQ(vc_log_get(4, &last), 0);
    EXPECT_EQ(last.transferred, 2u);

    // The user area written through the other face: the host's words give way to it.
    void* b = nullptr;
    ASSERT_EQ(FT_Open(1, &b), vcable::kFtOk);
    uint8_t area[64];
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(b, &size), vcable::kFtOk);
    std::fill_n(area, size, 0xC3);
    ASSERT_EQ(FT_EE_UAWrite(b, area, size), vcable::kFtOk);
    ASSERT_EQ(FT_Close(b), vcable::kFtOk);
    ASSERT_EQ(read(0x30, &word), 2);
    EXPECT_EQ(word, 0xC3C3);

    ASSERT_EQ(write(0x30, original ^ 0x5A5A), 0);
    Reopen();
    ASSERT_EQ(read(0x30, &word), 2);
    EXPECT_EQ(word, original) << "a reset of the model forgets the words hosts wrote";
}

TEST_F(UsbFaceTest, InPacketsCarryStatusBytesAndAtMost62DataBytes) {
    SelectMpsse();
    EXPECT_BYTES_EQ(BulkIn(64), (Bytes{0x01, 0x60})) << "nothing pending: status bytes alone";
    Bytes commands{0x84, 0x31, 199, 0};  // loopback, 200 bytes out and in
    for (int i = 0; i < 200; ++i) commands.push_back(static_cast<uint8_t>(i));
    ASSERT_EQ(BulkOut(commands), static_cast<int>(commands.size()));
    Bytes in = BulkIn(512);
    ASSERT_EQ(in.size(), 64u * 3 + 2 + 14);  // three full packets and a short one
    for (size_t at = 0; at < in.size(); at += 64) {
        EXPECT_EQ(in[at], 0x01);
        EXPECT_EQ(in[at + 1], 0x60);
    }
    EXPECT_EQ(in[64 + 2], 62);
    EXPECT_EQ(in.back(), 199);
    EXPECT_BYTES_EQ(BulkIn(64), (Bytes{0x01, 0x60}));
}

TEST_F(UsbFaceTest, WithUsbDeliveryAShortReplyWaitsForTheLatencyTimer) {
    vc_set_reply_delivery(VC_DELIVERY_USB);
    SelectMpsse();
    ASSERT_EQ(Control(kOut, 0x09, 10), 0);
    VcClockReading before{}, after{};
    vc_clock_read(VC_SPEED_FULL, &before);
    ASSERT_EQ(BulkOut({0x81}), 1);  // one pin byte, no send-immediate
    EXPECT_EQ(BulkIn(64).size(), 3u);
    vc_clock_read(VC_SPEED_FULL, &after);
    EXPECT_GT(after.elapsed_ns - before.elapsed_ns, 1000000u);
    EXPECT_LE(after.elapsed_ns - before.elapsed_ns, 12000000u);
    // A time-out shorter than the latency timer ends an idle transfer first.
    uint8_t in[64];
    int done = -1;
    EXPECT_EQ(libusb_bulk_transfer(handle_, 0x81, in, 64, &done, 2), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(done, 0);
}

struct Completion {
    int calls = 0;
    int done = 0;
    libusb_transfer_status status = LIBUSB_TRANSFER_ERROR;
    int length = -1;
};

void OnComplete(libusb_transfer* t) {
    auto* c = static_cast<Completion*>(t->user_data);
    ++c->calls;
    c->done = 1;
    c->status = t->status;
    c->length = t->actual_length;
}

libusb_transfer* Bulk(libusb_device_handle* h, uint8_t endpoint, uint8_t* buffer, int length,
                      Completion* c) {
    libusb_transfer* t = libusb_alloc_transfer(0);
    t->dev_handle = h;
    t->endpoint = endpoint;
    t->type = LIBUSB_TRANSFER_TYPE_BULK;
    t->buffer = buffer;
    t->length = length;
    t->callback = OnComplete;
    t->user_data = c;
    return t;
}

TEST_F(UsbFaceTest, AsynchronousTransfersCompleteInOrderOrCancelled) {
    SelectMpsse();
    uint8_t commands[] = {0x81, 0x87};
    uint8_t reply[64];
    Completion write, read, cancelled;
    libusb_transfer* w = Bulk(handle_, 0x02, commands, 2, &write);
    libusb_transfer* r = Bulk(handle_, 0x81, reply, 64, &read);
    libusb_transfer* c = Bulk(handle_, 0x81, reply, 64, &cancelled);
    ASSERT_EQ(libusb_submit_transfer(w), 0);
    ASSERT_EQ(libusb_submit_transfer(r), 0);
    ASSERT_EQ(libusb_submit_transfer(c), 0);
    EXPECT_EQ(libusb_submit_transfer(c), LIBUSB_ERROR_BUSY);
    ASSERT_EQ(libusb_cancel_transfer(c), 0);
    EXPECT_EQ(libusb_cancel_transfer(c), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(read.calls, 0) << "nothing runs before the host handles events";
    while (!read.done) ASSERT_EQ(libusb_handle_events_completed(ctx_, &read.done), 0);
    libusb_handle_events(ctx_);
    EXPECT_EQ(write.status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(write.length, 2);
    EXPECT_EQ(read.status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(read.length, 3);
    EXPECT_EQ(cancelled.status, LIBUSB_TRANSFER_CANCELLED);
    EXPECT_EQ(cancelled.calls, 1);
    for (libusb_transfer* t : {w, r, c}) libusb_free_transfer(t);
}

TEST_F(UsbFaceTest, FaultRulesAndUnplugReachTheUsbHost) {
    SelectMpsse();
    ASSERT_GE(vc_fault_fail_usb("FT_Write", 1, 4, LIBUSB_ERROR_TIMEOUT, 0), 0);
    EXPECT_EQ(BulkOut({0x81}), LIBUSB_ERROR_TIMEOUT);
    ASSERT_GE(vc_fault_fail_usb("FT_Read", 2, 4, LIBUSB_ERROR_PIPE, 0), 0);
    uint8_t in[64];
    Completion first, second;
    libusb_transfer* reads[] = {Bulk(handle_, 0x81, in, 64, &first),
                                Bulk(handle_, 0x81, in, 64, &second)};
    for (libusb_transfer* t : reads) ASSERT_EQ(libusb_submit_transfer(t), 0);
    libusb_handle_events(ctx_);
    EXPECT_EQ(first.status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(second.status, LIBUSB_TRANSFER_STALL) << "the second IN transfer failed";
    for (libusb_transfer* t : reads) libusb_free_transfer(t);
    ASSERT_GE(vc_fault_fail("FT_SetLatencyTimer", 1, 4, 0), 0);
    EXPECT_EQ(Control(kOut, 0x09, 8), LIBUSB_ERROR_IO);
    ASSERT_GE(vc_fault_short_write(2, 1), 0);  // the second FT_Write from the rule on
    EXPECT_EQ(BulkOut({0x81, 0x83}), 2);
    EXPECT_EQ(BulkOut({0x81, 0x83}), 1) << "cut short";
    EXPECT_EQ(libusb_interrupt_transfer(handle_, 0x81, nullptr, 0, nullptr, 0), LIBUSB_ERROR_IO);
    EXPECT_EQ(vc_model_error_count(), 1u);

    ASSERT_EQ(vc_unplug(0), 0);
    uint8_t buffer[64];
    int done = 0;
    int config = 0;
    EXPECT_EQ(libusb_bulk_transfer(handle_, 0x81, buffer, 64, &done, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(Control(kOut, 0x09, 8), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_get_configuration(handle_, &config), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_claim_interface(handle_, 1), LIBUSB_ERROR_NO_DEVICE);
    libusb_device** list = nullptr;
    EXPECT_EQ(libusb_get_device_list(ctx_, &list), 0) << "the device left the list";
    libusb_free_device_list(list, 1);
    ASSERT_EQ(vc_replug(0), 0);
    EXPECT_EQ(libusb_get_configuration(handle_, &config), LIBUSB_ERROR_NO_DEVICE)
        << "a handle stays dead after its device came back";
}

// A handle dies with its device's enumeration: after an unplug and replug, or a reset of the
// model, the old handle and the old listing give LIBUSB_ERROR_NO_DEVICE, as on a real bus, and a
// fresh listing opens the device again.
TEST_F(UsbFaceTest, HandlesOfAnEarlierEnumerationAreGone) {
    for (const bool replug : {true, false}) {
        Reopen();
        libusb_device** list = nullptr;
        ASSERT_EQ(libusb_get_device_list(ctx_, &list), 1);
        if (replug) {
            vc_unplug(0);
            vc_replug(0);
        } else {
            vc_reset();
        }
        int config = 0;
        libusb_device_handle* stale = nullptr;
        EXPECT_EQ(libusb_get_configuration(handle_, &config), LIBUSB_ERROR_NO_DEVICE);
        EXPECT_EQ(BulkOut({0x81}), LIBUSB_ERROR_NO_DEVICE);
        EXPECT_EQ(libusb_open(list[0], &stale), LIBUSB_ERROR_NO_DEVICE);
        libusb_free_device_list(list, 1);
        libusb_close(handle_);
        handle_ = nullptr;
        ASSERT_EQ(libusb_get_device_list(ctx_, &list), 1);
        EXPECT_EQ(libusb_open(list[0], &handle_), 0);
        libusb_free_device_list(list, 1);
        EXPECT_EQ(libusb_claim_interface(handle_, 0), 0);
        EXPECT_EQ(libusb_get_configuration(handle_, &config), 0);
    }
}

// A port reset enumerates the chip again from its EEPROM: with the same identity the handle
// carries on with its interfaces; after the EEPROM was programmed with a new product ID the
// device is a new one (LIBUSB_ERROR_NOT_FOUND, the handle gone) and a new listing shows it.
TEST_F(UsbFaceTest, AResetReEnumeratesFromTheEeprom) {
    SelectMpsse();
    ASSERT_EQ(libusb_reset_device(handle_), 0);
    EXPECT_EQ(BulkOut({0x81}), 1) << "the claimed interface survives a plain reset";
    EXPECT_EQ(ReadData(1).size(), 0u) << "the reset put the channel back in its reset mode";

    uint16_t image[64];
    for (uint16_t i = 0; i < 64; ++i) {
        uint8_t w[2] = {};
        ASSERT_EQ(libusb_control_transfer(handle_, kIn, 0x90, 0, i, w, 2, 0), 2);
        image[i] = static_cast<uint16_t>(w[0] | w[1] << 8);
    }
    image[2] = 0x6011;
    WriteEepromImage(image);
    libusb_device_descriptor d{};
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(handle_), &d), 0);
    EXPECT_EQ(d.idProduct, 0x6010) << "the new EEPROM counts from the next enumeration";
    EXPECT_EQ(libusb_reset_device(handle_), LIBUSB_ERROR_NOT_FOUND);
    int config = 0;
    EXPECT_EQ(libusb_get_configuration(handle_, &config), LIBUSB_ERROR_NO_DEVICE);
    libusb_device** list = nullptr;
    ASSERT_EQ(libusb_get_device_list(ctx_, &list), 1);
    ASSERT_EQ(libusb_get_device_descriptor(list[0], &d), 0);
    EXPECT_EQ(d.idProduct, 0x6011);
    libusb_free_device_list(list, 1);
}

// A random host stream of MPSSE commands: the USB face's packets, stripped of their status
// bytes, carry the same replies as the vendor face's reads.
Bytes RandomStream(std::mt19937& random) {
    Bytes stream{0x84, 0x86, 0x02, 0x00, 0x80, 0xFA, 0x0B};
    for (int i = 0; i < 40; ++i) {
        switch (random() % 7) {
            case 0:
                stream.insert(stream.end(), {0x81});
                break;
            case 1:
                stream.insert(stream.end(), {0x83});
                break;
            case 2:
                stream.insert(stream.end(), {0x3B, static_cast<uint8_t>(random() % 8),
                                             static_cast<uint8_t>(random())});
                break;
            case 3:
                stream.insert(stream.end(), {0x6B, static_cast<uint8_t>(random() % 7),
                                             static_cast<uint8_t>(random())});
                break;
            case 4:
                stream.push_back(0xAA);
                break;  // a bad command and its echo
            default: {
                const uint8_t n = static_cast<uint8_t>(random() % 150);
                stream.insert(stream.end(), {0x31, n, 0});
                for (int b = 0; b <= n; ++b) stream.push_back(static_cast<uint8_t>(random()));
            }
        }
    }
    return stream;
}

TEST_F(UsbFaceTest, ARandomStreamGivesTheSameRepliesThroughBothFaces) {
    std::mt19937 random(2208);
    for (int round = 0; round < 8; ++round) {
        const Bytes stream = RandomStream(random);
        libusb_release_interface(handle_, 0);
        void* h = nullptr;
        ASSERT_EQ(FT_Open(0, &h), vcable::kFtOk);
        ASSERT_EQ(FT_SetBitMode(h, 0x0B, 2), vcable::kFtOk);
        Write(h, stream);
        uint32_t queued = 0;
        ASSERT_EQ(FT_GetQueueStatus(h, &queued), vcable::kFtOk);
        Bytes viaD2xx(queued);
        uint32_t got = 0;
        ASSERT_EQ(FT_Read(h, viaD2xx.data(), queued, &got), vcable::kFtOk);
        ASSERT_EQ(FT_Close(h), vcable::kFtOk);

        Reopen();  // the same cable, fresh, on the other face
        SelectMpsse();
        ASSERT_EQ(BulkOut(stream), static_cast<int>(stream.size()));
        EXPECT_BYTES_EQ(ReadData(viaD2xx.size()), viaD2xx) << "round " << round;
        EXPECT_EQ(vc_rx_pending(0, 0), 0u);
        ASSERT_EQ(vc_model_error_count(), 0u);
        Reopen();
    }
}

}  // namespace

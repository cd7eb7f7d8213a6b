// The C control API over cable 0's engine and the targets it finds by type, and GPIO inputs on a
// poll schedule.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "chip/devices.h"
#include "mpsse_test_util.h"
#include "vcable_targets.h"

namespace {

using vtest::Bytes;
using vtest::Hex;
using vtest::Send;

class ControlTest : public ::testing::Test {
  protected:
    ControlTest() : port(*vcable::CableMpssePort(0)) {
        vc_targets_restore_default(0);
        Send(port, vtest::kOpenSequence);
    }
    ~ControlTest() override { vc_targets_restore_default(0); }

    vcable::MpssePort& port;
};

TEST_F(ControlTest, RefusesUnknownCablesMissingTargetsAndBadArguments) {
    uint32_t value = 0;
    uint8_t byte = 0;
    const vc_jtag_device tooShortIr = {1, 0x11, 0, 1, 32};
    struct Row {
        const char* name;
        std::function<int()> call;
        int expected;
    };
    const Row rows[] = {
        {"no cable 7", [&] { return vc_jtag_instruction(7, 0, &value); }, VC_E_NO_CABLE},
        {"no device 2", [&] { return vc_jtag_instruction(0, 2, &value); }, VC_E_ARGUMENT},
        {"null result", [] { return vc_jtag_user_register(0, 0, nullptr); }, VC_E_ARGUMENT},
        {"1-bit IR", [&] { return vc_jtag_set_chain(0, 1, &tooShortIr); }, VC_E_ARGUMENT},
        {"line 16", [] { return vc_gpio_set_input(0, 16, 0); }, VC_E_ARGUMENT},
        {"level 2", [] { return vc_gpio_schedule(0, 3, 2, 1); }, VC_E_ARGUMENT},
        {"past the end", [&] { return vc_flash_read(0, (1u << 20) - 1, &byte, 2); }, VC_E_ARGUMENT},
    };
    for (const Row& row : rows) EXPECT_EQ(row.expected, row.call()) << row.name;
    // Without a flash on the pins the flash functions say so; the other targets stay.
    vcable::TargetSetup noFlash;
    noFlash.flash.present = false;
    dynamic_cast<vcable::MpsseEngine&>(port).Reconfigure(noFlash);
    EXPECT_EQ(VC_E_NO_TARGET, vc_flash_size(0, &value));
    EXPECT_EQ(VC_E_NO_TARGET, vc_flash_status(0, &byte));
    EXPECT_EQ(2, vc_jtag_device_count(0));
}

TEST_F(ControlTest, ChainSetAndReadBack) {
    const uint8_t mark = 0x5A;
    ASSERT_EQ(VC_OK, vc_flash_write(0, 0, &mark, 1));
    const vc_jtag_device devices[] = {{4, 0x0000A001, 0x1, 0x3, 16}};
    ASSERT_EQ(VC_OK, vc_jtag_set_chain(0, 1, devices));
    EXPECT_EQ(1, vc_jtag_device_count(0));
    Send(port, vtest::ResetToIdle());
    Send(port, vtest::IdleToShiftDr());
    const Bytes reply = Send(port, vtest::ShiftOut(0, 32));
    EXPECT_EQ(0x0000A001u, vtest::ShiftIn(reply, 32));
    EXPECT_EQ(VC_TAP_EXIT1_DR, vc_jtag_tap_state(0, 0));
    EXPECT_STREQ("Exit1-DR", vc_jtag_tap_state_name(vc_jtag_tap_state(0, 0)));
    ASSERT_EQ(VC_OK, vc_jtag_set_user_register(0, 0, 0x1FFFF));
    uint64_t user = 0;
    ASSERT_EQ(VC_OK, vc_jtag_user_register(0, 0, &user));
    EXPECT_EQ(0xFFFFu, user);  // 16 bits long
    // A new chain leaves the other targets as they were.
    uint8_t back = 0;
    ASSERT_EQ(VC_OK, vc_flash_read(0, 0, &back, 1));
    EXPECT_EQ(mark, back);
}

// A device with a 100-bit register and a memory of three 12-bit words, beside one whose table has
// IDCODE only: the memory as bytes (two per word, the top four bits kept at 0), the wide register
// as the user register, and what each function refuses.
TEST_F(ControlTest, TableDevicesThroughTheApi) {
    vcable::JtagDeviceSetup wide;
    wide.instructions.resize(2);
    wide.instructions[0] = {1, vcable::JtagRegister::kData, 100, {}, false, {}};
    wide.instructions[1].opcode = 2;
    wide.instructions[1].reg = vcable::JtagRegister::kRead;
    wide.memory.words = 3;
    wide.memory.wordBits = 12;
    vcable::JtagDeviceSetup idcodeOnly;
    idcodeOnly.instructions.resize(1);
    idcodeOnly.instructions[0].reg = vcable::JtagRegister::kIdcode;
    vcable::TargetSetup setup;
    setup.jtag.devices = {wide, idcodeOnly};
    dynamic_cast<vcable::MpsseEngine&>(port).Reconfigure(setup);

    vc_jtag_memory info{};
    ASSERT_EQ(VC_OK, vc_jtag_memory_info(0, 0, &info));
    EXPECT_EQ(3u, info.words);
    const uint8_t word[] = {0x34, 0xF2};
    ASSERT_EQ(VC_OK, vc_jtag_memory_write(0, 0, 2, word, 2));
    Bytes image(6);
    ASSERT_EQ(VC_OK, vc_jtag_memory_read(0, 0, 0, image.data(), 6));
    EXPECT_EQ("FF 0F 34 02 FF 0F", Hex(image));

    ASSERT_EQ(VC_OK, vc_jtag_set_user_register(0, 0, ~0ull));
    Bytes value(13);
    uint32_t bits = 0;
    ASSERT_EQ(VC_OK, vc_jtag_data_register(0, 0, 1, value.data(), 13, &bits));
    EXPECT_EQ(100u, bits);
    EXPECT_EQ("FF FF FF FF FF FF FF FF 00 00 00 00 00", Hex(value));

    uint64_t user = 0;
    const std::pair<int, int> refusals[] = {
        {vc_jtag_memory_read(0, 0, 5, image.data(), 2), VC_E_ARGUMENT},
        {vc_jtag_memory_info(0, 1, &info), VC_E_NO_TARGET},
        {vc_jtag_data_register(0, 0, 2, value.data(), 13, nullptr), VC_E_ARGUMENT},
        {vc_jtag_data_register(0, 0, 1, value.data(), 12, nullptr), VC_E_ARGUMENT},
        {vc_jtag_user_register(0, 1, &user), VC_E_NO_TARGET},
    };
    for (size_t i = 0; i < std::size(refusals); ++i) {
        EXPECT_EQ(refusals[i].second, refusals[i].first) << "refusal " << i;
    }
}

TEST_F(ControlTest, FlashContentsThroughTheApiAndTheBus) {
    const uint8_t data[] = {0xDE, 0xAD};
    ASSERT_EQ(VC_OK, vc_flash_write(0, 0x400, data, 2));
    EXPECT_EQ("DE AD", Hex(Send(port, {0x80, 0xBA, 0xCB, 0x11, 0x03, 0x00, 0x03, 0x00, 0x04, 0x00,
                                       0x20, 0x01, 0x00, 0x80, 0xFA, 0xCB})));
    Send(port, {0x80, 0xBA, 0xCB, 0x11, 0x00, 0x00, 0x06, 0x80, 0xFA, 0xCB});
    uint8_t status = 0;
    ASSERT_EQ(VC_OK, vc_flash_status(0, &status));
    EXPECT_EQ(0x02, status);
    uint32_t size = 0;
    ASSERT_EQ(VC_OK, vc_flash_size(0, &size));
    EXPECT_EQ(1u << 20, size);
}

TEST_F(ControlTest, PinsAsTheTargetsSawThem) {
    uint16_t levels = 0;
    uint16_t directions = 0;
    ASSERT_EQ(VC_OK, vc_pins_get(0, &levels, &directions));
    EXPECT_EQ(0x00CB, directions);
    EXPECT_EQ(0xFFFE, levels);
    vc_gpio_set_input(0, 5, 0);  // GPIOL1 pulled low from outside
    vc_pins_get(0, &levels, nullptr);
    EXPECT_EQ(0xFFDE, levels);
    // An instantaneous pin read (FT_GetBitMode, the USB pin-read request) gives the low byte.
    EXPECT_EQ(0xDE, port.LowPinLevels());
    Send(port, {0x80, 0x00, 0xCB});  // every output low: only the inputs keep their levels
    EXPECT_EQ(Hex({static_cast<uint8_t>(levels & 0x34 & 0xFF)}), Hex({port.LowPinLevels()}));
}

TEST_F(ControlTest, GpioH1GoesLowAfterScheduledPolls) {
    ASSERT_EQ(VC_OK, vc_gpio_schedule(0, 9, 0, 3));
    ASSERT_EQ(VC_OK, vc_gpio_schedule(0, 9, -1, 5));
    const uint8_t expected[] = {0xFF, 0xFF, 0xFF, 0xFD, 0xFD, 0xFF};
    for (int polls = 0; polls < 6; ++polls) {
        EXPECT_EQ(Hex({expected[polls]}), Hex(Send(port, {0x83}))) << "after " << polls;
        Bytes rx;
        port.OnPoll(rx);
    }
}

TEST_F(ControlTest, ErrorsCountersAndTrace) {
    Send(port, {0xAA, 0x8E, 0x19, 0x00, 0x00, 0x55});
    EXPECT_EQ(2u, vc_mpsse_bad_command_count(0));
    EXPECT_EQ(1u, vc_mpsse_error_count(0));
    char text[16];
    ASSERT_EQ(VC_OK, vc_mpsse_last_error(0, text, sizeof text));
    EXPECT_EQ(15u, std::strlen(text));  // cut to the buffer
    EXPECT_EQ(5, vc_mpsse_divisor(0));
    EXPECT_EQ(8u, vc_mpsse_tck_cycles(0));
    EXPECT_EQ(8u * 12, vc_mpsse_base_clock_ticks(0));
    EXPECT_EQ(0, vc_mpsse_loopback(0));
    vc_mpsse_clear_errors(0);
    EXPECT_EQ(0u, vc_mpsse_error_count(0));

    std::vector<std::string> lines;
    auto collect = [](void* user, const char* line) {
        static_cast<std::vector<std::string>*>(user)->push_back(line);
    };
    ASSERT_EQ(VC_OK, vc_mpsse_set_trace(0, collect, &lines));
    Send(port, {0x84, 0x81});  // DO was left low by the last bit of 0x55
    ASSERT_EQ(VC_OK, vc_mpsse_set_trace(0, nullptr, nullptr));
    Send(port, {0x85});
    EXPECT_EQ((std::vector<std::string>{"0x84 loopback on", "0x81 read low byte reply=F8"}), lines);
}

}  // namespace

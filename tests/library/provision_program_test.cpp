// ProgramDevice on the virtual cable: the log it leaves, what the EEPROM then holds, the port
// cycles and re-enumeration, and every failing step's report.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "binding/d2xx.h"
#include "binding/program_data.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "log_directory.h"
#include "mpsse/stream.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

class ProvisionTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        logDirectory_.activate();
    }
    // One blank dual-channel chip and nothing else.
    static void AttachBlankCable() {
        vc_clear_devices();
        ASSERT_EQ(vc_add_cable("", "", 0), 0);
    }
    static size_t OneSecondPauses() { return std::count(Pauses().begin(), Pauses().end(), 1000u); }
    static std::string UserArea(uint32_t bytes) {
        std::string area(bytes, '\0');
        area.resize(vc_eeprom_user_area(0, reinterpret_cast<uint8_t*>(area.data()), bytes));
        return area;
    }
    LogDirectory logDirectory_;
};

TEST_F(ProvisionTest, ProgramsABlankCableWhichThenOpensUnderItsNewName) {
    AttachBlankCable();
    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV123456", u"Bench 4, lot 17"), rc::kProgramOk);

    // The user area is what the strings leave of the EEPROM's 48 shared words: 36 bytes.
    EXPECT_EQ(logDirectory_.log(), LogLines({"202", "203", "204", "205", "210", "Zelvorinex", "36",
                                             "Bench 4, lot 17", "Finish!!!"}));
    VcEepromView eeprom{};
    ASSERT_EQ(vc_eeprom_view(0, &eeprom), 0);
    EXPECT_STREQ(eeprom.description, "ZV7300LNK");
    EXPECT_STREQ(eeprom.serial_number, "ZV123456");
    EXPECT_STREQ(eeprom.manufacturer, "Zelvorinex");
    EXPECT_STREQ(eeprom.manufacturer_id, "ZV");
    EXPECT_EQ(eeprom.vendor_id, 0x1209);
    EXPECT_EQ(eeprom.product_id, 0x0002);
    EXPECT_EQ(eeprom.erases, 1u);
    EXPECT_EQ(eeprom.programs, 1u);
    auto writes = CallsOf("FT_EE_UAWrite");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args[0], 15u);  // the text without its NUL
    EXPECT_EQ(UserArea(16), std::string("Bench 4, lot 17\0", 16));
    EXPECT_EQ(CallsOf("FT_EE_UARead").at(0).args[0], 36u);  // as much as the chip reported

    // Bring-up at 1 MHz without touching the connection's stored divisor.
    EXPECT_BYTES((std::vector<uint8_t>{0xAA, 0x80, 0xFA, 0xCB, 0x85, 0x86, 0x05, 0x00}),
                 WrittenToChannelA());
    EXPECT_EQ(mpsse::Pins().clockDivisor, 0u);
    EXPECT_EQ(CallsOf("FT_CyclePort").size(), 2u);  // channel A, then channel B
    EXPECT_EQ(OneSecondPauses(), 1u);
    EXPECT_TRUE(MessageBoxes().empty());
    EXPECT_TRUE(connection::ConnectionOpen());

    // The cable re-enumerated under its EEPROM identity; the next open closes the stale handle.
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"ZV", 5), rc::kOpenOk);
    VcChannelSettings a{};
    vc_channel_settings(0, 0, &a);
    EXPECT_TRUE(a.open);
}

// The record's fields after the identity and the strings, as the chip holds them once programmed
// and as the vendor's read gives them back: bus powered at 44 mA with remote wake-up, serial
// number on, USB 1.1 in the 232B fields and 2.0 in the 2232 ones, every other option off.
TEST_F(ProvisionTest, PowerAndOptionsReadBackAsProgrammed) {
    AttachBlankCable();
    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV123456", u""), rc::kProgramOk);
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"ZV", 5), rc::kOpenOk);
    ReadBackRecord record;
    FtStatus status = kFtOk;
    ft::FT_EE_Read(&record.data, status);
    ASSERT_EQ(status, kFtOk);
    const FtProgramData& read = record.data;
    EXPECT_EQ(read.MaxPower, 44);
    EXPECT_EQ(read.PnP, 1);
    EXPECT_EQ(read.SelfPowered, 0);
    EXPECT_EQ(read.RemoteWakeup, 1);
    EXPECT_EQ(read.Rev4, 1);
    EXPECT_EQ(read.SerNumEnable, 1);
    EXPECT_EQ(read.USBVersion, 0x0110);
    EXPECT_EQ(read.USBVersion5, 0x0200);
    EXPECT_EQ(read.IsoIn + read.IsoOut + read.PullDownEnable + read.USBVersionEnable, 0);
    EXPECT_EQ(read.Rev5 + read.IsoInA + read.IsoInB + read.IsoOutA + read.IsoOutB +
                  read.PullDownEnable5 + read.SerNumEnable5 + read.USBVersionEnable5,
              0);
    // High current, the interface modes, the virtual COM port flags and the 232R fields: all 0.
    const auto* first = reinterpret_cast<const uint8_t*>(&read.AIsHighCurrent);
    const auto* end = reinterpret_cast<const uint8_t*>(&read.RIsD2XX) + 1;
    EXPECT_EQ(std::vector<uint8_t>(first, end), std::vector<uint8_t>(end - first, 0));
}

TEST_F(ProvisionTest, TextsAreCutToTheirCopiesAndWideCharactersBecomeQuestionMarks) {
    AttachBlankCable();
    std::u16string description = u"ZV\u0416" + std::u16string(70, u'd');
    std::u16string serial = u"S" + std::u16string(20, u'9');
    std::u16string text(80, u't');
    ASSERT_EQ(ProgramDevice(description.c_str(), serial.c_str(), text.c_str()), rc::kProgramOk);
    const VcCall program = CallsOf("FT_EE_Program").at(0);
    const std::string strings(reinterpret_cast<const char*>(program.data), program.data_length);
    EXPECT_EQ(strings, std::string("Zelvorinex\0ZV\0", 14) + "ZV?" + std::string(60, 'd') + '\0' +
                           "S" + std::string(14, '9') + '\0');
    // Strings this long do not fit the EEPROM beside each other: the chip refuses them.
    EXPECT_EQ(program.status, 12u);
    EXPECT_EQ(CallsOf("FT_EE_UAWrite").at(0).args[0], 63u);
}

TEST_F(ProvisionTest, UserTextLongerThanTheUserAreaStillFinishes) {
    AttachBlankCable();
    vc_set_user_area_size(0, 8);
    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"much longer than eight"), rc::kProgramOk);
    // The write was refused; the read delivered the chip's zeroed area, so an empty line.
    EXPECT_NE(CallsOf("FT_EE_UAWrite").at(0).status, 0u);
    EXPECT_EQ(logDirectory_.log(),
              LogLines({"202", "203", "204", "205", "210", "Zelvorinex", "8", "", "Finish!!!"}));
}

TEST_F(ProvisionTest, LoggedUserAreaTextFollowsWhatTheReadDelivered) {
    struct Row {
        const char* what;
        uint32_t userAreaSize;
        bool readFails;
        const char16_t* text;
        const char* logged;
    };
    const Row rows[] = {
        {"text fills the area, no NUL delivered", 4, false, u"abcd", "abcd"},
        {"read fails: the text that was to be written", 96, true, u"abcdefgh", "abcdefgh"},
        {"large area: size and buffer follow it", 300, false, u"abcdefgh", "abcdefgh"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vc_reset();
        AttachBlankCable();
        vc_set_user_area_size(0, row.userAreaSize);
        if (row.readFails) vc_fault_fail("FT_EE_UARead", 1, 4, 0);
        std::string before = logDirectory_.log();
        ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", row.text), rc::kProgramOk);
        std::string size = std::to_string(row.userAreaSize);
        EXPECT_EQ(logDirectory_.log(),
                  before + LogLines({"202", "203", "204", "205", "210", "Zelvorinex", size.c_str(),
                                     row.logged, "Finish!!!"}));
        CloseDevice();
    }
}

TEST_F(ProvisionTest, WaitsForACableThatComesBackLate) {
    // After its port cycle the cable stays away for three list creations.
    vc_set_cycle_absence(0, 3);
    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"x"), rc::kProgramOk);
    // Another device keeps the first list from being empty; it is gone by the fourth.
    ASSERT_EQ(vc_add_single("Other", "OT1"), 1);
    ASSERT_GE(vc_fault_unplug("FT_CreateDeviceInfoList", 4, 1), 0);
    Pauses().clear();
    ForgetTraffic();

    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV2", u"y"), rc::kProgramOk);
    EXPECT_EQ(OneSecondPauses(), 3u);  // attempts two and three saw no known description
    EXPECT_EQ(CallsOf("FT_CreateDeviceInfoList").size(), 4u);
    VcEepromView eeprom{};
    ASSERT_EQ(vc_eeprom_view(0, &eeprom), 0);
    EXPECT_STREQ(eeprom.serial_number, "ZV2");
}

TEST_F(ProvisionTest, UnknownDescriptionsAreWaitedOutForTenSeconds) {
    vc_clear_devices();
    ASSERT_EQ(vc_add_cable("Mystery", "M1", 1), 0);
    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"x"), rc::kProgramOk);
    EXPECT_EQ(OneSecondPauses(), 10u);
}

// The Linux vendor library cannot cycle a port: programming succeeds, but the cable goes on
// enumerating under its old identity until it is replugged.
TEST_F(ProvisionTest, OnLinuxTheNewIdentityWaitsForAReplug) {
    AttachBlankCable();
    ASSERT_EQ(vc_set_platform(VC_PLATFORM_LINUX), 0);
    ASSERT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV123456", u"x"), rc::kProgramOk);
    EXPECT_EQ(logDirectory_.log(),
              LogLines({"202", "203", "204", "205", "210", "Zelvorinex", "36", "x", "Finish!!!"}));
    auto cycles = CallsOf("FT_CyclePort");
    ASSERT_EQ(cycles.size(), 2u);
    for (const VcCall& cycle : cycles) EXPECT_EQ(cycle.status, 17u);  // not supported
    VcEepromView eeprom{};
    ASSERT_EQ(vc_eeprom_view(0, &eeprom), 0);
    EXPECT_STREQ(eeprom.description, "ZV7300LNK");

    // Channel A is still open from the bring-up, so listings give it no location: programming
    // again cannot open it.
    MessageBoxes().clear();
    EXPECT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV123456", u"x"), rc::kProgramOpenFailed);
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_EQ(MessageBoxes()[0],
              u"E11.08 The open for ZV7300LNK did not complete successfully. "
              u"Please unplug cable and re-try");
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenNoMatch);  // still "Dual RS232 A" / "B"
    ASSERT_EQ(vc_replug(0), 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
}

}  // namespace
}  // namespace kl::testing

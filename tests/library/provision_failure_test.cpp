// Every way ProgramDevice and Erase_ProgedEEPROM can fail, as rows: the fault, the result, and
// the message box or log line that tells the user.
#include <fstream>
#include <functional>
#include <string>

#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "log_directory.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

class ProvisionFailureTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        logDirectory_.activate();
    }
    std::string LastLogLine() const {
        std::string log = logDirectory_.log();
        if (log.size() < 2) return "";
        size_t start = log.rfind("\r\n", log.size() - 3);
        return log.substr(start == std::string::npos ? 0 : start + 2,
                          log.size() - (start == std::string::npos ? 0 : start + 2) - 2);
    }
    LogDirectory logDirectory_;
};

struct FailureRow {
    const char* what;
    std::function<void()> arrange;
    int result;
    const char16_t* messageBox;  // the last box shown, or null for none
    const char* logLine;         // the last log line, or null for no log
    bool leavesConnectionOpen;
};

void Fail(const char* entry, uint32_t nth) { ASSERT_GE(vc_fault_fail(entry, nth, 4, 0), 0); }

const uint8_t kStrayByte = 0x55;

const FailureRow kProgramFailures[] = {
    {"stale close",
     [] {
         ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
         Fail("FT_Close", 1);
     },
     rc::kProgramStaleCloseFailed, nullptr, "E100. Attempt to close ZV7300LNK failed.", false},
    {"rescan", [] { Fail("FT_Rescan", 1); }, rc::kProgramRescanFailed, nullptr, "199", false},
    {"no device", [] { vc_clear_devices(); }, rc::kProgramNoDevice,
     u"E11.01 No ZV7300LNK found. Please unplug cable and re-try", nullptr, false},
    {"list not created", [] { Fail("FT_CreateDeviceInfoList", 1); }, rc::kProgramNoDevice,
     u"E11.01 No ZV7300LNK found. Please unplug cable and re-try", nullptr, false},
    {"list not fetched", [] { Fail("FT_GetDeviceInfoList", 1); }, rc::kProgramListNotFetched,
     u"E11.03 No ZV7300LNK found. Please unplug cable and re-try", nullptr, false},
    {"gone during the wait", [] { vc_fault_unplug("FT_CreateDeviceInfoList", 2, 0); },
     rc::kProgramNoDeviceAfterWait, u"E11.04 It is not ZV7300LNK-USB board", nullptr, false},
    {"single-channel device",
     [] {
         vc_clear_devices();
         vc_add_single("ZV single", "S1");
     },
     rc::kProgramNotOnePair, u"E11.05 More than one ZV7300LNK-USB board detected", nullptr, false},
    {"two cables", [] { vc_add_cable("ZV7300LNK", "ZV000002", 1); }, rc::kProgramNotOnePair,
     u"E11.05 More than one ZV7300LNK-USB board detected", nullptr, false},
    {"21 list entries",
     [] {
         for (int i = 0; i < 10; ++i) vc_add_cable("ZV7300LNK", "ZVX", 1);
     },
     rc::kProgramTooManyDevices, u"E11.02 Too many device connected!", nullptr, false},
    {"channel A open", [] { Fail("FT_OpenEx", 1); }, rc::kProgramOpenFailed,
     u"E11.08 The open for ZV7300LNK did not complete successfully. Please unplug cable and "
     u"re-try",
     "203", false},
    {"channel B open", [] { Fail("FT_OpenEx", 2); }, rc::kProgramOpenFailed,
     u"E11.08 The open for ZV7300LNK did not complete successfully. Please unplug cable and "
     u"re-try",
     "203", false},
    {"reset", [] { Fail("FT_ResetDevice", 1); }, rc::kProgramNotOnePair, nullptr,
     "E105. ZV7300LNK cannot be reset.", false},
    {"first poll", [] { Fail("FT_GetQueueStatus", 1); }, rc::kProgramPollFailed, nullptr,
     "E106. Get USB Device QueuStatus command failed in procedure OpenDevice", false},
    {"latency timer", [] { Fail("FT_SetLatencyTimer", 1); }, rc::kProgramOpenFailed, nullptr,
     "E107. Set USB Device Latency Timer failed", true},
    {"bit mode reset", [] { Fail("FT_SetBitMode", 1); }, rc::kProgramBitModeFailed, nullptr,
     "E108. Device reset failed in procedure OpenDevice.", true},
    {"MPSSE mode", [] { Fail("FT_SetBitMode", 2); }, rc::kProgramMpsseModeFailed, nullptr,
     "E109. Set to MPSSE mode failed in procedure OpenDevice.", true},
    {"sync", [] { Fail("FT_Write", 1); }, rc::kProgramNoSync, nullptr,
     "E110. Unable to synchronise the MPSSE write/read cycle in procedure OpenDevice.", true},
    {"pin command", [] { Fail("FT_Write", 2); }, rc::kProgramPinCommandFailed, nullptr,
     "Write I/O error. Please unplug cable and re-try", true},
    {"clock divisor", [] { Fail("FT_Write", 3); }, rc::kProgramClockFailed, nullptr,
     "E11.12 Set CLock divisor fail. Please unplug cable and re-try", true},
    {"byte left after bring-up", [] { vc_fault_inject_rx("FT_Write", 3, 0, 0, &kStrayByte, 1); },
     rc::kProgramBytesAfterBringUp, nullptr,
     "Possible bad command detected in procedure OpenDevice.", true},
};

TEST_F(ProvisionFailureTest, ProgramDeviceReportsEachFailingStep) {
    for (const FailureRow& row : kProgramFailures) {
        SCOPED_TRACE(row.what);
        CloseDevice();
        vc_reset();
        MessageBoxes().clear();
        row.arrange();
        std::string before = logDirectory_.log();
        EXPECT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"text"), row.result);
        if (row.messageBox) {
            ASSERT_FALSE(MessageBoxes().empty());
            EXPECT_EQ(MessageBoxes().back(), row.messageBox);
        } else {
            EXPECT_TRUE(MessageBoxes().empty());
        }
        if (row.logLine) {
            EXPECT_EQ(LastLogLine(), row.logLine);
        } else {
            EXPECT_EQ(logDirectory_.log(), before);
        }
        EXPECT_EQ(connection::ConnectionOpen(), row.leavesConnectionOpen);
        VcEepromView eeprom{};
        vc_eeprom_view(0, &eeprom);
        EXPECT_EQ(eeprom.programs, 0u);
    }
}

// The bring-up's codes do not depend on how a step fails: an engine whose echo never comes gives
// the same 11 as a failed write of the 0xAA, and a stray reply byte after the clock command the
// same 12 whichever write it follows.
TEST_F(ProvisionFailureTest, BringUpCodesFollowTheStepNotTheFault) {
    struct Row {
        const char* what;
        std::function<void()> arrange;
        int result;
        const char* logLine;
    };
    const Row rows[] = {
        {"echo held back", [] { vc_fault_hold_rx("FT_Write", 1, 0, 0, 100); }, rc::kProgramNoSync,
         "E110. Unable to synchronise the MPSSE write/read cycle in procedure OpenDevice."},
        {"stray byte after the pin command",
         [] { vc_fault_inject_rx("FT_Write", 2, 0, 0, &kStrayByte, 1); },
         rc::kProgramBytesAfterBringUp, "Possible bad command detected in procedure OpenDevice."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloseDevice();
        vc_reset();
        row.arrange();
        EXPECT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"text"), row.result);
        EXPECT_EQ(LastLogLine(), row.logLine);
        VcEepromView eeprom{};
        vc_eeprom_view(0, &eeprom);
        EXPECT_EQ(eeprom.programs, 0u);
    }
}

TEST_F(ProvisionFailureTest, FailingEepromCallsStillFinish) {
    for (const char* entry : {"FT_EraseEE", "FT_EE_Program", "FT_EE_Read", "FT_EE_UASize",
                              "FT_EE_UAWrite", "FT_EE_UARead", "FT_CyclePort"}) {
        SCOPED_TRACE(entry);
        CloseDevice();
        vc_reset();
        Fail(entry, 1);
        EXPECT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"text"), rc::kProgramOk);
        EXPECT_EQ(LastLogLine(), "Finish!!!");
    }
}

TEST_F(ProvisionFailureTest, UnwritableLogDirectoryChangesNoResult) {
    std::string blocker = logDirectory_.path() + "/file";
    std::ofstream(blocker) << "x";
    directoryB(std::u16string(blocker.begin(), blocker.end()).c_str());
    EXPECT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"text"), rc::kProgramOk);
    CloseDevice();
    EXPECT_EQ(Erase_ProgedEEPROM(), rc::kProgramOk);
    Fail("FT_Rescan", 1);
    EXPECT_EQ(ProgramDevice(u"ZV7300LNK", u"ZV1", u"text"), rc::kProgramRescanFailed);
    EXPECT_FALSE(logDirectory_.logExists());
}

// ---- Erase_ProgedEEPROM ----------------------------------------------------------------------

TEST_F(ProvisionFailureTest, EraseReturnsAProgrammedCableToBlank) {
    ASSERT_EQ(Erase_ProgedEEPROM(), rc::kProgramOk);
    ASSERT_EQ(MessageBoxes().size(), 2u);
    EXPECT_EQ(MessageBoxes()[0], u"ZV7300LNK A");
    EXPECT_EQ(MessageBoxes()[1], u"201.1");
    EXPECT_EQ(logDirectory_.log(), LogLines({"202", "203", "204", "Finish!!!"}));
    EXPECT_FALSE(connection::ConnectionOpen());
    EXPECT_EQ(CallsOf("FT_CyclePort").size(), 2u);
    EXPECT_EQ(CallsOf("FT_SetBitMode").size(), 0u);  // no bring-up

    // Listed again as a blank chip, and its next erase starts from that.
    MessageBoxes().clear();
    ASSERT_EQ(Erase_ProgedEEPROM(), rc::kProgramOk);
    ASSERT_EQ(MessageBoxes().size(), 2u);
    EXPECT_EQ(MessageBoxes()[0], u"Dual RS232 A");
    EXPECT_EQ(MessageBoxes()[1], u"201.1");
    VcEepromView eeprom{};
    ASSERT_EQ(vc_eeprom_view(0, &eeprom), 0);
    EXPECT_FALSE(eeprom.programmed);
}

TEST_F(ProvisionFailureTest, EraseFailures) {
    struct Row {
        const char* what;
        const char* entry;
        int result;
        const char* logLine;
    };
    const Row rows[] = {
        {"reset", "FT_ResetDevice", rc::kProgramNotOnePair, "E105. ZV7300LNK cannot be reset."},
        {"erase itself", "FT_EraseEE", rc::kProgramOk, "Finish!!!"},
        {"rescan", "FT_Rescan", rc::kProgramRescanFailed, "199"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloseDevice();
        vc_reset();
        Fail(row.entry, 1);
        EXPECT_EQ(Erase_ProgedEEPROM(), row.result);
        EXPECT_EQ(LastLogLine(), row.logLine);
    }
    // Without a known description the wait runs out: every attempt shows it, no "201.1".
    CloseDevice();
    vc_reset();
    vc_clear_devices();
    vc_add_cable("Mystery", "M1", 1);
    MessageBoxes().clear();
    EXPECT_EQ(Erase_ProgedEEPROM(), rc::kProgramOk);
    EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>(10, u"Mystery A"));
}

}  // namespace
}  // namespace kl::testing

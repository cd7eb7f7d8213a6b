// The UART opens against the virtual cable: the calls each makes on both channels, the result and
// message of every failing step, and how the channels are paired.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "vcable.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

constexpr uint32_t kIoError = 4;

// A call as "FT_SetBaudRate B 115200": entry, channel of the handle (or of the opened location),
// then the numeric arguments.
std::vector<std::string> OpenCalls() {
    VcChannelSettings a{}, b{};
    vc_channel_settings(0, 0, &a);
    vc_channel_settings(0, 1, &b);
    std::vector<std::string> calls;
    for (uint32_t i = 0; i < vc_log_count(); ++i) {
        VcCall call{};
        vc_log_get(i, &call);
        std::string line = call.entry;
        uint32_t first = 0;
        if (line == "FT_OpenEx") {
            line += call.args[0] == a.location ? " A" : call.args[0] == b.location ? " B" : " ?";
            first = 1;
        } else if (call.handle) {
            line += call.handle == a.handle ? " A" : call.handle == b.handle ? " B" : " ?";
        }
        for (uint32_t n = first; n < call.arg_count; ++n)
            line += " " + std::to_string(call.args[n]);
        calls.push_back(line);
    }
    return calls;
}

std::vector<std::string> ExpectedOpenCalls(uint32_t baud) {
    std::vector<std::string> calls = {"FT_Rescan", "FT_CreateDeviceInfoList",
                                      "FT_GetDeviceInfoList"};
    for (std::string ch : {" A", " B"}) {
        calls.insert(
            calls.end(),
            {"FT_OpenEx" + ch + " 4", "FT_ResetDevice" + ch, "FT_GetQueueStatus" + ch,
             "FT_SetLatencyTimer" + ch + " 2", "FT_SetBitMode" + ch + " 0 0",
             "FT_SetBaudRate" + ch + " " + std::to_string(baud),
             "FT_SetDataCharacteristics" + ch + " 8 0 0", "FT_SetFlowControl" + ch + " 0 0 0"});
    }
    return calls;
}

void ExpectChannelBCurrentAndOpen() {
    VcChannelSettings b{};
    ASSERT_EQ(vc_channel_settings(0, 1, &b), 0);
    EXPECT_EQ(binding::CurrentHandle(), b.handle);
    EXPECT_TRUE(connection::ConnectionOpen());
    for (int ch : {0, 1}) {
        VcChannelSettings s{};
        vc_channel_settings(0, ch, &s);
        EXPECT_EQ(s.open, 1);
        EXPECT_EQ(s.bit_mode, 0);
        EXPECT_EQ(s.latency_ms, 2);
        EXPECT_EQ(s.word_length, 8);
        EXPECT_EQ(s.stop_bits, 0);
        EXPECT_EQ(s.parity, 0);
        EXPECT_EQ(s.flow_control, 0);
    }
}

using UartOpenTest = LibraryTest;

// A fresh default cable and no connection: a failed open may leave a channel open that no close
// would find, and the cable refuses to open a channel twice.
void FreshCable() { StartClean(); }

TEST_F(UartOpenTest, EachOpenSetsBothChannelsUpAsSerialPortsAndEndsOnChannelB) {
    struct Case {
        const char* name;
        int (*open)();
        uint32_t baud;
    };
    const Case cases[] = {
        {"OpenDevice2", [] { return OpenDevice2(); }, 9600},
        {"OpenDevice3 115200", [] { return OpenDevice3(115200); }, 115200},
        {"OpenDevice3 2400", [] { return OpenDevice3(2400); }, 2400},
        {"OpenDevice4", [] { return OpenDevice4(u"ZV7300LNK", u"", 57600); }, 57600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCable();
        ASSERT_EQ(c.open(), rc::kUartOpenOk);
        EXPECT_EQ(OpenCalls(), ExpectedOpenCalls(c.baud));
        ExpectChannelBCurrentAndOpen();
        EXPECT_TRUE(MessageBoxes().empty());
    }
}

// One row per failing step, with the call to fail and what each open returns and shows.
struct FailureRow {
    const char* entry;
    uint32_t nth;
    int code;  // of OpenDevice2 and OpenDevice3, which share their codes
    int code4;
    const char16_t* text2;
    const char16_t* text3;
};

constexpr const char16_t* kQueueText =
    u"E11.06 Get USB Device QueuStatus command failed in procedure OpenDevice. Please unplug cable "
    u"and re-try";
constexpr const char16_t* kLatencyText =
    u"E11.07 Set USB Device Latency Timer failed. Please unplug cable and re-try";
constexpr const char16_t* kBitModeText =
    u"E11.08 Device reset failed in procedure OpenDevice. Please unplug cable and re-try";
constexpr const char16_t* kBaudText =
    u"E11.08 Set Baud Rate failed. Please unplug cable and re-try";
constexpr const char16_t* kDataText =
    u"E11.08 Set Data Characteristics failed. Please unplug cable and re-try";
constexpr const char16_t* kFlowText =
    u"E11.08 Set Flow Control failed. Please unplug cable and re-try";
constexpr const char16_t* kReset2 =
    u"E11.05 ZV7300LNK cannot be reset. Please unplug cable and re-try";
constexpr const char16_t* kReset3 =
    u"E11.05 Flashing Leash cannot be reset. Please unplug cable and re-try";

const FailureRow kFailureRows[] = {
    {"FT_Rescan", 1, rc::kUartOpenRescanFailed, rc::kOpen4RescanFailed, nullptr,
     u"FT_Rescan failed"},
    {"FT_CreateDeviceInfoList", 1, rc::kUartOpenNoDevice, rc::kOpen4NoDevice,
     u"E11.01 No ZV7300LNK found. Please unplug cable and re-try",
     u"E11.01 No Flashing Leash found. Please unplug cable and re-try"},
    {"FT_GetDeviceInfoList", 1, rc::kUartOpenListNotFetched, rc::kOpen4ListNotFetched,
     u"E11.02 No ZV7300LNK found. Please unplug cable and re-try",
     u"E11.02 No Flashing Leash found. Please unplug cable and re-try"},
    {"FT_OpenEx", 1, rc::kUartOpenNoMatch, rc::kOpen4ChannelAFailed,
     u"E11.04 The open for ZV7300LNK did not complete successfully. Please unplug cable and "
     u"re-try",
     u"E11.04 The open for Flashing Leash did not complete successfully. Please unplug cable and "
     u"re-try"},
    {"FT_ResetDevice", 1, rc::kUartOpenNotOnePair, rc::kOpen4ChannelAResetFailed, kReset2, kReset3},
    {"FT_GetQueueStatus", 1, rc::kUartOpenPollFailed, rc::kOpen4ChannelAPollFailed, kQueueText,
     kQueueText},
    {"FT_SetLatencyTimer", 1, rc::kUartOpenChannelBFailed, rc::kOpen4ChannelALatencyFailed,
     kLatencyText, kLatencyText},
    {"FT_SetBitMode", 1, rc::kUartOpenBitModeFailed, rc::kOpen4ChannelABitModeFailed, kBitModeText,
     kBitModeText},
    {"FT_SetBaudRate", 1, rc::kUartOpenBaudFailed, rc::kOpen4ChannelABaudFailed, kBaudText,
     kBaudText},
    {"FT_SetDataCharacteristics", 1, rc::kUartOpenDataFailed, rc::kOpen4ChannelADataFailed,
     kDataText, kDataText},
    {"FT_SetFlowControl", 1, rc::kUartOpenFlowFailed, rc::kOpen4ChannelAFlowFailed, kFlowText,
     kFlowText},
    {"FT_OpenEx", 2, rc::kUartOpenChannelBFailed, rc::kOpen4ChannelBFailed,
     u"E11.06 The open for ZV7300LNK did not complete successfully. Please unplug cable and "
     u"re-try",
     u"E11.06 The open for Flashing Leash did not complete successfully. Please unplug cable and "
     u"re-try"},
    {"FT_ResetDevice", 2, rc::kUartOpenNotOnePair, rc::kOpen4ChannelBResetFailed, kReset2, kReset3},
    {"FT_GetQueueStatus", 2, rc::kUartOpenPollFailed, rc::kOpen4TooManyOrChannelBPollFailed,
     kQueueText, kQueueText},
    {"FT_SetLatencyTimer", 2, rc::kUartOpenChannelBFailed, rc::kOpen4ChannelBLatencyFailed,
     kLatencyText, kLatencyText},
    {"FT_SetBitMode", 2, rc::kUartOpenBitModeFailed, rc::kOpen4ChannelBBitModeFailed, kBitModeText,
     kBitModeText},
    {"FT_SetBaudRate", 2, rc::kUartOpenBaudFailed, rc::kOpen4ChannelBBaudFailed, kBaudText,
     kBaudText},
    {"FT_SetDataCharacteristics", 2, rc::kUartOpenDataFailed, rc::kOpen4ChannelBDataFailed,
     kDataText, kDataText},
    {"FT_SetFlowControl", 2, rc::kUartOpenFlowFailed, rc::kOpen4ChannelBFlowFailed, kFlowText,
     kFlowText},
};

TEST_F(UartOpenTest, EveryFailingStepGivesItsCodeAndMessage) {
    for (const FailureRow& row : kFailureRows) {
        for (int open : {2, 3, 4}) {
            SCOPED_TRACE(std::string(row.entry) + " #" + std::to_string(row.nth) +
                         " in OpenDevice" + std::to_string(open));
            FreshCable();
            vc_fault_fail(row.entry, row.nth, kIoError, 0);
            int code = open == 2   ? OpenDevice2()
                       : open == 3 ? OpenDevice3(9600)
                                   : OpenDevice4(u"", u"", 9600);
            EXPECT_EQ(code, open == 4 ? row.code4 : row.code);
            const char16_t* text = open == 2 ? row.text2 : open == 3 ? row.text3 : nullptr;
            if (text) {
                EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>{text});
            } else {
                EXPECT_TRUE(MessageBoxes().empty());
            }
        }
    }
}

TEST_F(UartOpenTest, FailedCloseOfTheStillOpenConnectionGivesOne) {
    const std::pair<int (*)(), const char16_t*> opens[] = {
        {[] { return OpenDevice2(); },
         u"E11.00 Attempt to close ZV7300LNK failed. Please unplug cable and re-try"},
        {[] { return OpenDevice3(9600); },
         u"E11.00 Attempt to close Flashing Leash failed. Please unplug cable and re-try"},
        {[] { return OpenDevice4(u"", u"", 9600); }, nullptr},
    };
    for (const auto& [open, text] : opens) {
        FreshCable();
        ASSERT_EQ(OpenDevice2(), rc::kUartOpenOk);
        vc_fault_fail("FT_Close", 1, kIoError, 0);
        EXPECT_EQ(open(), rc::kUartOpenStaleCloseFailed);
        EXPECT_FALSE(connection::ConnectionOpen());
        if (text) {
            EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>{text});
        } else {
            EXPECT_TRUE(MessageBoxes().empty());
        }
    }
}

TEST_F(UartOpenTest, ChannelAFailureAfterThePollLeavesTheConnectionOpenOnChannelA) {
    vc_fault_fail("FT_SetBaudRate", 1, kIoError, 0);
    EXPECT_EQ(OpenDevice4(u"ZV7300LNK", u"", 9600), rc::kOpen4ChannelABaudFailed);
    VcChannelSettings a{}, b{};
    vc_channel_settings(0, 0, &a);
    vc_channel_settings(0, 1, &b);
    EXPECT_TRUE(connection::ConnectionOpen());
    EXPECT_EQ(binding::CurrentHandle(), a.handle);
    EXPECT_EQ(b.open, 0);
}

TEST_F(UartOpenTest, ABaudRateTheVendorLibraryRejectsFailsAtTheBaudRateStep) {
    EXPECT_EQ(OpenDevice3(0), rc::kUartOpenBaudFailed);
    EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>{kBaudText});
    FreshCable();
    EXPECT_EQ(OpenDevice4(u"", u"", 0), rc::kOpen4ChannelABaudFailed);
    const std::vector<VcCall> calls = CallsOf("FT_SetBaudRate");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].status, 7u);
}

// Which devices the name-matching opens accept: whole descriptions of their own entries only.
TEST_F(UartOpenTest, NameMatchingTakesWholeDescriptionsOfOneChannelOfEachKind) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, bool>> devices;  // description, cable (else single)
        int code2;
        int code3;
    };
    const Case cases[] = {
        {"ZV7300LNK and StudyBenchUnit cables",
         {{"ZV7300LNK", true}, {"StudyBenchUnit", true}},
         rc::kUartOpenNotOnePair,
         rc::kUartOpenOk},
        {"ZV7300LNK and FlashingLeash cables",
         {{"ZV7300LNK", true}, {"FlashingLeash", true}},
         rc::kUartOpenOk,
         rc::kUartOpenNotOnePair},
        {"StudyBenchUnit cable", {{"StudyBenchUnit", true}}, rc::kUartOpenOk, rc::kUartOpenNoMatch},
        {"FlashingLeash cable", {{"FlashingLeash", true}}, rc::kUartOpenNoMatch, rc::kUartOpenOk},
        {"other boards of the table",
         {{"ZV7300LNK-USB", true}, {"ZV7300QRB-USB", true}},
         rc::kUartOpenNoMatch,
         rc::kUartOpenNoMatch},
        {"lower case", {{"zv7300lnk", true}}, rc::kUartOpenNoMatch, rc::kUartOpenNoMatch},
        {"further characters",
         {{"ZV7300LNK A2", false}, {"ZV7300LNK B", false}},
         rc::kUartOpenNotOnePair,
         rc::kUartOpenNotOnePair},
        {"two channel-A names",
         {{"ZV7300LNK A", false}, {"StudyBenchUnit A", false}},
         rc::kUartOpenNotOnePair,
         rc::kUartOpenNotOnePair},
        {"two channel-B names",
         {{"ZV7300LNK B", false}, {"FlashingLeash B", false}},
         rc::kUartOpenNotOnePair,
         rc::kUartOpenNotOnePair},
    };
    for (const Case& c : cases) {
        for (int open : {2, 3}) {
            SCOPED_TRACE(std::string(c.name) + " in OpenDevice" + std::to_string(open));
            FreshCable();
            vc_clear_devices();
            for (const auto& [description, cable] : c.devices) {
                if (cable) {
                    vc_add_cable(description, "KL1", 1);
                } else {
                    vc_add_single(description, "KL1");
                }
            }
            int expected = open == 2 ? c.code2 : c.code3;
            EXPECT_EQ(open == 2 ? OpenDevice2() : OpenDevice3(9600), expected);
            std::u16string text =
                expected == rc::kUartOpenNotOnePair
                    ? (open == 2 ? u"E11.04 More than one ZV7300LNK-USB board detected"
                                 : u"E11.04 More than one Flashing Leash detected")
                : expected == rc::kUartOpenNoMatch
                    ? (open == 2 ? u"E11.03 It is not ZV7300LNK-USB board"
                                 : u"E11.03 It is not Flashing Leash")
                    : u"";
            if (expected == rc::kUartOpenOk) {
                EXPECT_TRUE(MessageBoxes().empty());
            } else {
                EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>{text});
            }
        }
    }
}

TEST_F(UartOpenTest, NamePairingFollowsTheNamesNotTheListOrder) {
    vc_clear_devices();
    vc_add_single("ZV7300LNK B", "KL1B");
    vc_add_single("ZV7300LNK A", "KL1A");
    ASSERT_EQ(OpenDevice2(), rc::kUartOpenOk);
    VcChannelSettings listedFirst{};
    vc_channel_settings(0, 0, &listedFirst);
    EXPECT_EQ(binding::CurrentHandle(), listedFirst.handle);
}

TEST_F(UartOpenTest, SubstringPairingOfOpenDevice4) {
    struct Case {
        const char* name;
        int cables;
        const char16_t* description;
        int code;
    };
    const Case cases[] = {
        {"empty parts, one cable", 1, u"", rc::kOpen4Ok},
        {"channel A only", 1, u"ZV7300LNK A", rc::kOpen4NotOnePair},
        {"no match", 1, u"FlashingLeash", rc::kOpen4NoMatch},
        {"two cables", 2, u"ZV7300LNK", rc::kOpen4NotOnePair},
        {"eleven cables", 11, u"ZV7300LNK", rc::kOpen4TooManyOrChannelBPollFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshCable();
        vc_clear_devices();
        for (int i = 0; i < c.cables; ++i) vc_add_cable("ZV7300LNK", "KL", 1);
        EXPECT_EQ(OpenDevice4(c.description, u"", 9600), c.code);
        if (c.code == rc::kOpen4NoMatch) {
            EXPECT_EQ(MessageBoxes(),
                      std::vector<std::u16string>{u"E11.03 It is not Flashing Leash"});
        } else {
            EXPECT_TRUE(MessageBoxes().empty());
        }
    }
}

}  // namespace
}  // namespace kl::testing

// The six MPSSE open variants and CheckDeviceTalkable, judged by what the virtual cable saw:
// whether the list was rescanned, whether channel B was opened, which pin command channel A got.
#include <cstdlib>
#include <string>

#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "log_directory.h"
#include "mpsse/stream.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kInitialPins = {0x80, 0xFA, 0xCB, 0x85};
const Bytes kEdpPins = {0x80, 0xFA, 0xDB, 0x82, 0x0F, 0x04, 0x85};

// Every variant called the same way; the decorated ones take non-const strings.
int CallVariant(const std::string& name, uint32_t divisor = 5) {
    char16_t description[] = u"ZV7300LNK";
    char16_t serial[] = u"";
    if (name == "OpenDevice5") return OpenDevice5(description, serial, divisor);
    if (name == "OpenDevice5_B7") return OpenDevice5_B7(description, serial, divisor);
    if (name == "OpenDevice5_B8") return OpenDevice5_B8(description, serial, divisor);
    if (name == "OpenDevice5_CopyE") return OpenDevice5_CopyE(description, serial, divisor);
    if (name == "OpenDevice_EDP") return OpenDevice_EDP(description, serial, divisor);
    kl_bstr text = nullptr;
    int result = OpenDevice_EDP2(description, serial, divisor, &text);
    free(text);
    return result;
}

struct VariantRow {
    const char* name;
    bool rescans;
    bool opensChannelB;
    Bytes pins;
    uint8_t lowDirection;
};

const VariantRow kVariants[] = {
    {"OpenDevice5", false, false, kInitialPins, 0xCB},
    {"OpenDevice5_B7", true, false, kInitialPins, 0xCB},
    {"OpenDevice5_B8", false, false, kInitialPins, 0xCB},
    {"OpenDevice5_CopyE", true, false, kInitialPins, 0xCB},
    {"OpenDevice_EDP", true, true, kEdpPins, 0xDB},
    {"OpenDevice_EDP2", true, true, kEdpPins, 0xDB},
};

class OpenVariantsTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        vc_set_user_area_size(0, 32);  // EDP2 reads the user area; keep it defined
        logDirectory_.activate();
    }
    LogDirectory logDirectory_;  // EDP2 logs; keep its lines out of the file system's root
};

TEST_F(OpenVariantsTest, EachVariantRunsItsOwnSteps) {
    for (const VariantRow& row : kVariants) {
        SCOPED_TRACE(row.name);
        CloseDevice3();
        CloseDevice();
        vc_reset();
        ForgetTraffic();
        ASSERT_EQ(CallVariant(row.name), rc::kOpenOk);

        EXPECT_EQ(CallsOf("FT_Rescan").size(), row.rescans ? 1u : 0u);
        EXPECT_EQ(CallsOf("FT_OpenEx").size(), row.opensChannelB ? 2u : 1u);
        VcChannelSettings a{}, b{};
        ASSERT_EQ(vc_channel_settings(0, 0, &a), 0);
        ASSERT_EQ(vc_channel_settings(0, 1, &b), 0);
        EXPECT_EQ(b.open != 0, row.opensChannelB);
        EXPECT_EQ(binding::CurrentHandle(), a.handle);

        Bytes expected = {0xAA};
        expected.insert(expected.end(), row.pins.begin(), row.pins.end());
        expected.insert(expected.end(), {0x86, 0x05, 0x00});
        EXPECT_BYTES(expected, WrittenToChannelA());
        EXPECT_EQ(mpsse::Pins().lowDirection, row.lowDirection);
        EXPECT_EQ(mpsse::Pins().lowValue, 0xFA);
        if (row.pins == kEdpPins) {
            EXPECT_EQ(mpsse::Pins().highDirection, 0x04);
        }
        EXPECT_TRUE(connection::ConnectionOpen());
    }
}

TEST_F(OpenVariantsTest, FailuresGiveTheStepsResultCodes) {
    struct Fault {
        const char* entry;
        uint32_t nth;
    };
    struct Row {
        Fault fault;
        int withRescanAndB;  // EDP variants
        int withRescanOnly;  // B7, CopyE
        int withoutRescan;   // OpenDevice5, B8
    };
    const Row rows[] = {
        {{"FT_Rescan", 1}, rc::kOpenRescanFailed, rc::kOpenRescanFailed, rc::kOpenOk},
        {{"FT_CreateDeviceInfoList", 1}, rc::kOpenNoDevice, rc::kOpenNoDevice, rc::kOpenNoDevice},
        {{"FT_GetDeviceInfoList", 1},
         rc::kOpenListNotFetched,
         rc::kOpenListNotFetched,
         rc::kOpenListNotFetched},
        {{"FT_OpenEx", 1},
         rc::kOpenChannelAFailed,
         rc::kOpenChannelAFailed,
         rc::kOpenChannelAFailed},
        {{"FT_ResetDevice", 1},
         rc::kOpenChannelAResetFailed,
         rc::kOpenChannelAResetFailed,
         rc::kOpenChannelAResetFailed},
        {{"FT_SetBitMode", 2},
         rc::kOpenMpsseModeFailed,
         rc::kOpenMpsseModeFailed,
         rc::kOpenMpsseModeFailed},
        // Channel B: only the variants that open it notice.
        {{"FT_OpenEx", 2}, rc::kOpenChannelBFailed, rc::kOpenOk, rc::kOpenOk},
    };
    for (const Row& row : rows) {
        for (const VariantRow& variant : kVariants) {
            SCOPED_TRACE(std::string(variant.name) + " with " + row.fault.entry + " #" +
                         std::to_string(row.fault.nth) + " failing");
            CloseDevice();
            vc_reset();
            ASSERT_GE(vc_fault_fail(row.fault.entry, row.fault.nth, 4, 0), 0);
            int expected = variant.opensChannelB ? row.withRescanAndB
                           : variant.rescans     ? row.withRescanOnly
                                                 : row.withoutRescan;
            EXPECT_EQ(CallVariant(variant.name), expected);
        }
    }
}

TEST_F(OpenVariantsTest, VariantWithoutChannelBLeavesItPairedButClosed) {
    ASSERT_EQ(CallVariant("OpenDevice5_B7"), rc::kOpenOk);
    SelectChannelB();
    // The node's handle field is what the vendor list gave it: nothing was opened there.
    EXPECT_EQ(binding::CurrentHandle(), nullptr);
    SelectChannelA();
    CloseDevice3();
    VcChannelSettings a{};
    ASSERT_EQ(vc_channel_settings(0, 0, &a), 0);
    EXPECT_FALSE(a.open);
}

// ---- OpenDevice_EDP2: the user-area text ----------------------------------------------------

class Edp2Test : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        logDirectory_.activate();
    }

    // Writes the user area through an ordinary open, then forgets that connection.
    void SetUserArea(const Bytes& bytes) {
        ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
        Bytes copy = bytes;
        ASSERT_EQ(ft::FT_EE_UAWrite(copy.data(), static_cast<uint32_t>(copy.size())), kFtOk);
        CloseDevice();
        ForgetTraffic();
    }
    LogDirectory logDirectory_;
};

TEST_F(Edp2Test, HandsOutAndLogsTheUserAreaText) {
    struct Row {
        const char* what;
        Bytes userArea;
        std::u16string text;
    };
    const Bytes longText(36, 'L');  // the whole user area the default strings leave
    const Row rows[] = {
        {"text then zero", {'f', 'a', 'c', 't', 'o', 'r', 'y', 0, 'x'}, u"factory"},
        {"starts with zero", {0, 'x', 'y'}, u""},  // empty, not null
        {"longer than 32 bytes", longText, std::u16string(32, u'L')},
        {"bytes above 0x7F", {0xE9, 'A', 0}, u"\u00E9A"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetUserArea(row.userArea);
        std::string before = logDirectory_.log();
        kl_bstr text = nullptr;
        ASSERT_EQ(OpenDevice_EDP2(u"ZV7300LNK", u"", 5, &text), rc::kOpenOk);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::u16string(text), row.text);
        free(text);
        std::string narrow(row.text.begin(), row.text.end());
        EXPECT_EQ(logDirectory_.log(), before + LogLines({"Zelvorinex", narrow.c_str()}));
        EXPECT_EQ(CallsOf("FT_EE_UARead").at(0).args[0], 32u);
        CloseDevice();
    }
}

TEST_F(Edp2Test, TextIsStoredOnlyOnceTheBringUpSucceeded) {
    kl_bstr untouched = reinterpret_cast<kl_bstr>(uintptr_t{0x1234});
    kl_bstr text = untouched;
    vc_fault_fail("FT_SetLatencyTimer", 1, 4, 0);
    EXPECT_EQ(OpenDevice_EDP2(u"ZV7300LNK", u"", 5, &text), rc::kOpenChannelALatencyFailed);
    EXPECT_EQ(text, untouched);
    EXPECT_EQ(logDirectory_.log(), "");

    // Channel B failing comes after the read: the text is already the caller's.
    CloseDevice();
    vc_fault_clear();
    vc_fault_fail("FT_OpenEx", 2, 2, 0);
    EXPECT_EQ(OpenDevice_EDP2(u"ZV7300LNK", u"", 5, &text), rc::kOpenChannelBFailed);
    ASSERT_NE(text, untouched);
    ASSERT_NE(text, nullptr);
    free(text);
}

TEST_F(Edp2Test, FailedReadsGiveEmptyTextsAndTheOpenGoesOn) {
    SetUserArea({'a', 'b', 'c'});
    vc_fault_fail("FT_EE_Read", 1, 4, 0);
    vc_fault_fail("FT_EE_UARead", 1, 4, 0);
    kl_bstr text = nullptr;
    EXPECT_EQ(OpenDevice_EDP2(u"ZV7300LNK", u"", 5, &text), rc::kOpenOk);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), u"");
    free(text);
    EXPECT_EQ(logDirectory_.log(), "\r\n\r\n");
}

TEST_F(Edp2Test, NullTextOutIsNotWritten) {
    SetUserArea({'o', 'k'});
    EXPECT_EQ(OpenDevice_EDP2(u"ZV7300LNK", u"", 5, nullptr), rc::kOpenOk);
    EXPECT_EQ(logDirectory_.log(), LogLines({"Zelvorinex", "ok"}));
}

// ---- CheckDeviceTalkable ---------------------------------------------------------------------

int CheckTalkable(uint32_t divisor = 5) {
    char16_t unused[] = u"ignored";
    return CheckDeviceTalkable(unused, unused, divisor);
}

class CheckTalkableTest : public LibraryTest {};

TEST_F(CheckTalkableTest, WithoutAChannelPairItRefusesWithoutCallingTheVendor) {
    EXPECT_EQ(CheckTalkable(), rc::kOpenChannelAResetFailed);  // before any open
    EXPECT_EQ(vc_log_count(), 0u);

    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    CloseDevice();
    ForgetTraffic();
    EXPECT_EQ(CheckTalkable(), rc::kOpenChannelAResetFailed);  // the close released the list
    EXPECT_EQ(vc_log_count(), 0u);
}

TEST_F(CheckTalkableTest, ReopensChannelAWhenTheStaleCloseClosedIt) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    VcChannelSettings before{};
    vc_channel_settings(0, 0, &before);
    ForgetTraffic();

    ASSERT_EQ(CheckTalkable(7), rc::kOpenOk);
    auto closes = CallsOf("FT_Close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, before.handle);
    auto opens = CallsOf("FT_OpenEx");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args[0], before.location);
    EXPECT_EQ(CallsOf("FT_Rescan").size(), 0u);
    EXPECT_EQ(CallsOf("FT_CreateDeviceInfoList").size(), 0u);

    VcChannelSettings after{};
    vc_channel_settings(0, 0, &after);
    EXPECT_TRUE(after.open);
    EXPECT_EQ(binding::CurrentHandle(), after.handle);
    EXPECT_BYTES((Bytes{0xAA, 0x80, 0xFA, 0xCB, 0x85, 0x86, 0x07, 0x00}), WrittenToChannelA());
    EXPECT_TRUE(connection::ConnectionOpen());
}

TEST_F(CheckTalkableTest, WithChannelBCurrentItClosesBAndBringsAUpAgain) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    SelectChannelB();
    ForgetTraffic();
    ASSERT_EQ(CheckTalkable(), rc::kOpenOk);
    EXPECT_EQ(CallsOf("FT_OpenEx").size(), 0u);
    VcChannelSettings a{}, b{};
    vc_channel_settings(0, 0, &a);
    vc_channel_settings(0, 1, &b);
    EXPECT_FALSE(b.open);
    EXPECT_EQ(binding::CurrentHandle(), a.handle);
    EXPECT_BYTES((Bytes{0xAA, 0x80, 0xFA, 0xCB, 0x85, 0x86, 0x05, 0x00}), WrittenToChannelA());
}

TEST_F(CheckTalkableTest, FailureResults) {
    struct Row {
        const char* entry;
        uint32_t nth;
        uint32_t divisor;
        int expected;
    };
    const Row rows[] = {
        {"FT_Close", 1, 5, rc::kOpenStaleCloseFailed},      // the stale close
        {"FT_OpenEx", 1, 5, rc::kOpenChannelAResetFailed},  // reopening channel A
        {"FT_ResetDevice", 1, 5, rc::kOpenChannelAResetFailed},
        {"FT_SetLatencyTimer", 1, 5, rc::kOpenChannelALatencyFailed},
        // The divisor out of range, after the pins were set.
        {nullptr, 0, 0x10000, rc::kOpenClockFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry ? row.entry : "divisor");
        CloseDevice();
        vc_reset();
        ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
        ForgetTraffic();
        if (row.entry) vc_fault_fail(row.entry, row.nth, 4, 0);
        EXPECT_EQ(CheckTalkable(row.divisor), row.expected);
    }
}

}  // namespace
}  // namespace kl::testing

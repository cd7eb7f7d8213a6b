// Loading the vendor library, the guarded calls and the exports that wrap single vendor calls.
#include "binding/binding.h"

#include <filesystem>
#include <string>

#include "binding/d2xx.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "shell/reset_for_tests.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

class BindingTest : public LibraryTest {};

// A library that never loaded: every guarded call answers 1 as if its entry were missing.
class UnloadedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StartClean();
        UnLoadD2XXDLL();
    }
    void TearDown() override { binding::SetVendorLibraryNameForTests(nullptr); }
};

std::string VariantWithout(const char* entry) {
    return std::string(KESTREL_BUILD_DIR) + "/virtual-cable-without-" + entry + "/libftd2xx.so";
}

TEST_F(UnloadedTest, MissingLibraryGives1AndEveryCallSeesAnEmptyEntry) {
    binding::SetVendorLibraryNameForTests("libftd2xx-not-installed.so");
    EXPECT_EQ(LoadD2XXDLL(), rc::kLoadNoLibrary);
    EXPECT_EQ(ChkDLLVer(0), rc::kVersionUnread);
    EXPECT_EQ(ResetDevice2(), rc::kTransferFailed);
    EXPECT_EQ(Reload_Driver(0x1234, 0x5678), rc::kTransferFailed);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5),
              rc::kOpenRescanFailed);  // the rescan is the first vendor call
    EXPECT_EQ(UnLoadD2XXDLL(), rc::kUnloadNothing);
    EXPECT_EQ(vc_log_count(), 0u);
}

TEST_F(UnloadedTest, TestApaPausesAfterEachFailedStep) {
    test_APA();
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{1000, 1000, 3000}));
}

// Each variant of the virtual cable lacks one entry point; the load stops there with that row's
// number. Rows follow the cable's own resolution-order list, written independently of ours.
TEST_F(UnloadedTest, EachMissingEntryPointGivesItsRow) {
    int checked = 0;
    for (uint32_t index = 0; const char* entry = vc_entry_name(index); ++index) {
        const std::string path = VariantWithout(entry);
        if (!std::filesystem::exists(path)) continue;
        ResetForTests();
        binding::SetVendorLibraryNameForTests(path.c_str());
        const int code = LoadD2XXDLL();
        EXPECT_EQ(code, rc::kLoadLacksListDevices + static_cast<int>(index)) << entry;
        // The result-code table's row for that code names the same entry point.
        const char* meaning = rc::Meaning(rc::kLoadD2XXDLL, code);
        EXPECT_TRUE(meaning && std::string(meaning).ends_with(std::string(" ") + entry)) << entry;
        EXPECT_EQ(std::string(binding::EntryName(static_cast<binding::Entry>(index))), entry);
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no variants of the vendor library were built";
    EXPECT_EQ(checked, 38);
}

TEST_F(UnloadedTest, OnlyTheReloadsFailWithoutFtReload) {
    const std::string path = VariantWithout("FT_Reload");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "variant not built";
    binding::SetVendorLibraryNameForTests(path.c_str());
    ASSERT_EQ(LoadD2XXDLL(), rc::kLoadLacksReload);
    EXPECT_EQ(Reload_Driver(1, 2), rc::kTransferFailed);
    EXPECT_EQ(Reload_Driver_B7(1, 2), kl_ulong{rc::kTransferFailed});
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);  // served by the variant's own cable
    CloseDevice();
}

TEST_F(UnloadedTest, AnUnusedEntryPointStillFailsTheLoad) {
    const std::string path = VariantWithout("FT_SetChars");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "variant not built";
    binding::SetVendorLibraryNameForTests(path.c_str());
    EXPECT_EQ(LoadD2XXDLL(), rc::kLoadLacksSetChars);
    EXPECT_EQ(ft::FT_SetChars(0, 0, 0, 0), 1u);  // rows from the missing one on stay empty
    EXPECT_NE(binding::EntryAddress(binding::Entry::FT_SetBaudRate), nullptr) << "row 11";
    EXPECT_EQ(binding::EntryAddress(binding::Entry::FT_Purge), nullptr) << "row 13: not looked up";
}

TEST_F(BindingTest, VersionCheckComparesUnsigned) {
    vc_set_library_version(0x00030216);
    EXPECT_EQ(ChkDLLVer(0x00030216), rc::kVersionAtLeast);
    EXPECT_EQ(ChkDLLVer(0x00030215), rc::kVersionAtLeast);
    EXPECT_EQ(ChkDLLVer(0x00030217), rc::kVersionBelow);
    vc_set_library_version(0x80000000);
    EXPECT_EQ(ChkDLLVer(0x7FFFFFFF), rc::kVersionAtLeast);
    vc_fault_fail("FT_GetLibraryVersion", 1, 4, 0);
    EXPECT_EQ(ChkDLLVer(0), rc::kVersionUnread);
}

TEST_F(BindingTest, TheThreeReloadsPassTheIdsUnchanged) {
    EXPECT_EQ(Reload_Driver(0x1234, 0xABCD), rc::kTransferOk);
    EXPECT_EQ(Reload_Driver_B7(0x1234, 0xABCD), kl_ulong{rc::kTransferOk});
    EXPECT_EQ(Reload_Driver_B8(0x1234, 0xABCD), kl_ulong{rc::kTransferOk});
    auto calls = CallsOf("FT_Reload");
    ASSERT_EQ(calls.size(), 3u);
    for (const VcCall& call : calls) {
        EXPECT_EQ(call.args[0], 0x1234u);
        EXPECT_EQ(call.args[1], 0xABCDu);
    }
    vc_fault_fail("FT_Reload", 1, 18, 1);
    EXPECT_EQ(Reload_Driver(1, 2), rc::kTransferFailed);
    EXPECT_EQ(Reload_Driver_B7(1, 2), kl_ulong{rc::kTransferFailed});
    EXPECT_EQ(Reload_Driver_B8(1, 2), kl_ulong{rc::kTransferFailed});
}

TEST_F(BindingTest, ResetDevice2CyclesTheCurrentChannel) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    VcChannelSettings a{};
    vc_channel_settings(0, 0, &a);
    EXPECT_EQ(ResetDevice2(), rc::kTransferOk);
    auto cycles = CallsOf("FT_CyclePort");
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].handle, a.handle);
    vc_fault_fail("FT_CyclePort", 1, 4, 0);
    EXPECT_EQ(ResetDevice2(), rc::kTransferFailed);
}

TEST_F(BindingTest, TestApaWorksOnChannelAWithoutPausesWhenAllSucceed) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    VcChannelSettings a{};
    vc_channel_settings(0, 0, &a);
    SelectChannelB();
    ForgetTraffic();
    test_APA();
    EXPECT_TRUE(Pauses().empty());
    for (const char* entry : {"FT_ResetDevice", "FT_ResetPort", "FT_CyclePort"}) {
        auto calls = CallsOf(entry);
        ASSERT_EQ(calls.size(), 1u) << entry;
        EXPECT_EQ(calls[0].handle, a.handle) << entry;
    }
}

TEST_F(BindingTest, TestApaPausesOnlyAfterTheStepThatFailed) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    ForgetTraffic();
    vc_fault_fail("FT_ResetPort", 1, 4, 0);
    test_APA();
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{1000}));
}

TEST_F(BindingTest, OnLinuxThePortCycleFailsAndTestApaPausesAfterIt) {
    ASSERT_EQ(vc_set_platform(VC_PLATFORM_LINUX), 0);
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    EXPECT_EQ(ResetDevice2(), rc::kTransferFailed);
    ForgetTraffic();
    test_APA();
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{3000}));
    VcChannelSettings a{};
    vc_channel_settings(0, 0, &a);
    EXPECT_TRUE(a.open);  // nothing was cycled
}

struct StatusRow {
    FtStatus status;
    const char16_t* shown;
};

class StatusTextTest : public LibraryTest, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(StatusTextTest, NameAndTextJoinedExactly) {
    // The library's wide character is wchar_t on Windows; the UTF-16 text is the same.
    binding::ReportFtStatus(reinterpret_cast<const kl::WChar*>(u"FT_Read"), GetParam().status);
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_EQ(MessageBoxes()[0], GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusTextTest,
    ::testing::Values(StatusRow{1, u"FT_Read - Invalid Handle"},
                      StatusRow{4, u"FT_Read - General IO Error"},
                      StatusRow{7, u"FT_Read - Invalid Baud Rate"},
                      StatusRow{15, u"FT_Read - EEPROM not programmed"},
                      StatusRow{17, u"FT_Read - not supported"},
                      StatusRow{18, u"FT_Read - other error"},
                      StatusRow{19, u""},  // outside the table: an empty box, name included
                      StatusRow{0, u""}));

}  // namespace
}  // namespace kl::testing

#include "library_fixture.h"

#include <cstdio>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "platform/platform.h"
#include "shell/reset_for_tests.h"
#include "vcable.h"
#include "vcable_targets.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

struct Captured {
    std::vector<std::u16string> messageBoxes;
    std::vector<uint32_t> pauses;
};
Captured captured;

void RecordPause(uint32_t ms) { captured.pauses.push_back(ms); }

}  // namespace

std::vector<std::u16string>& MessageBoxes() { return captured.messageBoxes; }
std::vector<uint32_t>& Pauses() { return captured.pauses; }

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char item[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(item, sizeof(item), i ? " 0x%02X" : "0x%02X", bytes[i]);
        out += item;
    }
    return out.empty() ? "(none)" : out;
}

std::vector<uint8_t> WrittenToChannelA() {
    std::vector<uint8_t> bytes(vc_tx_size(0, 0));
    bytes.resize(vc_tx_read(0, 0, 0, bytes.data(), static_cast<uint32_t>(bytes.size())));
    return bytes;
}

std::vector<VcCall> CallsOf(const char* entry) {
    std::vector<VcCall> calls;
    const std::string name = entry;
    for (uint32_t i = 0; i < vc_log_count(); ++i) {
        VcCall call{};
        if (vc_log_get(i, &call) == 0 && name == call.entry) calls.push_back(call);
    }
    return calls;
}

void ForgetTraffic() {
    vc_tx_clear(0, 0);
    vc_tx_clear(0, 1);
    vc_log_clear();
    captured.pauses.clear();
}

void StartClean() {
    vc_reset();
    ResetForTests();
    captured = Captured{};
    platform::SetSleepHook(RecordPause);
    ASSERT_EQ(LoadD2XXDLL(), rc::kLoadOk);
}

void LibraryTest::SetUp() { StartClean(); }

void OpenedTest::SetUp() {
    LibraryTest::SetUp();
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    ForgetTraffic();
}

void TargetTest::TearDown() {
    char last[256] = "";
    vc_mpsse_last_error(0, last, sizeof last);
    EXPECT_EQ(vc_mpsse_error_count(0), 0u) << "last engine error: " << last;
    OpenedTest::TearDown();
}

void LibraryTest::TearDown() {
    platform::SetSleepHook(nullptr);
    UnLoadD2XXDLL();
}

}  // namespace kl::testing

// The library shows every message through this hook when the process provides it.
extern "C" void KestrelLinkMessageBox(const char16_t* text) {
    kl::testing::MessageBoxes().emplace_back(text ? text : u"");
}

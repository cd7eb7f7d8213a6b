#include "hardening_fixture.h"

#include <string>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"
#include "platform/platform.h"
#include "uart/uart.h"

namespace rc = kestrellink_result_codes;

namespace kl::hardening {
namespace {

int OpenFor(Recovery recovery) {
    switch (recovery) {
        case Recovery::Mpsse:
            return OpenDevice(u"ZV7300LNK", u"", 5);
        case Recovery::Uart:
            return OpenDevice2();
        case Recovery::AnyCable:
            break;
    }
    return OpenDevice(u"", u"", 5);
}

}  // namespace

void StartFresh(const kl::testing::LogDirectory* log) {
    kl::testing::StartClean();
    mpsse::SetNoProgressLimitMsForTests(kShortNoProgressMs);
    uart::SetReadFilePassLimitForTests(kShortReadFilePasses);
    uart::SetPacingIntervalMsForTests(0);
    if (log) log->activate();
}

bool EnterStart(Start start) {
    int result = 0;
    if (start == Start::MpsseOpen) result = OpenDevice(u"ZV7300LNK", u"", 5);
    if (start == Start::ChannelA) result = OpenDevice5(u"ZV7300LNK", u"", 5);
    if (start == Start::UartOpen) result = OpenDevice2();
    EXPECT_EQ(result, 0) << "start state not reached";
    return result == 0;
}

std::vector<VendorCall> CallsSince(uint32_t first) {
    std::vector<VendorCall> calls;
    std::vector<std::pair<std::string, uint32_t>> seen;
    for (uint32_t i = first; i < vc_log_count(); ++i) {
        VcCall call{};
        if (vc_log_get(i, &call) != 0) break;
        uint32_t nth = 1;
        for (auto& [name, count] : seen) {
            if (name == call.entry) nth = ++count;
        }
        if (nth == 1) seen.emplace_back(call.entry, 1);
        calls.push_back({call.entry, nth});
    }
    return calls;
}

bool ExpectRecovers(const ExportRow& row, bool replugged, const char* context) {
    vc_fault_clear();
    if (replugged) vc_replug(0);
    if (std::string(row.name) == "UnLoadD2XXDLL") {
        EXPECT_EQ(LoadD2XXDLL(), rc::kLoadOk) << context;
    }
    CloseDevice();
    // Handles the library no longer records (a close that failed without closing, a failed open's
    // channel A, the channel B an open or CloseDevice3 leaves behind) keep their channel busy until
    // the cable is unplugged: the remedy every one of the library's messages gives.
    bool leftOpen = false;
    for (int channel = 0; channel < 2; ++channel) {
        VcChannelSettings settings{};
        if (vc_channel_settings(0, channel, &settings) == 0 && settings.open) leftOpen = true;
    }
    if (leftOpen) {
        vc_unplug(0);
        vc_replug(0);
    }
    EXPECT_EQ(OpenFor(row.recovery), 0) << row.name << ": no recovery after " << context;
    CloseDevice();
    return leftOpen;
}

void HardeningTest::SetUp() { StartFresh(&log_); }

void HardeningTest::TearDown() {
    vc_fault_clear();
    CloseDevice();
    platform::SetSleepHook(nullptr);
    UnLoadD2XXDLL();
}

}  // namespace kl::hardening

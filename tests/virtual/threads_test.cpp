// The virtual cable called from several threads at once: one drives channel A's MPSSE engine, one
// channel B's loopback, one reads the call log and the views of the control API. Each checks
// every reply it gets; a ThreadSanitizer build checks that nothing races.
#include <atomic>
#include <string>
#include <thread>

#include "vcable_fixture.h"
#include "vcable_targets.h"

using namespace vcable;

namespace {

constexpr int kRounds = 300;

class ThreadsTest : public VcableTest {};

// One exchange: writes the bytes, then reads everything that is queued.
vtest::Bytes Exchange(void* handle, vtest::Bytes bytes) {
    uint32_t written = 0;
    if (FT_Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written) != kFtOk) {
        return {};
    }
    uint32_t pending = 0;
    if (FT_GetQueueStatus(handle, &pending) != kFtOk) return {};
    vtest::Bytes reply(pending);
    uint32_t read = 0;
    if (FT_Read(handle, reply.data(), pending, &read) != kFtOk) return {};
    reply.resize(read);
    return reply;
}

TEST_F(ThreadsTest, EntryPointsAndControlFunctionsFromSeveralThreads) {
    void* a = OpenAt(0x0211);
    void* b = OpenAt(0x0212);
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeMpsse), kFtOk);
    // The trace hook runs inside the engine, on the calling thread, and calls the control API.
    std::atomic<uint32_t> traced{0};
    auto trace = [](void* user, const char*) {
        static_cast<std::atomic<uint32_t>*>(user)->fetch_add(vc_rx_pending(0, 0) + 1);
    };
    ASSERT_EQ(vc_mpsse_set_trace(0, trace, &traced), VC_OK);
    const vtest::Bytes pins = Exchange(a, {0x81});
    ASSERT_EQ(pins.size(), 1u);

    std::string faultA, faultB, faultControl;
    std::thread mpsse([&] {
        for (int round = 0; round < kRounds && faultA.empty(); ++round) {
            const vtest::Bytes reply = Exchange(a, {0x81});
            if (reply != pins) faultA = vtest::Hex(reply) + ", expected " + vtest::Hex(pins);
        }
    });
    std::thread uart([&] {
        for (int round = 0; round < kRounds && faultB.empty(); ++round) {
            const vtest::Bytes sent{static_cast<uint8_t>(round), 0x55,
                                    static_cast<uint8_t>(~round)};
            const vtest::Bytes reply = Exchange(b, sent);
            if (reply != sent) faultB = vtest::Hex(reply) + ", expected " + vtest::Hex(sent);
        }
    });
    std::thread control([&] {
        for (int round = 0; round < kRounds && faultControl.empty(); ++round) {
            const uint32_t count = vc_log_count();
            VcCall call{};
            if (count == 0 || vc_log_get(count - 1, &call) != 0) {
                faultControl = "no call " + std::to_string(count);
                break;
            }
            // The bytes stay where the log put them while other calls are recorded.
            uint32_t sum = 0;
            for (uint32_t i = 0; i < call.data_length; ++i) sum += call.data[i];
            VcChannelSettings settings{};
            uint16_t levels = 0;
            if (vc_channel_settings(0, 1, &settings) != 0 || !settings.open ||
                vc_pins_get(0, &levels, nullptr) != VC_OK || (levels & 0xFF) != pins[0]) {
                faultControl = "views of round " + std::to_string(round) + " (sum " +
                               std::to_string(sum) + ")";
            }
        }
    });
    mpsse.join();
    uart.join();
    control.join();
    EXPECT_EQ(faultA, "");
    EXPECT_EQ(faultB, "");
    EXPECT_EQ(faultControl, "");
    EXPECT_GT(traced.load(), static_cast<uint32_t>(kRounds));
    EXPECT_EQ(vc_mpsse_error_count(0), 0u);
}

}  // namespace

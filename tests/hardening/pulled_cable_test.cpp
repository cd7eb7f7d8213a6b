// The cable disappears while an export waits for it. The waits that poll for reply bytes must end
// on the first failed poll, not on their no-progress limit: the limit is set out of reach here, so
// an export that kept polling would never return. The receivers, which go on polling after a
// failed poll, end on the no-progress limit instead, which their rows set to 0, whatever their own
// time-outs.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "hardening_fixture.h"
#include "kestrellink.h"
#include "library_fixture.h"
#include "mpsse/stream.h"
#include "uart/uart.h"
#include "vcable.h"

namespace kl::hardening {
namespace {

constexpr uint32_t kOutOfReach = UINT32_MAX;

struct PulledRow {
    const char* name;
    Start start;
    std::function<int()> call;
    int result;               // the export's failure result
    uint32_t noProgressMs;    // the limit during the call
    uint32_t mostPolls;       // polls the export may make in all
    uint32_t pullAtPoll = 1;  // the export's poll just before which the cable goes
};

std::vector<PulledRow> Rows() {
    using S = Start;
    return {
        {"JTAG_ReadPort", S::MpsseOpen,
         [] {
             uint8_t value;
             return JTAG_ReadPort(&value);
         },
         4, kOutOfReach, 1},
        {"JTAG_WriteTDI capturing", S::MpsseOpen,
         [] {
             const uint8_t tdi[2] = {0xA5, 0x0C};
             uint8_t tdo[2];
             kl_u32 bits;
             return JTAG_WriteTDI(0x09, 12, tdi, tdo, &bits, 1);
         },
         4, kOutOfReach, 1},
        {"JTAG_WriteTDI2 capturing", S::MpsseOpen,
         [] {
             const uint8_t tdi[2] = {0xA5, 0x0C};
             uint8_t tdo[2];
             kl_u32 bits;
             return JTAG_WriteTDI2(0x09, 12, tdi, tdo, &bits, 1);
         },
         4, kOutOfReach, 1},
        {"JTAG_RxFTDI", S::MpsseOpen,
         [] {
             uint8_t reply[9];
             kl_u32 received;
             return JTAG_RxFTDI(9, reply, &received);
         },
         4, kOutOfReach, 1},
        {"SPI_ReadDI", S::MpsseOpen,
         [] {
             uint8_t buffer[1000];
             kl_u32 received;
             return SPI_ReadDI(0x20, 1000, buffer, &received);
         },
         4, kOutOfReach, 1},
        {"Wait_GPIOH1_Low", S::MpsseOpen, [] { return Wait_GPIOH1_Low(); }, 4, kOutOfReach, 1},
        // The sync wait makes its ten polls, 20 ms apart, whatever they return.
        {"OpenDevice", S::Loaded, [] { return OpenDevice(u"ZV7300LNK", u"", 5); }, 11, kOutOfReach,
         10},
        {"CheckDeviceTalkable", S::UartOpen,
         [] { return CheckDeviceTalkable(nullptr, nullptr, 5); }, 11, kOutOfReach, 10},
        // Read_UART ignores the poll status: its no-progress limit alone ends the wait. At 0 ms
        // that is right after the first poll.
        {"Read_UART", S::UartOpen, [] { return Read_UART(); }, 1, 0, 1},
        {"Read_FILE_UART", S::UartOpen,
         [] { return Read_FILE_UART(ScratchPath("pulled").c_str(), 8); }, 6, 0, 1},
        // Without a time-out of its own; the result counts what the last good poll found waiting.
        {"Read_FILE_UART_2", S::UartOpen,
         [] {
             const uint8_t arrived[3] = {1, 2, 3};
             vc_inject_rx(0, 1, arrived, 3);
             const std::string name = ScratchPath("pulled");
             return Read_FILE_UART_2(std::u16string(name.begin(), name.end()).c_str(), 8, 1,
                                     std::numeric_limits<double>::infinity());
         },
         3, 0, 2, 2},
    };
}

class PulledCableTest : public HardeningTest {};

TEST_F(PulledCableTest, WaitsEndOnTheFailedPollOrTheirOwnBound) {
    for (const PulledRow& row : Rows()) {
        SCOPED_TRACE(row.name);
        StartFresh(&log_);
        if (!EnterStart(row.start)) continue;
        const uint32_t pollsBefore = vc_log_count_entry("FT_GetQueueStatus");
        vc_fault_unplug("FT_GetQueueStatus", row.pullAtPoll, 0);
        mpsse::SetNoProgressLimitMsForTests(row.noProgressMs);
        EXPECT_EQ(row.call(), row.result);
        mpsse::SetNoProgressLimitMsForTests(kShortNoProgressMs);
        EXPECT_LE(vc_log_count_entry("FT_GetQueueStatus") - pollsBefore, row.mostPolls);
        ExpectRecovers(ExportRow{row.name, row.start, Recovery::Mpsse, nullptr, nullptr, {}}, true,
                       "the pulled cable");
    }
}

}  // namespace
}  // namespace kl::hardening

// Vendor calls per job against the fewest the algorithms need: a surplus call or byte is a defect.
// Each row counts every entry point the job called and the bytes it wrote.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kestrellink.h"
#include "library_fixture.h"
#include "vcable_targets.h"

namespace kl::testing {
namespace {

using Counts = std::map<std::string, uint32_t>;

Counts CountCalls() {
    Counts counts;
    for (uint32_t i = 0; i < vc_log_count(); ++i) {
        VcCall call{};
        if (vc_log_get(i, &call) == 0) ++counts[call.entry];
    }
    return counts;
}

uint64_t BytesWritten() {
    uint64_t bytes = 0;
    for (const VcCall& call : CallsOf("FT_Write")) bytes += call.transferred;
    return bytes;
}

std::string Describe(const Counts& counts) {
    std::string text;
    for (const auto& [entry, n] : counts) text += entry + " " + std::to_string(n) + "; ";
    return text;
}

struct EconomyRow {
    const char* job;
    std::function<int()> run;  // 0 when every export succeeded
    Counts calls;
    uint64_t bytesWritten;
};

class CallEconomyTest : public OpenedTest {};

TEST_F(CallEconomyTest, JobsMakeNoSurplusCalls) {
    static std::vector<kl_u8> data(307200, 0x5A);
    const std::string file = ::testing::TempDir() + "kl_economy_" + std::to_string(getpid());
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data.data(), 1, 1000, f);
        std::fclose(f);
    }
    const EconomyRow rows[] = {
        // 307199 whole bytes in 5 commands, 7 tail commands and the exit: 307238 bytes, sent
        // as two full command buffers and the rest.
        {"queued shift of 300 KiB",
         [] {
             kl_u32 bits = 0;
             return JTAG_WriteTDI(0x09, 8 * 307200, data.data(), nullptr, &bits, 1) |
                    JTAG_Send2FTDI();
         },
         {{"FT_Write", 3}},
         307199 + 5 * 3 + 8 * 3},
        {"two IDCODEs",
         [] {
             kl_u8 toReset = 0x1F, toShiftDr = 0x02, reply[9];
             kl_u32 got = 0;
             return JTAG_WriteTMS(4, &toReset) | JTAG_WriteTMS(3, &toShiftDr) |
                    JTAG_ReadTDO2(0x09, 64) | JTAG_Send2FTDI() | JTAG_RxFTDI(9, reply, &got);
         },
         {{"FT_Write", 1}, {"FT_GetQueueStatus", 500}, {"FT_Read", 1}},
         14},
        // 120101 fill bytes: two full blocks sent at once, 101 bytes with the send.
        {"JTAG_Clk of 960800 clocks",
         [] { return JTAG_Clk(0x09, 960800) | JTAG_Send2FTDI(); },
         {{"FT_Write", 3}},
         2 * 60006 + 101 + 9},
        {"SPI_WriteDO of 65537 bytes",
         [] { return SPI_WriteDO(0x11, 65537, data.data()); },
         {{"FT_Write", 4}},
         65537 + 2 * 3},
        {"SPI_ReadDI of 1000 bytes",
         [] {
             kl_u8 buffer[1000];
             kl_u32 received = 0;
             return SPI_ReadDI(0x20, 1000, buffer, &received);
         },
         {{"FT_Write", 3}, {"FT_GetQueueStatus", 1500}, {"FT_Read", 3}},
         9},
        {"Write_FILE_UART of 1000 bytes on channel B",
         [&file] {
             SelectChannelB();
             return Write_FILE_UART(file.c_str(), 1000);
         },
         {{"FT_Write", 1}},
         1000},
    };
    for (const EconomyRow& row : rows) {
        SCOPED_TRACE(row.job);
        SelectChannelA();
        ForgetTraffic();
        ASSERT_EQ(row.run(), 0);
        EXPECT_EQ(Describe(row.calls), Describe(CountCalls()));
        EXPECT_EQ(row.bytesWritten, BytesWritten());
    }
    std::remove(file.c_str());
}

TEST_F(CallEconomyTest, LongQueuedShiftFillsEveryWriteButTheLast) {
    std::vector<kl_u8> tdi(307200, 0xA5);
    kl_u32 bits = 0;
    ASSERT_EQ(JTAG_WriteTDI(0x09, 8 * 307200, tdi.data(), nullptr, &bits, 1), 0);
    ASSERT_EQ(JTAG_Send2FTDI(), 0);
    const std::vector<VcCall> writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].transferred, 131072u);
    EXPECT_EQ(writes[1].transferred, 131072u);
    // The stream is the same as if sent whole: headers every 65539 bytes, then the tail.
    const std::vector<uint8_t> sent = WrittenToChannelA();
    for (uint32_t k = 0; k < 4; ++k) {
        EXPECT_BYTES((std::vector<uint8_t>{0x19, 0xFF, 0xFF}),
                     std::vector<uint8_t>(sent.begin() + 65539 * k, sent.begin() + 65539 * k + 3));
    }
    EXPECT_BYTES((std::vector<uint8_t>{0x19, 0xFE, 0xAF}),
                 std::vector<uint8_t>(sent.begin() + 65539 * 4, sent.begin() + 65539 * 4 + 3));
    EXPECT_EQ(vc_mpsse_error_count(0), 0u);
}

class OpenEconomyTest : public LibraryTest {};

TEST_F(OpenEconomyTest, OpenDeviceMakesTheStepsCallsOnly) {
    ForgetTraffic();
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), 0);
    const Counts expected = {{"FT_Rescan", 1},
                             {"FT_CreateDeviceInfoList", 1},
                             {"FT_GetDeviceInfoList", 1},
                             {"FT_OpenEx", 2},
                             {"FT_ResetDevice", 1},
                             {"FT_GetQueueStatus", 4},
                             {"FT_SetLatencyTimer", 1},
                             {"FT_SetBitMode", 2},
                             {"FT_Write", 3},
                             {"FT_Read", 1}};
    EXPECT_EQ(Describe(expected), Describe(CountCalls()));
    EXPECT_EQ(BytesWritten(), 1u + 4 + 3);
}

}  // namespace
}  // namespace kl::testing

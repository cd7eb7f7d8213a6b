// The reference jobs on the virtual cable, and the minimum vendor calls derived for each from the
// algorithms: the fixed steps of the open, the queue rules (one write per flush of at most the
// 131072-byte command buffer, headers per 65536 data bytes), the 384-byte read blocks with their
// 500-poll waits, and the one-write file sender.
#include "reference_jobs.h"

#include <cstdio>
#include <vector>

#include "kestrellink.h"
#include "vcable.h"
#include "vcable_targets.h"

namespace bench {
namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kKiB = 1u << 10;
constexpr uint8_t kLsbOutFalling = 0x09;  // JTAG mode: LSB first, TDI out on the falling edge
constexpr uint8_t kSpiOut = 0x11;         // bytes out on the falling edge, MSB first
constexpr uint8_t kSpiIn = 0x20;          // bytes in on the rising edge, MSB first
constexpr uint8_t kFlashRead = 0x03;
constexpr uint32_t kDivisor = 5;
constexpr uint32_t kUartBaud = 3000000;
constexpr const char* kUartFile = "/tmp/kestrel-bench-uart.bin";

bool Fresh() {
    CloseDevice();
    vc_reset();
    return LoadD2XXDLL() == 0;
}

bool Opened() { return Fresh() && OpenDevice(u"ZV7300LNK", u"", kDivisor) == 0; }

bool ToShiftDr() {
    kl_u8 toReset = 0x1F;
    kl_u8 toShiftDr = 0x02;
    return JTAG_WriteTMS(4, &toReset) == 0 && JTAG_WriteTMS(3, &toShiftDr) == 0;
}

bool OpenDeviceJob() { return OpenDevice(u"ZV7300LNK", u"", kDivisor) == 0; }

bool IdcodesJob() {
    if (!ToShiftDr() || JTAG_ReadTDO2(kLsbOutFalling, 64) != 0 || JTAG_Send2FTDI() != 0) {
        return false;
    }
    kl_u8 reply[9] = {};
    kl_u32 got = 0;
    if (JTAG_RxFTDI(9, reply, &got) != 0 || got != 9) return false;
    uint64_t scan = 0;
    for (int i = 0; i < 7; ++i) scan |= static_cast<uint64_t>(reply[i]) << (8 * i);
    scan |= static_cast<uint64_t>(reply[7] >> 1) << 56;
    scan |= static_cast<uint64_t>(reply[8] >> 7) << 63;
    return scan == 0x1234567787654321ull;  // the device nearest TDO first
}

bool PrepareShift() { return Opened() && ToShiftDr() && JTAG_Send2FTDI() == 0; }

bool QueuedShiftJob() {
    static std::vector<kl_u8> tdi(kMiB, 0x5A);
    kl_u32 bits = 0;
    return JTAG_WriteTDI(kLsbOutFalling, 8 * kMiB, tdi.data(), nullptr, &bits, 1) == 0 &&
           JTAG_Send2FTDI() == 0;
}

bool ClkJob() { return JTAG_Clk(kLsbOutFalling, 10000000) == 0 && JTAG_Send2FTDI() == 0; }

bool SpiWriteJob() {
    static std::vector<kl_u8> data(kMiB, 0xC3);
    return SPI_WriteDO(kSpiOut, kMiB, data.data()) == 0;
}

// Chip select low and a READ from address 0; the data phase is the job.
bool PrepareFlashRead() {
    const kl_u8 read[] = {kFlashRead, 0x00, 0x00, 0x00};
    return Opened() && GPIO2_low2() == 0 && SPI_WriteDO(kSpiOut, sizeof read, read) == 0;
}

bool SpiReadJob() {
    static std::vector<kl_u8> buffer(64 * kKiB);
    static std::vector<uint8_t> expected(64 * kKiB);
    kl_u32 received = 0;
    if (SPI_ReadDI(kSpiIn, 64 * kKiB, buffer.data(), &received) != 0) return false;
    vc_flash_read(0, 0, expected.data(), 64 * kKiB);
    return received == 64 * kKiB && buffer == expected;
}

bool PrepareUart() {
    std::vector<char> data(128 * kKiB);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    FILE* file = std::fopen(kUartFile, "wb");
    if (!file) return false;
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    std::fclose(file);
    return written && Fresh() && OpenDevice4(u"ZV7300LNK", u"", kUartBaud) == 0;
}

bool UartSendJob() { return Write_FILE_UART(kUartFile, 128 * kKiB) == 0; }

// 384-byte blocks of a 64 KiB read.
constexpr uint64_t kReadBlocks = (64 * kKiB + 383) / 384;
// A 1 MiB shift: 1048575 whole bytes in 16 commands of at most 65536, 7 one-bit commands and
// the last bit with TMS, 3 bytes each.
constexpr uint64_t kShiftBytes = (kMiB - 1) + 16 * 3 + 7 * 3 + 3;
// JTAG_Clk of 10 million clocks: 1250001 fill bytes, 20 blocks of 60000 sent as 60006 bytes,
// the rest (50001 bytes) with its 9 command bytes in the final send.
constexpr uint64_t kClkFill = 10000000 / 8 + 1;
constexpr uint64_t kClkBytes = 20 * 60006 + (kClkFill - 20 * 60000) + 9;

}  // namespace

const std::vector<ReferenceJob>& ReferenceJobs() {
    static const std::vector<ReferenceJob> library = {
        {"OpenDevice",
         Fresh,
         OpenDeviceJob,
         {{"FT_Rescan", 1},
          {"FT_CreateDeviceInfoList", 1},
          {"FT_GetDeviceInfoList", 1},
          {"FT_OpenEx", 2},
          {"FT_ResetDevice", 1},
          {"FT_GetQueueStatus", 4},
          {"FT_SetLatencyTimer", 1},
          {"FT_SetBitMode", 2},
          {"FT_Write", 3},
          {"FT_Read", 1}},
         1 + 4 + 3,
         "1 rescan, 1 create, 1 get, 2 opens, 1 reset; polls: after the reset, before the purge, "
         "1 for the echo (already there), after the clock; latency; 2 bit modes; writes 0xAA, "
         "the pin command (4), the divisor (3); 1 read of the echo"},
        {"two IDCODEs (64-bit scan)",
         Opened,
         IdcodesJob,
         {{"FT_Write", 1}, {"FT_GetQueueStatus", 500}, {"FT_Read", 1}},
         3 + 3 + 3 + 2 + 3,
         "2 TMS commands, 7-byte read, 7-bit read, TMS read in one send; 500 polls minimum; "
         "1 read"},
        {"queued TDI shift 1 MiB + JTAG_Send2FTDI",
         PrepareShift,
         QueuedShiftJob,
         {{"FT_Write", (kShiftBytes + 131071) / 131072}},
         kShiftBytes,
         "16 headers + 1048575 data bytes + 8 tail commands; writes of at most the 131072-byte "
         "command buffer"},
        {"JTAG_Clk 10,000,000 clocks + JTAG_Send2FTDI",
         Opened,
         ClkJob,
         {{"FT_Write", 21}},
         kClkBytes,
         "20 full blocks of 60006 bytes sent at once, the last block of 50001 fill bytes (+9) "
         "in the send"},
        {"SPI_WriteDO 1 MiB",
         Opened,
         SpiWriteJob,
         {{"FT_Write", 32}},
         kMiB + 16 * 3,
         "16 blocks of 65536: a 3-byte header write and a data write each"},
        {"SPI_ReadDI 64 KiB",
         PrepareFlashRead,
         SpiReadJob,
         {{"FT_Write", kReadBlocks},
          {"FT_GetQueueStatus", 500 * kReadBlocks},
          {"FT_Read", kReadBlocks}},
         3 * kReadBlocks,
         "ceil(65536/384) = 171 blocks: a 3-byte header write, 500 polls and 1 read each"},
        {"Write_FILE_UART 128 KiB",
         PrepareUart,
         UartSendJob,
         {{"FT_Write", 1}},
         128 * kKiB,
         "the whole file in one write from StagingBuffer"},
    };
    static const std::vector<ReferenceJob> jobs = [] {
        std::vector<ReferenceJob> all = library;
        for (ReferenceJob& job : SvfJobs()) all.push_back(std::move(job));
        return all;
    }();
    return jobs;
}

}  // namespace bench

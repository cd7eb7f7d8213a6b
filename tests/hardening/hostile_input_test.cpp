// Hostile input, one row per case: null pointers in every pointer argument, zero and huge counts,
// strings far longer than their buffers or outside the byte range, files and directories that
// cannot be used, and time-outs that are not numbers. Each row gives the export's exact result;
// the sanitizer build checks that no row reads or writes out of bounds or leaks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "hardening_fixture.h"
#include "kestrellink.h"
#include "library_fixture.h"
#include "mpsse/stream.h"
#include "vcable.h"
#include "vcable_uart.h"

namespace kl::hardening {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr uint8_t kMode = 0x09;
constexpr uint8_t kTms = 0x4B;
constexpr uint8_t kSpiRead = 0x20;
constexpr uint8_t kSpiWrite = 0x11;
constexpr uint32_t kBuffer = 131072;

std::u16string Wide(const std::string& narrow) {
    return std::u16string(narrow.begin(), narrow.end());
}

// A string of count units cycling through letters and characters far above U+00FF.
std::u16string LongWide(size_t count) {
    static const char16_t kUnits[] = u"ZV7300LNK\u0100\u4E2D\u00E9\uFFFD";
    std::u16string text;
    for (size_t i = 0; i < count; ++i) text += kUnits[i % (sizeof(kUnits) / 2 - 1)];
    return text;
}

void InjectB(uint32_t count) {
    std::vector<uint8_t> bytes(count, 0x5A);
    vc_inject_rx(0, 1, bytes.data(), count);
}

void WriteScratch(const char* name, size_t size) {
    FILE* file = fopen(ScratchPath(name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    for (size_t i = 0; i < size; ++i) fputc(static_cast<int>(i), file);
    fclose(file);
}

uint32_t LargestWrite() {
    uint32_t largest = 0;
    for (const VcCall& call : kl::testing::CallsOf("FT_Write")) {
        if (call.args[0] > largest) largest = static_cast<uint32_t>(call.args[0]);
    }
    return largest;
}

struct HostileRow {
    const char* name;
    Start start;
    std::function<int()> call;
    std::vector<int> results;       // any of these
    std::function<void()> check{};  // further expectations after the call
};

int Shift(int (*shift)(kl_u8, kl_u32, const kl_u8*, kl_u8*, kl_u32*, kl_u32), uint32_t bits,
          bool capture) {
    std::vector<uint8_t> tdi(bits / 8 + 1, 0xA5);
    std::vector<uint8_t> tdo(bits / 8 + 1);
    kl_u32 bitsRead = 0;
    return shift(kMode, bits, tdi.data(), capture ? tdo.data() : nullptr, &bitsRead, 1);
}

std::vector<HostileRow> Rows() {
    using S = Start;
    return {
        // Null pointers: inputs count as empty, outputs are not written, data gives result 4.
        {"OpenDevice, null strings",
         S::Loaded,
         [] { return OpenDevice(nullptr, nullptr, 5); },
         {0}},
        {"OpenDevice4, null strings",
         S::Loaded,
         [] { return OpenDevice4(nullptr, nullptr, 115200); },
         {0}},
        {"OpenDevice5, null strings",
         S::Loaded,
         [] { return OpenDevice5(nullptr, nullptr, 5); },
         {0}},
        {"OpenDevice5_B7, null strings",
         S::Loaded,
         [] { return OpenDevice5_B7(nullptr, nullptr, 5); },
         {0}},
        {"OpenDevice5_B8, null strings",
         S::Loaded,
         [] { return OpenDevice5_B8(nullptr, nullptr, 5); },
         {0}},
        {"OpenDevice5_CopyE, null strings",
         S::Loaded,
         [] { return OpenDevice5_CopyE(nullptr, nullptr, 5); },
         {0}},
        {"OpenDevice_EDP, null strings",
         S::Loaded,
         [] { return OpenDevice_EDP(nullptr, nullptr, 5); },
         {0}},
        {"OpenDevice_EDP2, null strings and no place for the text",
         S::Loaded,
         [] { return OpenDevice_EDP2(nullptr, nullptr, 5, nullptr); },
         {0}},
        {"CheckDeviceTalkable, null strings",
         S::UartOpen,
         [] { return CheckDeviceTalkable(nullptr, nullptr, 5); },
         {0}},
        {"JTAG_WriteTMS, null bits", S::MpsseOpen, [] { return JTAG_WriteTMS(1, nullptr); }, {4}},
        {"JTAG_WriteTMS2, null data",
         S::MpsseOpen,
         [] { return JTAG_WriteTMS2(kTms, 1, nullptr); },
         {4}},
        {"JTAG_WriteTDI, null everything",
         S::MpsseOpen,
         [] { return JTAG_WriteTDI(kMode, 12, nullptr, nullptr, nullptr, 1); },
         {4}},
        {"JTAG_WriteTDI2, null everything",
         S::MpsseOpen,
         [] { return JTAG_WriteTDI2(kMode, 12, nullptr, nullptr, nullptr, 1); },
         {4}},
        {"JTAG_WriteTDI capturing, null bitsRead",
         S::MpsseOpen,
         [] {
             const uint8_t tdi[2] = {0xA5, 0x0C};
             uint8_t tdo[2];
             return JTAG_WriteTDI(kMode, 12, tdi, tdo, nullptr, 1);
         },
         {0}},
        {"JTAG_RxFTDI, null buffer and count",
         S::MpsseOpen,
         [] { return JTAG_RxFTDI(9, nullptr, nullptr); },
         {4}},
        {"JTAG_RxFTDI, null count",
         S::MpsseOpen,
         [] {
             JTAG_ReadTDO2(kMode, 64);
             JTAG_Send2FTDI();
             uint8_t reply[9];
             return JTAG_RxFTDI(9, reply, nullptr);
         },
         {0}},
        {"JTAG_ReadPort, null value", S::MpsseOpen, [] { return JTAG_ReadPort(nullptr); }, {4}},
        {"SPI_ReadDI, null buffer and count",
         S::MpsseOpen,
         [] { return SPI_ReadDI(kSpiRead, 10, nullptr, nullptr); },
         {0}},
        {"SPI_WriteDO, null data",
         S::MpsseOpen,
         [] { return SPI_WriteDO(kSpiWrite, 10, nullptr); },
         {4}},
        {"Read_FILE_UART, null file name",
         S::UartOpen,
         [] {
             InjectB(16);
             return Read_FILE_UART(nullptr, 16);
         },
         {2}},
        {"Write_FILE_UART, null file name",
         S::UartOpen,
         [] { return Write_FILE_UART(nullptr, 10); },
         {7}},
        {"Read_FILE_UART_2, null file name",
         S::UartOpen,
         [] {
             InjectB(16);
             return Read_FILE_UART_2(nullptr, 16, 1, 0.0);
         },
         {2}},
        {"Write_FILE_UART_2, null file name",
         S::UartOpen,
         [] { return Write_FILE_UART_2(nullptr, 3, 0.0); },
         {7}},
        {"directoryB, null directory", S::Loaded, [] { return directoryB(nullptr); }, {0}},
        {"ProgramDevice, null strings",
         S::Loaded,
         [] { return ProgramDevice(nullptr, nullptr, nullptr); },
         {0}},

        // Zero and huge counts.
        {"JTAG_WriteTMS, count 6",
         S::MpsseOpen,
         [] {
             const uint8_t tms = 0x3F;
             return JTAG_WriteTMS(6, &tms);
         },
         {4}},
        {"JTAG_WriteTMS2, count 255",
         S::MpsseOpen,
         [] {
             const uint8_t tms = 0x3F;
             return JTAG_WriteTMS2(kTms, 255, &tms);
         },
         {4}},
        {"JTAG_WriteTDI, 0 bits", S::MpsseOpen, [] { return Shift(JTAG_WriteTDI, 0, true); }, {5}},
        {"JTAG_ReadTDO2, 0 bits", S::MpsseOpen, [] { return JTAG_ReadTDO2(kMode, 0); }, {5}},
        {"JTAG_WriteTDI capturing, 65536 bytes (65535 whole bytes and a tail of 8)",
         S::MpsseOpen,
         [] { return Shift(JTAG_WriteTDI, 65536 * 8, true); },
         {0}},
        {"JTAG_WriteTDI capturing, 65536 whole bytes",
         S::MpsseOpen,
         [] { return Shift(JTAG_WriteTDI, 65536 * 8 + 8, true); },
         {4}},
        {"JTAG_WriteTDI2 capturing, 65536 bytes",
         S::MpsseOpen,
         [] { return Shift(JTAG_WriteTDI2, 65536 * 8, true); },
         {0}},
        {"JTAG_WriteTDI queued, three length fields and more",
         S::MpsseOpen,
         [] { return Shift(JTAG_WriteTDI, 3 * 65536 * 8 + 13, false); },
         {0},
         [] { EXPECT_LE(mpsse::QueuedBytes(), kBuffer); }},
        {"JTAG_ReadTDO2, three length fields and more",
         S::MpsseOpen,
         [] { return JTAG_ReadTDO2(kMode, 3 * 65536 * 8 + 13); },
         {0},
         [] { EXPECT_LE(mpsse::QueuedBytes(), kBuffer); }},
        // 268 million fill bytes: channel A runs as a UART here, so the bytes go nowhere instead
        // of clocking the virtual chain two billion times.
        {"JTAG_Clk, the largest count",
         S::UartOpen,
         [] {
             SelectChannelA();
             return JTAG_Clk(kMode, std::numeric_limits<int>::max());
         },
         {0},
         [] {
             EXPECT_LE(mpsse::QueuedBytes(), kBuffer);
             EXPECT_LE(LargestWrite(), 60006u);
             EXPECT_EQ(kl::testing::CallsOf("FT_Write").size(), 4473u);
         }},
        {"JTAG_Clk, -1",
         S::MpsseOpen,
         [] { return JTAG_Clk(kMode, -1); },
         {0},
         [] { EXPECT_EQ(mpsse::QueuedBytes(), 10u); }},
        {"JTAG_Clk, the most negative count",
         S::MpsseOpen,
         [] { return JTAG_Clk(kMode, std::numeric_limits<int>::min()); },
         {0},
         [] { EXPECT_EQ(mpsse::QueuedBytes(), 10u); }},
        {"JTAG_RxFTDI, the largest count with nothing coming",
         S::MpsseOpen,
         [] {
             uint8_t reply[4];
             kl_u32 received = 7;
             return JTAG_RxFTDI(0xFFFFFFFF, reply, &received);
         },
         {4}},
        {"JTAG_RxFTDI, more bytes waiting than expected",
         S::MpsseOpen,
         [] {
             JTAG_ReadTDO2(kMode, 64);
             JTAG_Send2FTDI();
             auto reply = std::make_unique<uint8_t[]>(1);  // exactly the count: the sanitizer
             kl_u32 received = 0;                          // sees any byte written past it
             int result = JTAG_RxFTDI(1, reply.get(), &received);
             EXPECT_EQ(received, 1u);
             return result;
         },
         {0},
         [] { EXPECT_EQ(vc_rx_pending(0, 0), 0u); }},
        {"SPI_ReadDI, 0 bytes",
         S::MpsseOpen,
         [] {
             uint8_t buffer[1];
             kl_u32 received = 9;
             return SPI_ReadDI(kSpiRead, 0, buffer, &received);
         },
         {5}},
        {"SPI_WriteDO, 0 bytes",
         S::MpsseOpen,
         [] {
             const uint8_t data[1] = {};
             return SPI_WriteDO(kSpiWrite, 0, data);
         },
         {5}},
        {"FTDI_SetClk, the largest divisor",
         S::MpsseOpen,
         [] { return FTDI_SetClk(0xFFFFFFFF); },
         {17}},
        {"OpenDevice, divisor 0x10000",
         S::Loaded,
         [] { return OpenDevice(u"ZV7300LNK", u"", 0x10000); },
         {17}},
        {"Read_FILE_UART, size 0",
         S::UartOpen,
         [] { return Read_FILE_UART(ScratchPath("zero").c_str(), 0); },
         {1}},
        {"Read_FILE_UART, the largest size",
         S::UartOpen,
         [] { return Read_FILE_UART(ScratchPath("huge").c_str(), 0xFFFFFFFF); },
         {6, 8}},
        {"Read_FILE_UART_2, NaN time-out with nothing coming",
         S::UartOpen,
         [] { return Read_FILE_UART_2(Wide(ScratchPath("nan")).c_str(), 4, 0, kNaN); },
         {6}},
        {"Read_FILE_UART_2, negative time-out",
         S::UartOpen,
         [] { return Read_FILE_UART_2(Wide(ScratchPath("neg")).c_str(), 4, 0, -5.0); },
         {6}},
        {"Read_FILE_UART_2, NaN time-out with the bytes there",
         S::UartOpen,
         [] {
             InjectB(4);
             return Read_FILE_UART_2(Wide(ScratchPath("nan2")).c_str(), 4, 1, kNaN);
         },
         {0}},
        {"Write_FILE_UART, twice StagingBuffer and more",
         S::UartOpen,
         [] {
             WriteScratch("big", 2 * kBuffer + 5);
             vc_uart_peer_sink(0, 1);
             return Write_FILE_UART(ScratchPath("big").c_str(), 2 * kBuffer + 5);
         },
         {0},
         [] {
             EXPECT_EQ(vc_uart_received_count(0, 1), 2 * kBuffer + 5);
             EXPECT_LE(LargestWrite(), kBuffer);
         }},
        {"Write_FILE_UART_2, StagingBuffer and one byte",
         S::UartOpen,
         [] {
             WriteScratch("big2", 10);
             vc_uart_peer_sink(0, 1);
             return Write_FILE_UART_2(Wide(ScratchPath("big2")).c_str(), kBuffer + 1, 0.0);
         },
         {0},
         [] { EXPECT_EQ(vc_uart_received_count(0, 1), kBuffer + 1); }},

        // Strings longer than their buffers, and characters above U+00FF.
        {"OpenDevice, 5000-character description part",
         S::Loaded,
         [] { return OpenDevice(LongWide(5000).c_str(), LongWide(5000).c_str(), 5); },
         {5}},
        {"OpenDevice4, 5000-character parts",
         S::Loaded,
         [] { return OpenDevice4(LongWide(5000).c_str(), LongWide(5000).c_str(), 9600); },
         {5}},
        {"ProgramDevice, every string far too long",
         S::Loaded,
         [] {
             return ProgramDevice(LongWide(1000).c_str(), LongWide(1000).c_str(),
                                  LongWide(1000).c_str());
         },
         {0},
         [] {
             VcEepromView view{};
             vc_eeprom_view(0, &view);
             EXPECT_EQ(std::string(view.description).substr(0, 13), "ZV7300LNK??\xE9?");
         }},
        {"directoryB, 5000 characters, then a logged procedure",
         S::Loaded,
         [] {
             directoryB(LongWide(5000).c_str());
             return Erase_ProgedEEPROM();
         },
         {0}},
        {"Read_FILE_UART_2, file name above U+00FF",
         S::UartOpen,
         [] {
             InjectB(4);
             std::u16string name = Wide(ScratchPath("")) + u"\u4E2D\u00E9\U0001F600";
             int result = Read_FILE_UART_2(name.c_str(), 4, 1, 0.0);
             remove((ScratchPath("") + "\u4E2D\u00E9\U0001F600").c_str());
             return result;
         },
         {0}},

        // Files and directories that cannot be used.
        {"Write_FILE_UART, missing file",
         S::UartOpen,
         [] { return Write_FILE_UART("/nonexistent/kl/file", 10); },
         {7}},
        {"Write_FILE_UART_2, missing file",
         S::UartOpen,
         [] { return Write_FILE_UART_2(u"/nonexistent/kl/file", 10, 1.0); },
         {7}},
        {"Read_FILE_UART, missing directory",
         S::UartOpen,
         [] {
             InjectB(8);
             return Read_FILE_UART("/nonexistent/kl/file", 8);
         },
         {2}},
        {"Read_FILE_UART, a directory as the file",
         S::UartOpen,
         [] {
             InjectB(8);
             return Read_FILE_UART("/", 8);
         },
         {2}},
        {"Read_FILE_UART_2, unwritable place",
         S::UartOpen,
         [] {
             InjectB(8);
             return Read_FILE_UART_2(u"/proc/kl_file", 8, 1, 0.0);
         },
         {2}},
        {"ProgramDevice, log directory missing",
         S::Loaded,
         [] {
             directoryB(u"/nonexistent/kl");
             return ProgramDevice(u"ZV7300LNK", u"SN1", u"text");
         },
         {0}},
        {"Erase_ProgedEEPROM, log directory unwritable",
         S::Loaded,
         [] {
             directoryB(u"/proc");
             return Erase_ProgedEEPROM();
         },
         {0}},
    };
}

class HostileInputTest : public HardeningTest {};

TEST_F(HostileInputTest, EveryRowGivesItsResult) {
    const std::vector<HostileRow> rows = Rows();
    for (const HostileRow& row : rows) {
        SCOPED_TRACE(row.name);
        StartFresh(&log_);
        if (!EnterStart(row.start)) continue;
        vc_log_clear();
        const int result = row.call();
        bool expected = false;
        for (int allowed : row.results) expected = expected || allowed == result;
        EXPECT_TRUE(expected) << "result " << result;
        if (row.check) row.check();
        CloseDevice();
    }
    printf("hostile input rows: %zu\n", rows.size());
}

// After an unload releases the last load, calls find empty entries (status 1) instead of a
// library that may be gone, and a second unload releases nothing.
TEST_F(HostileInputTest, UnloadTwiceAndCallAfterwards) {
    ASSERT_EQ(LoadD2XXDLL(), 0);  // a second load: two unloads undo them
    EXPECT_EQ(UnLoadD2XXDLL(), 1);
    EXPECT_EQ(ChkDLLVer(0), 1) << "one load is still held";
    EXPECT_EQ(UnLoadD2XXDLL(), 1);
    EXPECT_EQ(UnLoadD2XXDLL(), 0);
    vc_log_clear();
    EXPECT_EQ(ChkDLLVer(0), 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), 2);
    EXPECT_EQ(vc_log_count(), 0u);
    ASSERT_EQ(LoadD2XXDLL(), 0);
}

}  // namespace
}  // namespace kl::hardening

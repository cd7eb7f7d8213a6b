// Hostile input, one row per case: null pointers in every pointer argument, zero and huge counts,
// strings far longer than their buffers or outside the byte range, files and directories that
// cannot be used, and time-outs that are not numbers. Each row gives the export's exact result;
// the sanitizer build checks that no row reads or writes out of bounds or leaks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "hardening_fixture.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"
#include "vcable.h"
#include "vcable_uart.h"

namespace rc = kestrellink_result_codes;

namespace kl::hardening {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr uint8_t kMode = 0x09;
constexpr uint8_t kTms = 0x4B;
constexpr uint8_t kTmsBits = 0x3F;
constexpr uint8_t kSpiRead = 0x20;
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
    int (*call)();
    std::vector<int> results;  // any of these
    void (*check)();           // further expectations after the call, or null
};

HostileRow MakeRow(const char* name, Start start, int (*call)(), std::vector<int> results,
                   void (*check)() = nullptr) {
    return {name, start, call, std::move(results), check};
}

// A row named by its call; KL_ROW_THEN adds the expectations of check after the call.
#define KL_ROW(start, call, ...) MakeRow(#call, Start::start, [] { return call; }, {__VA_ARGS__})
#define KL_ROW_THEN(check, start, call, ...) \
    MakeRow(                                 \
        #call, Start::start, [] { return call; }, {__VA_ARGS__}, check)

int Shift(int (*shift)(kl_u8, kl_u32, const kl_u8*, kl_u8*, kl_u32*, kl_u32), uint32_t bits,
          bool capture) {
    std::vector<uint8_t> tdi(bits / 8 + 1, 0xA5);
    std::vector<uint8_t> tdo(bits / 8 + 1);
    kl_u32 bitsRead = 0;
    return shift(kMode, bits, tdi.data(), capture ? tdo.data() : nullptr, &bitsRead, 1);
}

// A capturing shift whose caller does not want bitsRead.
int CaptureWithoutBitsRead() {
    const uint8_t tdi[2] = {0xA5, 0x0C};
    uint8_t tdo[2];
    return JTAG_WriteTDI(kMode, 12, tdi, tdo, nullptr, 1);
}

// Collects the nine reply bytes of a 64-bit read into a buffer of count bytes.
int CollectIdcodes(uint32_t count, kl_u32* received) {
    JTAG_ReadTDO2(kMode, 64);
    JTAG_Send2FTDI();
    auto reply = std::make_unique<uint8_t[]>(count);   // exactly the count: the sanitizer sees
    return JTAG_RxFTDI(count, reply.get(), received);  // any byte written past it
}

int CollectIntoOneByte() {
    kl_u32 received = 0;
    int result = CollectIdcodes(1, &received);
    EXPECT_EQ(received, 1u);
    return result;
}

int WaitForever() {
    uint8_t reply[4];
    kl_u32 received = 7;
    return JTAG_RxFTDI(0xFFFFFFFF, reply, &received);
}

// The largest clock count: 268 million fill bytes. Channel A runs as a UART here, so the bytes go
// nowhere instead of clocking the virtual chain two billion times.
int LargestClk() {
    SelectChannelA();
    return JTAG_Clk(kMode, std::numeric_limits<int>::max());
}

// Receives count bytes, already waiting on channel B, into the file called name.
int Receive(const char* name, uint32_t count) {
    InjectB(count);
    return Read_FILE_UART(name, count);
}
int Receive2(const char16_t* name, uint32_t count, double timeoutSeconds = 0.0) {
    InjectB(count);
    return Read_FILE_UART_2(name, count, 1, timeoutSeconds);
}

int ReceiveAboveU00FF() {
    const std::u16string name = Wide(ScratchPath("")) + u"\u4E2D\u00E9\U0001F600";
    int result = Receive2(name.c_str(), 4);
    remove((ScratchPath("") + "\u4E2D\u00E9\U0001F600").c_str());
    return result;
}

int SendShortFileAsStagingAndOne() {
    WriteScratch("short", 10);
    vc_uart_peer_sink(0, 1);
    return Write_FILE_UART_2(Wide(ScratchPath("short")).c_str(), kBuffer + 1, 0.0);
}

int ProgramWithLongStrings() {
    return ProgramDevice(LongWide(1000).c_str(), LongWide(1000).c_str(), LongWide(1000).c_str());
}

int EraseLoggingTo(const std::u16string& directory) {
    directoryB(directory.c_str());
    return Erase_ProgedEEPROM();
}

void ExpectQueueInsideTheBuffer() { EXPECT_LE(mpsse::QueuedBytes(), kBuffer); }
void ExpectOneClockBlockQueued() { EXPECT_EQ(mpsse::QueuedBytes(), 10u); }
void ExpectNothingLeftWaiting() { EXPECT_EQ(vc_rx_pending(0, 0), 0u); }
void ExpectStagingAndOneReceived() { EXPECT_EQ(vc_uart_received_count(0, 1), kBuffer + 1); }
void ExpectClockBlocksWithinTheirSize() {
    ExpectQueueInsideTheBuffer();
    EXPECT_LE(LargestWrite(), 60006u);
    EXPECT_EQ(kl::testing::CallsOf("FT_Write").size(), 4473u);
}
// The record's strings as the chip was given them (too long for its EEPROM, which refuses them).
void ExpectDescriptionCutWithQuestionMarks() {
    const VcCall program = kl::testing::CallsOf("FT_EE_Program").at(0);
    const std::string strings(reinterpret_cast<const char*>(program.data), program.data_length);
    EXPECT_EQ(strings.substr(14, 13), "ZV7300LNK??\xE9?");
}

// Cases the library tests do not already pin, one row each.
std::vector<HostileRow> Rows() {
    return {
        // Null pointers: inputs count as empty, outputs are not written, data gives result 4.
        KL_ROW(Loaded, OpenDevice(nullptr, nullptr, 5), 0),
        KL_ROW(Loaded, OpenDevice4(nullptr, nullptr, 115200), 0),
        KL_ROW(Loaded, OpenDevice5(nullptr, nullptr, 5), 0),
        KL_ROW(Loaded, OpenDevice5_B7(nullptr, nullptr, 5), 0),
        KL_ROW(Loaded, OpenDevice5_B8(nullptr, nullptr, 5), 0),
        KL_ROW(Loaded, OpenDevice5_CopyE(nullptr, nullptr, 5), 0),
        KL_ROW(Loaded, OpenDevice_EDP(nullptr, nullptr, 5), 0),
        KL_ROW(Loaded, OpenDevice_EDP2(nullptr, nullptr, 5, nullptr), 0),
        KL_ROW(UartOpen, CheckDeviceTalkable(nullptr, nullptr, 5), 0),
        KL_ROW(MpsseOpen, JTAG_WriteTDI(kMode, 12, nullptr, nullptr, nullptr, 1), 4),
        KL_ROW(MpsseOpen, CaptureWithoutBitsRead(), 0),
        KL_ROW(MpsseOpen, CollectIdcodes(9, nullptr), 0),
        KL_ROW(MpsseOpen, SPI_ReadDI(kSpiRead, 10, nullptr, nullptr), 0),
        KL_ROW(UartOpen, Receive(nullptr, 16), 2),
        KL_ROW(Loaded, ProgramDevice(nullptr, nullptr, nullptr), 0),

        // Huge and negative counts.
        KL_ROW(MpsseOpen, JTAG_WriteTMS2(kTms, 255, &kTmsBits), 4),
        KL_ROW(MpsseOpen, Shift(JTAG_WriteTDI, 65536 * 8, true), 0),  // the longest capture
        KL_ROW_THEN(ExpectQueueInsideTheBuffer, MpsseOpen,
                    Shift(JTAG_WriteTDI, 3 * 65536 * 8 + 13, false), 0),
        KL_ROW_THEN(ExpectQueueInsideTheBuffer, MpsseOpen, JTAG_ReadTDO2(kMode, 3 * 65536 * 8 + 13),
                    0),
        KL_ROW_THEN(ExpectClockBlocksWithinTheirSize, UartOpen, LargestClk(), 0),
        KL_ROW_THEN(ExpectOneClockBlockQueued, MpsseOpen, JTAG_Clk(kMode, -1), 0),
        KL_ROW_THEN(ExpectOneClockBlockQueued, MpsseOpen,
                    JTAG_Clk(kMode, std::numeric_limits<int>::min()), 0),
        KL_ROW(MpsseOpen, WaitForever(), 4),
        KL_ROW_THEN(ExpectNothingLeftWaiting, MpsseOpen, CollectIntoOneByte(), 0),
        KL_ROW(MpsseOpen, FTDI_SetClk(0xFFFFFFFF), 17),
        KL_ROW(UartOpen, Read_FILE_UART(ScratchPath("zero").c_str(), 0), 1),
        KL_ROW(UartOpen, Read_FILE_UART(ScratchPath("huge").c_str(), 0xFFFFFFFF), 6, 8),
        KL_ROW_THEN(ExpectStagingAndOneReceived, UartOpen, SendShortFileAsStagingAndOne(), 0),

        // Time-outs that are not numbers or are negative.
        KL_ROW(UartOpen, Read_FILE_UART_2(Wide(ScratchPath("nan")).c_str(), 4, 0, kNaN), 6),
        KL_ROW(UartOpen, Read_FILE_UART_2(Wide(ScratchPath("neg")).c_str(), 4, 0, -5.0), 6),
        KL_ROW(UartOpen, Receive2(Wide(ScratchPath("nan2")).c_str(), 4, kNaN), 0),

        // Strings longer than their buffers, and characters above U+00FF.
        KL_ROW(Loaded, OpenDevice(LongWide(5000).c_str(), LongWide(5000).c_str(), 5), 5),
        KL_ROW(Loaded, OpenDevice4(LongWide(5000).c_str(), LongWide(5000).c_str(), 9600), 5),
        KL_ROW_THEN(ExpectDescriptionCutWithQuestionMarks, Loaded, ProgramWithLongStrings(), 0),
        KL_ROW(Loaded, EraseLoggingTo(LongWide(5000)), 0),
        KL_ROW(UartOpen, ReceiveAboveU00FF(), 0),

        // Files and directories that cannot be used.
        KL_ROW(UartOpen, Write_FILE_UART_2(u"/nonexistent/kl/file", 10, 1.0), 7),
        KL_ROW(UartOpen, Receive("/nonexistent/kl/file", 8), 2),
        KL_ROW(UartOpen, Receive("/", 8), 2),
        KL_ROW(UartOpen, Receive2(u"/proc/kl_file", 8), 2),
        KL_ROW(Loaded, EraseLoggingTo(u"/proc"), 0),
    };
}

#undef KL_ROW
#undef KL_ROW_THEN

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
    ASSERT_EQ(LoadD2XXDLL(), rc::kLoadOk);  // a second load: two unloads undo them
    EXPECT_EQ(UnLoadD2XXDLL(), rc::kUnloadReleased);
    EXPECT_EQ(ChkDLLVer(0), rc::kVersionAtLeast) << "one load is still held";
    EXPECT_EQ(UnLoadD2XXDLL(), rc::kUnloadReleased);
    EXPECT_EQ(UnLoadD2XXDLL(), rc::kUnloadNothing);
    vc_log_clear();
    EXPECT_EQ(ChkDLLVer(0), rc::kVersionUnread);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenRescanFailed);
    EXPECT_EQ(vc_log_count(), 0u);
    ASSERT_EQ(LoadD2XXDLL(), rc::kLoadOk);
}

}  // namespace
}  // namespace kl::hardening

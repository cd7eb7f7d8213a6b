// Serial transfers and DTR end to end: the library on channel B of the virtual cable, with the
// channel's peer as the other end of the line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"
#include "uart/uart.h"
#include "vcable.h"
#include "vcable_uart.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

constexpr int kDevice = 0;
constexpr int kChannelB = 1;
constexpr uint32_t kIoError = 4;

std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 7) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + seed + (i >> 8));
    return bytes;
}

// ctest runs tests in parallel processes: each process gets its own files.
std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "kl_uart_" + std::to_string(getpid()) + "_" + name;
}

std::u16string Wide(const std::string& narrow) {
    return std::u16string(narrow.begin(), narrow.end());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    int c;
    while ((c = fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    fclose(file);
    return bytes;
}

bool FileExists(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file) fclose(file);
    return file != nullptr;
}

std::vector<uint8_t> PeerReceived() {
    std::vector<uint8_t> bytes(vc_uart_received_count(kDevice, kChannelB));
    bytes.resize(vc_uart_received_read(kDevice, kChannelB, 0, bytes.data(),
                                       static_cast<uint32_t>(bytes.size())));
    return bytes;
}

std::vector<uint8_t> DtrHistory() {
    std::vector<uint8_t> levels(vc_uart_dtr_history(kDevice, kChannelB, nullptr, 0));
    vc_uart_dtr_history(kDevice, kChannelB, levels.data(), static_cast<uint32_t>(levels.size()));
    return levels;
}

void Inject(const std::vector<uint8_t>& bytes) {
    vc_inject_rx(kDevice, kChannelB, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

const std::u16string kWriteError = u"E11.11 Write I/O error. Please unplug cable and re-try";

// A UART connection (OpenDevice3 at 115200) with channel B current and its traffic forgotten.
class UartTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_EQ(OpenDevice3(115200), rc::kUartOpenOk);
        ForgetTraffic();
    }
    void TearDown() override {
        for (const char* name : {"in", "out", "out2", "short"}) remove(TempPath(name).c_str());
        LibraryTest::TearDown();
    }
};

TEST_F(UartTest, SentFilesArriveByteForByteAtTheSink) {
    const std::vector<uint8_t> data = Pattern(1000);
    WriteFile(TempPath("in"), data);
    vc_uart_peer_sink(kDevice, kChannelB);
    EXPECT_EQ(Write_FILE_UART(TempPath("in").c_str(), 1000), rc::kSendOk);
    EXPECT_EQ(Write_FILE_UART_2(Wide(TempPath("in")).c_str(), 1000, 0.0), rc::kSendOk);
    std::vector<uint8_t> twice = data;
    twice.insert(twice.end(), data.begin(), data.end());
    EXPECT_BYTES(twice, PeerReceived());
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(UartTest, ALargeFileRoundTripsThroughLoopbackInPiecesOfStagingSize) {
    const std::vector<uint8_t> data = Pattern(300000);
    WriteFile(TempPath("in"), data);
    vc_uart_peer_loopback(kDevice, kChannelB);
    ASSERT_EQ(Write_FILE_UART(TempPath("in").c_str(), 300000), rc::kSendOk);
    std::vector<uint32_t> pieces;
    for (const VcCall& call : CallsOf("FT_Write")) pieces.push_back(call.transferred);
    EXPECT_EQ(pieces, (std::vector<uint32_t>{131072, 131072, 37856}));
    ASSERT_EQ(Read_FILE_UART(TempPath("out").c_str(), 300000), rc::kReceiveOk);
    EXPECT_TRUE(ReadFile(TempPath("out")) == data) << "received file differs";
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 0u);
}

TEST_F(UartTest, AShorterFileIsPaddedWithZeros) {
    WriteFile(TempPath("short"), Pattern(40));
    vc_uart_peer_sink(kDevice, kChannelB);
    ASSERT_EQ(Write_FILE_UART(TempPath("short").c_str(), 100), rc::kSendOk);
    std::vector<uint8_t> expected = Pattern(40);
    expected.resize(100, 0);
    EXPECT_BYTES(expected, PeerReceived());
}

TEST_F(UartTest, SendersReportFilesAndWritesThatFail) {
    WriteFile(TempPath("in"), Pattern(10));
    EXPECT_EQ(Write_FILE_UART("/nonexistent/kl_uart", 10), rc::kSendCannotOpenFile);
    EXPECT_EQ(Write_FILE_UART(nullptr, 10), rc::kSendCannotOpenFile);
    EXPECT_EQ(Write_FILE_UART_2(nullptr, 10, 0.0), rc::kSendCannotOpenFile);
    EXPECT_TRUE(MessageBoxes().empty());
    EXPECT_TRUE(CallsOf("FT_Write").empty());

    vc_fault_fail("FT_Write", 1, kIoError, 1);
    EXPECT_EQ(Write_FILE_UART(TempPath("in").c_str(), 10), rc::kSendFailed);
    EXPECT_EQ(Write_FILE_UART_2(Wide(TempPath("in")).c_str(), 10, 0.0), rc::kSendFailed);
    EXPECT_EQ(Write_UART(), rc::kUartFailed);
    EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>(3, kWriteError));
}

TEST_F(UartTest, WriteUartSendsThePinCommandWithTdiLow) {
    vc_uart_peer_sink(kDevice, kChannelB);
    EXPECT_EQ(Write_UART(), rc::kUartOk);
    EXPECT_BYTES((std::vector<uint8_t>{0x80, 0xF8, 0xCB, 0x85}), PeerReceived());
}

TEST_F(UartTest, APeerUnderstandsOnlyTheLineItIsBuiltFor) {
    // The default scenario's loopback records too.
    EXPECT_EQ(Write_UART(), rc::kUartOk);
    EXPECT_EQ(vc_uart_received_count(kDevice, kChannelB), 4u);

    vc_uart_peer_sink(kDevice, kChannelB);
    ASSERT_EQ(vc_uart_peer_line(kDevice, kChannelB, 115200, 8, 0, 0), 0);
    EXPECT_EQ(Write_UART(), rc::kUartOk);
    ASSERT_EQ(vc_uart_peer_line(kDevice, kChannelB, 9600, 8, 0, 0), 0);
    EXPECT_EQ(Write_UART(), rc::kUartOk);
    EXPECT_EQ(vc_uart_received_count(kDevice, kChannelB), 4u);
    EXPECT_EQ(vc_uart_garbled_count(kDevice, kChannelB), 4u);
}

TEST_F(UartTest, PacedSendWritesOneByteAtATimeInOrder) {
    uart::SetPacingIntervalMsForTests(1);
    WriteFile(TempPath("in"), {0x11, 0x22, 0x33});
    vc_uart_peer_sink(kDevice, kChannelB);
    for (double pacing : {1.0, -2.5, std::nan("")}) {
        vc_log_clear();
        ASSERT_EQ(Write_FILE_UART_2(Wide(TempPath("in")).c_str(), 3, pacing), rc::kSendOk);
        std::vector<uint8_t> written;
        for (const VcCall& call : CallsOf("FT_Write")) {
            ASSERT_EQ(call.data_length, 1u);
            written.push_back(call.data[0]);
        }
        EXPECT_BYTES((std::vector<uint8_t>{0x11, 0x22, 0x33}), written);
    }
    vc_log_clear();
    EXPECT_EQ(Write_FILE_UART_2(Wide(TempPath("in")).c_str(), 0, 1.0), rc::kSendOk);
    EXPECT_TRUE(CallsOf("FT_Write").empty());

    vc_fault_fail("FT_Write", 2, kIoError, 0);
    vc_uart_peer_sink(kDevice, kChannelB);
    EXPECT_EQ(Write_FILE_UART_2(Wide(TempPath("in")).c_str(), 3, 1.0), rc::kSendFailed);
    EXPECT_BYTES((std::vector<uint8_t>{0x11}), PeerReceived());
    EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>{kWriteError});
}

TEST_F(UartTest, ReadFileUartWaitsForExactlyTheSizeWithinItsPassCount) {
    uart::SetReadFilePassLimitForTests(200);
    vc_uart_peer_none(kDevice, kChannelB);
    struct Case {
        size_t waiting;
        int result;
    };
    // A time-out returns the bytes waiting (12 overshoots the size of 10), or 6 with none.
    for (const Case& c : {Case{0, rc::kReceiveTimedOutEmpty}, Case{2, 2}, Case{12, 12}}) {
        SCOPED_TRACE(c.waiting);
        vc_log_clear();
        Inject(Pattern(c.waiting));
        EXPECT_EQ(Read_FILE_UART(TempPath("out").c_str(), 10), c.result);
        EXPECT_EQ(vc_log_count_entry("FT_GetQueueStatus"), 199u);
        EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), c.waiting);
        EXPECT_FALSE(FileExists(TempPath("out")));
        // Leave the queue empty for the next row.
        if (c.waiting) {
            ASSERT_EQ(Read_FILE_UART(TempPath("out").c_str(), c.waiting), rc::kReceiveOk);
        }
        remove(TempPath("out").c_str());
    }
}

// The pass count seen from the peer's side: bytes that arrive at the last poll the receiver makes
// are stored; one poll later they come too late and the receiver has already given up.
TEST_F(UartTest, ReadFileUartPollsOneTimeFewerThanItsPassCount) {
    // Counts the polls exactly: the script's bytes must be whole at the poll that produces them.
    vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
    uart::SetReadFilePassLimitForTests(30);
    const std::vector<uint8_t> data = Pattern(10);
    struct Row {
        uint32_t arrivesAtPoll;
        int result;
    };
    for (const Row& row : {Row{29, rc::kReceiveOk}, Row{30, rc::kReceiveTimedOutEmpty}}) {
        SCOPED_TRACE(row.arrivesAtPoll);
        remove(TempPath("out").c_str());
        ASSERT_EQ(vc_uart_peer_script(kDevice, kChannelB, data.data(), 10, VC_UART_AFTER_POLLS,
                                      row.arrivesAtPoll),
                  0);
        EXPECT_EQ(Read_FILE_UART(TempPath("out").c_str(), 10), row.result);
        EXPECT_EQ(FileExists(TempPath("out")), row.result == rc::kReceiveOk);
    }
}

TEST_F(UartTest, ReceiversStoreWhatArrivesFromAnEchoAfterSomePolls) {
    // Counts the polls exactly: the echo's bytes must be whole at the poll that produces them.
    vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
    vc_uart_peer_echo(kDevice, kChannelB, 5);
    const std::vector<uint8_t> data = Pattern(64);
    WriteFile(TempPath("in"), data);
    ASSERT_EQ(Write_FILE_UART(TempPath("in").c_str(), 64), rc::kSendOk);
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 0u);
    ASSERT_EQ(Read_FILE_UART(TempPath("out").c_str(), 64), rc::kReceiveOk);
    EXPECT_BYTES(data, ReadFile(TempPath("out")));
    EXPECT_EQ(vc_log_count_entry("FT_GetQueueStatus"), 5u);
}

TEST_F(UartTest, ReadFileUart2KeepsTheFirstSizeBytesAndDrainsTheRest) {
    vc_uart_peer_none(kDevice, kChannelB);
    WriteFile(TempPath("out2"), Pattern(500, 99));
    const std::vector<uint8_t> data = Pattern(300);
    Inject(data);
    ASSERT_EQ(Read_FILE_UART_2(Wide(TempPath("out2")).c_str(), 200, 1, 2.0), rc::kReceiveOk);
    EXPECT_BYTES(std::vector<uint8_t>(data.begin(), data.begin() + 200),
                 ReadFile(TempPath("out2")));
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 0u);

    // Deleting a file that does not exist is no obstacle.
    remove(TempPath("out2").c_str());
    Inject(data);
    ASSERT_EQ(Read_FILE_UART_2(Wide(TempPath("out2")).c_str(), 300, 1, 2.0), rc::kReceiveOk);
    EXPECT_BYTES(data, ReadFile(TempPath("out2")));
}

TEST_F(UartTest, ReadFileUart2TimesOutOnTheCalendarClock) {
    vc_uart_peer_none(kDevice, kChannelB);
    EXPECT_EQ(Read_FILE_UART_2(Wide(TempPath("out2")).c_str(), 10, 0, 0.0),
              rc::kReceiveTimedOutEmpty);
    Inject(Pattern(8));
    EXPECT_EQ(Read_FILE_UART_2(Wide(TempPath("out2")).c_str(), 10, 0, 0.0), rc::kReceiveNoMemory);
    EXPECT_FALSE(FileExists(TempPath("out2")));
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 8u);
}

TEST_F(UartTest, ReceiversLoseTheBytesWhenTheFileCannotBeCreated) {
    vc_uart_peer_none(kDevice, kChannelB);
    Inject(Pattern(10));
    EXPECT_EQ(Read_FILE_UART(nullptr, 10), rc::kReceiveCannotWriteFile);
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 0u);
    Inject(Pattern(10));
    EXPECT_EQ(Read_FILE_UART_2(u"/nonexistent/kl_uart", 10, 1, 1.0), rc::kReceiveCannotWriteFile);
    Inject(Pattern(10));
    EXPECT_EQ(Read_FILE_UART_2(nullptr, 10, 1, 1.0), rc::kReceiveCannotWriteFile);
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 0u);
}

TEST_F(UartTest, AFailedReadGivesOneAfterTheReadReport) {
    vc_uart_peer_none(kDevice, kChannelB);
    vc_fault_fail("FT_Read", 1, kIoError, 1);
    Inject(Pattern(10));
    EXPECT_EQ(Read_FILE_UART(TempPath("out").c_str(), 10), rc::kReceiveFailed);
    EXPECT_EQ(Read_FILE_UART_2(Wide(TempPath("out")).c_str(), 10, 0, 1.0), rc::kReceiveFailed);
    EXPECT_EQ(Read_UART(), rc::kUartFailed);
    EXPECT_EQ(MessageBoxes(), std::vector<std::u16string>(3, u"FT_Read - General IO Error"));
    EXPECT_FALSE(FileExists(TempPath("out")));
}

TEST_F(UartTest, ReadUartTakesEverythingWaitingOrGivesUpWithNothing) {
    // Counts the polls exactly: the scripted reply must be there at the poll that produces it.
    vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
    mpsse::SetNoProgressLimitMsForTests(20);
    vc_uart_peer_none(kDevice, kChannelB);
    EXPECT_EQ(Read_UART(), rc::kUartFailed);

    Inject(Pattern(200000));
    EXPECT_EQ(Read_UART(), rc::kUartOk);
    EXPECT_EQ(vc_rx_pending(kDevice, kChannelB), 0u);

    // The scripted reply comes after four polls, however long the machine takes to make them.
    mpsse::SetNoProgressLimitMsForTests(mpsse::kNoProgressLimitMs);
    const uint8_t reply[] = {0x41, 0x42};
    vc_uart_peer_script(kDevice, kChannelB, reply, 2, VC_UART_AFTER_POLLS, 4);
    vc_log_clear();
    EXPECT_EQ(Read_UART(), rc::kUartOk);
    EXPECT_EQ(vc_log_count_entry("FT_GetQueueStatus"), 4u);
}

TEST_F(UartTest, DtrAsThePeerSeesIt) {
    vc_uart_peer_sink(kDevice, kChannelB);
    EXPECT_EQ(Set_Dtr(), rc::kUartOk);
    EXPECT_EQ(Clr_Dtr(), rc::kUartOk);
    EXPECT_EQ(Set_Dtr(), rc::kUartOk);
    EXPECT_BYTES((std::vector<uint8_t>{1, 0, 1}), DtrHistory());
    EXPECT_TRUE(MessageBoxes().empty());

    vc_fault_fail("FT_SetDtr", 1, kIoError, 0);
    vc_fault_fail("FT_ClrDtr", 1, kIoError, 0);
    EXPECT_EQ(Set_Dtr(), rc::kUartFailed);
    EXPECT_EQ(Clr_Dtr(), rc::kUartFailed);
    EXPECT_EQ(MessageBoxes(),
              (std::vector<std::u16string>{u"E11.05 Cannot Set DTR", u"E11.05 Cannot Clear DTR"}));
    EXPECT_BYTES((std::vector<uint8_t>{1, 0, 1}), DtrHistory());
}

TEST_F(UartTest, DtrWithoutTheVendorLibraryShowsItsMessage) {
    UnLoadD2XXDLL();
    EXPECT_EQ(Set_Dtr(), rc::kUartFailed);
    EXPECT_EQ(Clr_Dtr(), rc::kUartFailed);
    EXPECT_EQ(MessageBoxes(),
              (std::vector<std::u16string>{u"E11.05 Cannot Set DTR", u"E11.05 Cannot Clear DTR"}));
}

TEST_F(UartTest, AScriptedDeviceAnswersARisingDtr) {
    const std::vector<uint8_t> banner = Pattern(32, 1);
    WriteFile(TempPath("in"), banner);
    ASSERT_EQ(vc_uart_peer_script_file(kDevice, kChannelB, TempPath("in").c_str(),
                                       VC_UART_ON_DTR_RISE, 0),
              0);
    ASSERT_EQ(Set_Dtr(), rc::kUartOk);
    ASSERT_EQ(Read_FILE_UART_2(Wide(TempPath("out")).c_str(), 32, 0, 2.0), rc::kReceiveOk);
    EXPECT_BYTES(banner, ReadFile(TempPath("out")));
}

}  // namespace
}  // namespace kl::testing

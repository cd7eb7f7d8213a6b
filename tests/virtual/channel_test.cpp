// Channel behaviour: MPSSE echo, UART loopback, settings and their validation, receive queue.
#include "vcable_fixture.h"
#include "vcable_targets.h"
#include "vcable_uart.h"

using namespace vcable;

namespace {

class ChannelTest : public VcableTest {};

TEST_F(ChannelTest, ChannelAInMpsseModeAnswersTheBadCommandEcho) {
    void* a = OpenAt(0x0211);
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeReset), kFtOk);
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeMpsse), kFtOk);
    Write(a, {0xAA});
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xFA, 0xAA}), ReadAll(a));
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xAA}), TxCapture(0, 0));
}

TEST_F(ChannelTest, SelectingMpsseAgainRestartsTheCommandParser) {
    void* a = OpenAt(0x0211);
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeMpsse), kFtOk);
    Write(a, {0x19, 0x03});  // a byte write left waiting for its length's high byte
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeMpsse), kFtOk);
    Write(a, {0xAA});
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xFA, 0xAA}), ReadAll(a));
}

TEST_F(ChannelTest, WritesInResetModeAreCapturedButNotAnswered) {
    void* a = OpenAt(0x0211);
    Write(a, {0xAA, 0x01});
    EXPECT_TRUE(ReadAll(a).empty());
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xAA, 0x01}), TxCapture(0, 0));
}

TEST_F(ChannelTest, ChannelBLoopsUartBytesBack) {
    void* b = OpenAt(0x0212);
    std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(Write(b, text), 5u);
    EXPECT_BYTES_EQ(text, ReadAll(b));
    vc_set_loopback_peer(0, 1, 0);
    Write(b, text);
    EXPECT_TRUE(ReadAll(b).empty());
}

TEST_F(ChannelTest, ReadsTakeWhatIsQueuedInOrderAcrossCalls) {
    void* b = OpenAt(0x0212);
    std::vector<uint8_t> injected(300);
    for (size_t i = 0; i < injected.size(); ++i) injected[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(vc_inject_rx(0, 1, injected.data(), 300), 0);
    std::vector<uint8_t> got(400);
    uint32_t read = 0;
    ASSERT_EQ(FT_Read(b, got.data(), 100, &read), kFtOk);
    EXPECT_EQ(read, 100u);
    ASSERT_EQ(FT_Read(b, got.data() + 100, 300, &read), kFtOk);
    EXPECT_EQ(read, 200u);  // no more than is queued
    got.resize(300);
    EXPECT_BYTES_EQ(injected, got);
    EXPECT_EQ(vc_rx_pending(0, 1), 0u);
}

TEST_F(ChannelTest, PurgeAndCloseDropPendingBytes) {
    void* b = OpenAt(0x0212);
    uint8_t bytes[] = {1, 2, 3};
    vc_inject_rx(0, 1, bytes, 3);
    EXPECT_EQ(FT_Purge(b, kPurgeTx), kFtOk);
    EXPECT_EQ(vc_rx_pending(0, 1), 3u);
    EXPECT_EQ(FT_Purge(b, kPurgeRx), kFtOk);
    EXPECT_EQ(vc_rx_pending(0, 1), 0u);
    vc_inject_rx(0, 1, bytes, 3);
    EXPECT_EQ(FT_Close(b), kFtOk);
    EXPECT_EQ(vc_rx_pending(0, 1), 0u);
}

TEST_F(ChannelTest, SettingsAreValidatedAndKept) {
    void* a = OpenAt(0x0211);
    void* b = OpenAt(0x0212);
    struct Row {
        const char* name;
        uint32_t status;
    };
    const Row rows[] = {
        {"latency 1", FT_SetLatencyTimer(b, 1)},
        {"9 data bits", FT_SetDataCharacteristics(b, 9, 0, 0)},
        {"1.5 stop bits", FT_SetDataCharacteristics(b, 8, 1, 0)},
        {"parity 5", FT_SetDataCharacteristics(b, 8, 0, 5)},
        {"flow 0x0300", FT_SetFlowControl(b, 0x0300, 0, 0)},
        {"bit mode 0x03", FT_SetBitMode(a, 0, 0x03)},
        {"MPSSE on channel B", FT_SetBitMode(b, 0, kBitModeMpsse)},
    };
    for (const Row& row : rows) EXPECT_NE(row.status, kFtOk) << row.name;

    EXPECT_EQ(FT_SetBaudRate(b, 115200), kFtOk);
    EXPECT_EQ(FT_SetLatencyTimer(b, 2), kFtOk);
    EXPECT_EQ(FT_SetDataCharacteristics(b, 8, 0, 0), kFtOk);
    EXPECT_EQ(FT_SetFlowControl(b, kFlowNone, 0, 0), kFtOk);
    EXPECT_EQ(FT_SetDtr(b), kFtOk);
    EXPECT_EQ(FT_ClrDtr(b), kFtOk);
    EXPECT_EQ(FT_SetDtr(b), kFtOk);
    VcChannelSettings s;
    ASSERT_EQ(vc_channel_settings(0, 1, &s), 0);
    EXPECT_EQ(s.baud_rate, 115200u);
    EXPECT_EQ(s.latency_ms, 2);
    EXPECT_EQ(s.word_length, 8);
    EXPECT_EQ(s.flow_control, 0);
    EXPECT_EQ(s.dtr, 1);
    EXPECT_EQ(s.dtr_changes, 3u);
    uint8_t latency = 0;
    EXPECT_EQ(FT_GetLatencyTimer(b, &latency), kFtOk);
    EXPECT_EQ(latency, 2);
}

TEST_F(ChannelTest, BaudRatesNeedADivisorWithinThreePercent) {
    void* b = OpenAt(0x0212);
    struct Row {
        uint32_t requested;
        uint32_t achieved;  // 0: refused
    };
    const Row rows[] = {
        {3000000, 3000000}, {3090000, 3000000}, {3100000, 0},  // divisor 0, 3 % either side
        {2500000, 0},       {2000000, 2000000},                // divisor 1; nothing in between
        {1750000, 0},       {1500000, 1500000},                // the smallest divisor n + k/8
        {115200, 115385},   {9600, 9600},       {300, 300},
        {178, 183},         {177, 0},           {0, 0},  // 16383 + 7/8 is the largest divisor
    };
    for (const Row& row : rows) {
        const uint32_t status = FT_SetBaudRate(b, row.requested);
        EXPECT_EQ(status, row.achieved ? kFtOk : kFtInvalidBaudRate) << row.requested;
        VcChannelSettings s{};
        vc_channel_settings(0, 1, &s);
        if (row.achieved) {
            EXPECT_EQ(s.achieved_baud_rate, row.achieved) << row.requested;
        }
    }
}

TEST_F(ChannelTest, AUartPeerReadsTheRateTheChipAchieves) {
    void* b = OpenAt(0x0212);
    ASSERT_EQ(vc_uart_peer_sink(0, 1), 0);
    // 3 MBd / 26 = 115385 baud; a peer 3 % away from that reads garbage.
    ASSERT_EQ(vc_uart_peer_line(0, 1, 118900, 8, 0, 0), 0);
    ASSERT_EQ(FT_SetBaudRate(b, 115200), kFtOk);
    Write(b, {1, 2});
    EXPECT_EQ(vc_uart_garbled_count(0, 1), 0u);
    ASSERT_EQ(vc_uart_peer_line(0, 1, 119000, 8, 0, 0), 0);
    Write(b, {3});
    EXPECT_EQ(vc_uart_garbled_count(0, 1), 1u);
}

TEST_F(ChannelTest, ResetDevicePurgesBothWaysAndClearsDtr) {
    void* a = OpenAt(0x0211);
    void* b = OpenAt(0x0212);
    ASSERT_EQ(vc_uart_peer_sink(0, 1), 0);
    ASSERT_EQ(FT_SetDtr(b), kFtOk);
    const uint8_t stale[] = {1, 2, 3};
    vc_inject_rx(0, 1, stale, 3);
    ASSERT_EQ(FT_ResetDevice(b), kFtOk);
    EXPECT_EQ(vc_rx_pending(0, 1), 0u);
    uint8_t history[4] = {};
    ASSERT_EQ(vc_uart_dtr_history(0, 1, history, 4), 2u);
    EXPECT_EQ(history[1], 0);  // the peer saw DTR fall
    VcChannelSettings s{};
    vc_channel_settings(0, 1, &s);
    EXPECT_EQ(s.dtr, 0);
    EXPECT_EQ(s.resets, 1u);

    // Channel A: commands held by a wait on GPIOL1 go too.
    ASSERT_EQ(FT_SetBitMode(a, 0, kBitModeMpsse), kFtOk);
    vc_gpio_set_input(0, 5, 0);
    Write(a, {0x88, 0x81});
    ASSERT_EQ(vc_mpsse_waiting(0), 1);
    ASSERT_EQ(FT_ResetDevice(a), kFtOk);
    vc_gpio_set_input(0, 5, 1);
    uint32_t pending = 0;
    ASSERT_EQ(FT_GetQueueStatus(a, &pending), kFtOk);
    EXPECT_EQ(pending, 0u);  // the 0x81 was dropped, not run
    EXPECT_EQ(vc_mpsse_waiting(0), 0);
}

TEST_F(ChannelTest, UnmodelledBitModeWritesAreReportedAsModelErrors) {
    void* a = OpenAt(0x0211);
    ASSERT_EQ(FT_SetBitMode(a, 0xFF, kBitModeAsyncBitBang), kFtOk);
    EXPECT_EQ(vc_model_error_count(), 0u);
    uint8_t byte = 0x55;
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(a, &byte, 1, &written), kFtOk);
    ASSERT_EQ(vc_model_error_count(), 1u);
    EXPECT_NE(std::string(vc_model_error(0)).find("bit mode 0x01"), std::string::npos);
}

TEST_F(ChannelTest, LibraryVersionIsSettable) {
    uint32_t version = 0;
    EXPECT_EQ(FT_GetLibraryVersion(&version), kFtOk);
    EXPECT_EQ(version, 0x00030216u);
    vc_set_library_version(0x00030300);
    EXPECT_EQ(FT_GetLibraryVersion(&version), kFtOk);
    EXPECT_EQ(version, 0x00030300u);
    vc_reset();
    EXPECT_EQ(FT_GetLibraryVersion(&version), kFtOk);
    EXPECT_EQ(version, 0x00030216u);
}

}  // namespace

// Channel behaviour: MPSSE echo, UART loopback, settings and their validation, receive queue.
#include "vcable_fixture.h"

using namespace vcable;

namespace {

class ChannelTest : public VcableTest {};

uint32_t Write(void* handle, std::vector<uint8_t> bytes) {
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written), kFtOk);
    return written;
}

TEST_F(ChannelTest, ChannelAInMpsseModeAnswersTheBadCommandEcho) {
    void* a = OpenAt(0x0211);
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeReset), kFtOk);
    ASSERT_EQ(FT_SetBitMode(a, 0x00, kBitModeMpsse), kFtOk);
    Write(a, {0xAA});
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xFA, 0xAA}), ReadAll(a));
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xAA}), TxCapture(0, 0));
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
        {"baud 0", FT_SetBaudRate(b, 0)},
        {"baud too high", FT_SetBaudRate(b, 3000001)},
        {"latency 1", FT_SetLatencyTimer(b, 1)},
        {"9 data bits", FT_SetDataCharacteristics(b, 9, 0, 0)},
        {"1.5 stop bits", FT_SetDataCharacteristics(b, 8, 1, 0)},
        {"parity 5", FT_SetDataCharacteristics(b, 8, 0, 5)},
        {"flow 0x0300", FT_SetFlowControl(b, 0x0300, 0, 0)},
        {"bit mode 0x03", FT_SetBitMode(a, 0, 0x03)},
        {"MPSSE on channel B", FT_SetBitMode(b, 0, kBitModeMpsse)},
    };
    EXPECT_EQ(FT_SetBaudRate(b, 0), kFtInvalidBaudRate);
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

// Channel behaviour: MPSSE echo, UART loopback, settings and their validation, receive queue,
// bit-bang modes and the modes the model lacks.
#include "vcable_clock.h"
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
    // Each refusal is a model error naming the rule it broke.
    struct Row {
        const char* name;
        uint32_t status;
        const char* rule;
    };
    const Row rows[] = {
        {"latency 1", FT_SetLatencyTimer(b, 1), "vendor library takes 2 to 255"},
        {"9 data bits", FT_SetDataCharacteristics(b, 9, 0, 0), "7 or 8 data bits"},
        {"1.5 stop bits", FT_SetDataCharacteristics(b, 8, 1, 0), "no 1.5"},
        {"parity 5", FT_SetDataCharacteristics(b, 8, 0, 5), "mark or space"},
        {"flow 0x0300", FT_SetFlowControl(b, 0x0300, 0, 0), "one at a time"},
        {"baud 177", FT_SetBaudRate(b, 177), "within 3 %"},
        {"purge 4", FT_Purge(b, 4), "FT_PURGE_RX"},
        {"bit mode 0x03", FT_SetBitMode(a, 0, 0x03), "one at a time"},
        {"MPSSE on channel B", FT_SetBitMode(b, 0, kBitModeMpsse), "only channel A"},
        {"MCU host bus on channel B", FT_SetBitMode(b, 0, kBitModeMcuHost), "only channel A"},
        {"CBUS bit-bang", FT_SetBitMode(a, 0, kBitModeCbusBitBang), "no such mode"},
        {"synchronous FIFO", FT_SetBitMode(b, 0, kBitModeSyncFifo), "no such mode"},
    };
    ASSERT_EQ(vc_model_error_count(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_NE(rows[i].status, kFtOk) << rows[i].name;
        EXPECT_NE(std::string(vc_model_error(static_cast<uint32_t>(i))).find(rows[i].rule),
                  std::string::npos)
            << rows[i].name << ": " << vc_model_error(static_cast<uint32_t>(i));
    }

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

TEST_F(ChannelTest, ModesTheModelLacksAreTakenButMoveNoData) {
    const struct {
        uint32_t location;
        uint8_t mode;
    } rows[] = {{0x0211, kBitModeMcuHost}, {0x0212, kBitModeFastSerial}};
    for (const auto& row : rows) {
        SetUp();
        void* h = OpenAt(row.location);
        EXPECT_EQ(FT_SetBitMode(h, 0xFF, row.mode), kFtOk) << int{row.mode};
        uint8_t byte = 0x55;
        uint32_t count = 0;
        EXPECT_EQ(FT_Write(h, &byte, 1, &count), kFtNotSupported);
        EXPECT_EQ(FT_GetQueueStatus(h, &count), kFtNotSupported);
        EXPECT_EQ(FT_Read(h, &byte, 1, &count), kFtNotSupported);
        // The mode itself and each of the three transfers.
        ASSERT_EQ(vc_model_error_count(), 4u) << int{row.mode};
        EXPECT_NE(std::string(vc_model_error(3)).find("is not modelled"), std::string::npos);
    }
}

TEST_F(ChannelTest, SynchronousBitBangAnswersEachByteWithTheLinesBeforeIt) {
    // Channel B's lines have nothing attached: the inputs read their pull-ups.
    void* b = OpenAt(0x0212);
    ASSERT_EQ(FT_SetBitMode(b, 0x0F, kBitModeSyncBitBang), kFtOk);
    Write(b, {0x05, 0x0A, 0x0A});
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xF0, 0xF5, 0xFA}), ReadAll(b));
    uint8_t pins = 0;
    ASSERT_EQ(FT_GetBitMode(b, &pins), kFtOk);
    EXPECT_EQ(pins, 0xFA);
    EXPECT_EQ(vc_model_error_count(), 0u);
}

// TMS and TDI bits clocked out by synchronous bit-bang on channel A, one TCK period in two bytes;
// the TDO the host read before each rising edge.
std::vector<int> BitBangJtag(void* a, const std::vector<std::pair<int, int>>& tmsTdi) {
    std::vector<uint8_t> stream;
    for (auto [tms, tdi] : tmsTdi) {
        const auto low = static_cast<uint8_t>(tms << 3 | tdi << 1);
        stream.insert(stream.end(), {low, static_cast<uint8_t>(low | 1)});
    }
    uint32_t done = 0;
    EXPECT_EQ(FT_Write(a, stream.data(), static_cast<uint32_t>(stream.size()), &done), kFtOk);
    std::vector<uint8_t> reply(stream.size());
    EXPECT_EQ(FT_Read(a, reply.data(), done, &done), kFtOk);
    std::vector<int> tdo;
    for (size_t i = 1; i < done; i += 2) tdo.push_back((reply[i] >> 2) & 1);
    return tdo;
}

TEST_F(ChannelTest, SynchronousBitBangReadsTheChainsIdcodes) {
    void* a = OpenAt(0x0211);
    ASSERT_EQ(FT_SetBitMode(a, 0x0B, kBitModeSyncBitBang), kFtOk);  // TCK, TDI, TMS out
    // Test-Logic-Reset, Run-Test/Idle, Select-DR, Capture-DR, Shift-DR, then 64 bits out.
    std::vector<std::pair<int, int>> bits = {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0},
                                             {0, 0}, {1, 0}, {0, 0}, {0, 0}};
    bits.resize(bits.size() + 64, {0, 1});
    const std::vector<int> tdo = BitBangJtag(a, bits);
    ASSERT_EQ(tdo.size(), bits.size());
    uint64_t idcodes = 0;
    for (int i = 0; i < 64; ++i) idcodes |= uint64_t(tdo[9 + i]) << i;
    EXPECT_EQ(idcodes, 0x1234567787654321ull);
    EXPECT_EQ(vc_jtag_tap_state(0, 0), VC_TAP_SHIFT_DR);
}

TEST_F(ChannelTest, AsynchronousBitBangSamplesTheLinesOnTheModelClock) {
    void* b = OpenAt(0x0212);
    ASSERT_EQ(FT_SetBaudRate(b, 9600), kFtOk);  // 153600 samples a second
    ASSERT_EQ(FT_SetTimeouts(b, 100, 0), kFtOk);
    ASSERT_EQ(FT_SetBitMode(b, 0x00, kBitModeAsyncBitBang), kFtOk);
    // A poll that finds nothing is taken a frame later, with the samples of that frame.
    const std::vector<uint8_t> first = ReadAll(b);
    ASSERT_GE(first.size(), 153u);
    EXPECT_EQ(first, std::vector<uint8_t>(first.size(), 0xFF));
    // A read waits for the samples it lacks: 1536 of them take 10 ms.
    VcClockReading before{}, after{};
    vc_clock_read(0, &before);
    std::vector<uint8_t> samples(1536);
    uint32_t got = 0;
    ASSERT_EQ(FT_Read(b, samples.data(), 1536, &got), kFtOk);
    EXPECT_EQ(got, 1536u);
    vc_clock_read(0, &after);
    EXPECT_NEAR(double(after.elapsed_ns - before.elapsed_ns), 10e6, 0.5e6);
    // One whose time-out (100 ms) ends first returns the samples that came by then.
    samples.resize(65536);
    ASSERT_EQ(FT_Read(b, samples.data(), 65536, &got), kFtOk);
    EXPECT_NEAR(got, 15360, 64);
    // Unread samples stop piling up at the limit: at 3 MBd a few control requests are enough.
    ASSERT_EQ(FT_SetBaudRate(b, 3000000), kFtOk);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(FT_SetDtr(b), kFtOk);
    Write(b, {0});
    EXPECT_EQ(vc_rx_pending(0, 1), 65536u);
    EXPECT_EQ(vc_model_error_count(), 0u);
}

TEST_F(ChannelTest, BitBangPacesTheLinesAtSixteenTimesTheBaudRate) {
    void* a = OpenAt(0x0211);
    std::vector<std::pair<uint64_t, uint16_t>> changes;
    auto record = [](void* user, uint64_t ticks, uint16_t levels) {
        static_cast<std::vector<std::pair<uint64_t, uint16_t>>*>(user)->push_back({ticks, levels});
    };
    ASSERT_EQ(vc_mpsse_set_pin_hook(0, record, &changes), VC_OK);
    ASSERT_EQ(FT_SetBaudRate(a, 187500), kFtOk);  // 3 million updates a second: 4 base-clock ticks
    ASSERT_EQ(FT_SetBitMode(a, 0x01, kBitModeAsyncBitBang), kFtOk);
    changes.clear();
    Write(a, {0x01, 0x00, 0x01, 0x00});
    vc_mpsse_set_pin_hook(0, nullptr, nullptr);
    ASSERT_EQ(changes.size(), 4u);
    for (size_t i = 1; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].first - changes[i - 1].first, 4u) << i;
        EXPECT_EQ(changes[i].second & 1, (i + 1) & 1) << i;
    }
}

TEST_F(ChannelTest, PinReadsShowChannelBsSerialLinesAtRest) {
    void* b = OpenAt(0x0212);
    const struct {
        uint32_t (*call)(void*);
        uint8_t pins;  // TXD, RXD, RTS#, CTS#, DTR#, DSR#, DCD#, RI#
    } rows[] = {
        {FT_SetBreakOff, 0xFF}, {FT_SetDtr, 0xEF}, {FT_SetBreakOn, 0xEE}, {FT_ClrDtr, 0xFE}};
    for (const auto& row : rows) {
        ASSERT_EQ(row.call(b), kFtOk);
        uint8_t pins = 0;
        ASSERT_EQ(FT_GetBitMode(b, &pins), kFtOk);
        EXPECT_EQ(pins, row.pins);
    }
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

// The queued JTAG operations: the exact commands they append, and what reaches the cable when
// the queue is sent.
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"
#include "vcable_targets.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Queued() {
    return Bytes(mpsse::CommandBuffer(), mpsse::CommandBuffer() + mpsse::QueuedBytes());
}

// Sends the queue and returns what channel A received.
Bytes SendQueue() {
    EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
    return WrittenToChannelA();
}

class JtagQueueTest : public OpenedTest {};

TEST_F(JtagQueueTest, WriteTmsHoldsTdiAndRecordsTheLastTmsBit) {
    const uint8_t one = 0x01;
    mpsse::Pins().lowValue = 0xFA;  // TDI held high, last TMS 0
    EXPECT_EQ(JTAG_WriteTMS(0, &one), rc::kTransferOk);
    EXPECT_EQ(mpsse::Pins().lowValue, 0xFB);
    const uint8_t toShiftDr = 0x02;  // 0, 1, 0, 0 from Test-Logic-Reset
    EXPECT_EQ(JTAG_WriteTMS(3, &toShiftDr), rc::kTransferOk);
    EXPECT_EQ(mpsse::Pins().lowValue, 0xFA);
    EXPECT_BYTES((Bytes{0x4B, 0x00, 0x81, 0x4B, 0x03, 0x82}), SendQueue());
}

TEST_F(JtagQueueTest, TmsCountsOfSixOrMoreAndNullBytesAppendNothing) {
    const uint8_t tms = 0x3F;
    EXPECT_EQ(JTAG_WriteTMS(6, &tms), rc::kTransferFailed);
    EXPECT_EQ(JTAG_WriteTMS2(0x6B, 6, &tms), rc::kTransferFailed);
    EXPECT_EQ(JTAG_WriteTMS(0, nullptr), rc::kTransferFailed);
    EXPECT_EQ(JTAG_WriteTMS2(0x4A, 0, nullptr), rc::kTransferFailed);
    EXPECT_EQ(mpsse::QueuedBytes(), 0u);
}

TEST_F(JtagQueueTest, WriteTms2PassesOpcodeAndByteUnchanged) {
    const uint8_t tms = 0x05;
    mpsse::Pins().lowValue = 0xFA;
    EXPECT_EQ(JTAG_WriteTMS2(0x6B, 2, &tms), rc::kTransferOk);
    EXPECT_EQ(mpsse::Pins().lowValue, 0xFA);
    EXPECT_BYTES((Bytes{0x6B, 0x02, 0x05}), Queued());
}

struct ClkRow {
    int bitCount;
    uint8_t fillBytes;
};

TEST_F(JtagQueueTest, ClkAppendsWholeFillBytesAndRestoresTheDivisor) {
    for (ClkRow row : {ClkRow{0, 1}, ClkRow{7, 1}, ClkRow{8, 2}, ClkRow{20, 3}}) {
        mpsse::ResetQueueCursor();
        mpsse::Pins().lowValue = 0xFA;
        mpsse::Pins().clockDivisor = 2;
        EXPECT_EQ(JTAG_Clk(0x09, row.bitCount), rc::kTransferOk);
        Bytes expected{0x86, 0x05, 0x00, 0x19, static_cast<uint8_t>(row.fillBytes - 1), 0x00};
        expected.insert(expected.end(), row.fillBytes, 0xFF);
        expected.insert(expected.end(), {0x86, 0x02, 0x00});
        EXPECT_BYTES(expected, Queued()) << "bitCount " << row.bitCount;
    }
}

TEST_F(JtagQueueTest, ClkFillFollowsTheHeldTdiLevel) {
    mpsse::Pins().lowValue = 0xF8;  // TDI low
    EXPECT_EQ(JTAG_Clk(0x00, 3), rc::kTransferOk);
    EXPECT_EQ(Queued()[6], 0x00);
}

TEST_F(JtagQueueTest, LongClkSendsFullBlocksWithoutTheirRestoringTail) {
    mpsse::Pins().lowValue = 0xFA;
    mpsse::Pins().clockDivisor = 1;
    EXPECT_EQ(JTAG_Clk(0x00, (2 * 60000 + 100) * 8 - 1), rc::kTransferOk);
    auto writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].transferred, 60006u);
    EXPECT_EQ(writes[1].transferred, 60006u);
    Bytes sent = WrittenToChannelA();
    ASSERT_EQ(sent.size(), 2u * 60006u);
    EXPECT_BYTES((Bytes{0x86, 0x05, 0x00, 0x10, 0x5F, 0xEA}),
                 Bytes(sent.begin(), sent.begin() + 6));
    EXPECT_BYTES((Bytes{0xFF, 0x86, 0x05, 0x00}),
                 Bytes(sent.begin() + 60005, sent.begin() + 60009));
    Bytes queued = Queued();
    ASSERT_EQ(queued.size(), 109u);
    EXPECT_BYTES((Bytes{0x86, 0x05, 0x00, 0x10, 0x63, 0x00}),
                 Bytes(queued.begin(), queued.begin() + 6));
    EXPECT_BYTES((Bytes{0x86, 0x01, 0x00}), Bytes(queued.end() - 3, queued.end()));
}

TEST_F(JtagQueueTest, ReadTdo2SplitsIntoBytesBitsAndTheExitBit) {
    EXPECT_EQ(JTAG_ReadTDO2(0x08, 1), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x6A, 0x00, 0x03}), Queued());
    mpsse::ResetQueueCursor();
    EXPECT_EQ(JTAG_ReadTDO2(0x08, 16), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x28, 0x00, 0x00, 0x2A, 0x06, 0x6A, 0x00, 0x03}), Queued());
    EXPECT_EQ(JTAG_ReadTDO2(0x08, 0), rc::kTransferCountZero);
}

TEST_F(JtagQueueTest, ReadTdo2RepliesArriveAfterSendAndRxCollectsThem) {
    EXPECT_EQ(JTAG_ReadTDO2(0x08, 16), rc::kTransferOk);
    EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
    uint8_t replies[8] = {};
    uint32_t received = 99;
    EXPECT_EQ(JTAG_RxFTDI(3, replies, &received), rc::kTransferOk);
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
}

TEST_F(JtagQueueTest, QueuedWriteTdiEndsOnTms) {
    uint32_t bitsRead = 99;
    const uint8_t tdi[] = {0xA5, 0x0C};
    mpsse::Pins().lowValue = 0xF8;
    EXPECT_EQ(JTAG_WriteTDI(0x09, 12, tdi, nullptr, &bitsRead, 1), rc::kTransferOk);
    EXPECT_EQ(bitsRead, 0u);
    EXPECT_EQ(mpsse::Pins().lowValue & 0x03, 0x03);
    EXPECT_BYTES((Bytes{0x19, 0x00, 0x00, 0xA5, 0x1B, 0x00, 0x00, 0x1B, 0x00, 0x00, 0x1B, 0x00,
                        0x03, 0x4B, 0x00, 0x83}),
                 SendQueue());
}

TEST_F(JtagQueueTest, QueuedWriteTdiOfWholeBytesKeepsTheLastByteAsTail) {
    const uint8_t tdi[] = {0x81, 0x01};
    EXPECT_EQ(JTAG_WriteTDI(0x09, 8, tdi, nullptr, nullptr, 1), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x1B, 0x00, 0x03, 0x1B, 0x00, 0x00, 0x1B, 0x00, 0x00, 0x1B, 0x00, 0x00,
                        0x1B, 0x00, 0x00, 0x1B, 0x00, 0x00, 0x1B, 0x00, 0x00, 0x4B, 0x00, 0x83}),
                 Queued());
    mpsse::ResetQueueCursor();
    EXPECT_EQ(JTAG_WriteTDI(0x09, 9, tdi, nullptr, nullptr, 1), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x19, 0x00, 0x00, 0x81, 0x4B, 0x00, 0x83}), Queued());
}

TEST_F(JtagQueueTest, WriteTdi2TakesItsExitOpcodeFromTheMode) {
    const uint8_t tdi[] = {0x00, 0x00};
    EXPECT_EQ(JTAG_WriteTDI2(0x09, 10, tdi, nullptr, nullptr, 1), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x19, 0x00, 0x00, 0x00, 0x1B, 0x00, 0x00, 0x4B, 0x00, 0x03}), Queued());
    mpsse::ResetQueueCursor();
    EXPECT_EQ(JTAG_WriteTDI2(0x08, 1, tdi, nullptr, nullptr, 1), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x4A, 0x00, 0x03}), Queued());
}

TEST_F(JtagQueueTest, ShiftsWithoutBitsOrDataSendNothing) {
    uint32_t bitsRead = 99;
    uint8_t tdo[4];
    const uint8_t tdi[] = {0};
    EXPECT_EQ(JTAG_WriteTDI(0x09, 0, tdi, tdo, &bitsRead, 1), rc::kTransferCountZero);
    EXPECT_EQ(JTAG_WriteTDI2(0x09, 0, tdi, nullptr, &bitsRead, 1), rc::kTransferCountZero);
    EXPECT_EQ(bitsRead, 99u);
    EXPECT_EQ(JTAG_WriteTDI(0x09, 8, nullptr, tdo, &bitsRead, 1), rc::kTransferFailed);
    EXPECT_EQ(JTAG_WriteTDI2(0x09, 8, nullptr, nullptr, &bitsRead, 1), rc::kTransferFailed);
    EXPECT_EQ(mpsse::QueuedBytes(), 0u);
    EXPECT_EQ(CallsOf("FT_Write").size(), 0u);
}

TEST_F(JtagQueueTest, DataAppendsPastTheThresholdFlushFirst) {
    std::vector<uint8_t> tdi(29000, 0x55);
    EXPECT_EQ(JTAG_WriteTDI(0x08, 29000 * 8, tdi.data(), nullptr, nullptr, 0), rc::kTransferOk);
    EXPECT_EQ(JTAG_WriteTDI(0x08, 29000 * 8, tdi.data(), nullptr, nullptr, 0), rc::kTransferOk);
    EXPECT_EQ(CallsOf("FT_Write").size(), 0u);
    const uint32_t queued = mpsse::QueuedBytes();
    ASSERT_EQ(queued, 2u * (3 + 28999 + 8 * 3));
    EXPECT_EQ(JTAG_ReadTDO2(0x08, 1948 * 8), rc::kTransferOk);  // reaches the threshold: no flush
    EXPECT_EQ(CallsOf("FT_Write").size(), 0u);
    mpsse::ResetQueueCursor();
    ASSERT_EQ(JTAG_WriteTDI(0x08, 29000 * 8, tdi.data(), nullptr, nullptr, 0), rc::kTransferOk);
    ASSERT_EQ(JTAG_WriteTDI(0x08, 29000 * 8, tdi.data(), nullptr, nullptr, 0), rc::kTransferOk);
    EXPECT_EQ(JTAG_ReadTDO2(0x08, 1949 * 8), rc::kTransferOk);  // one byte past it
    auto writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].transferred, queued);
}

// The same 60000-byte rule seen from a queue filled by JTAG_Clk: a shift counts bitCount / 8 data
// bytes (rounded down, so up to 7 more bits still fit) and a clock run its fill bytes; reaching
// 60000 queues, passing it sends what was queued first.
TEST_F(JtagQueueTest, ThresholdCountsWholeDataBytesAfterAQueuedClockRun) {
    struct Row {
        const char* what;
        bool clockRun;       // JTAG_Clk, else JTAG_WriteTDI2 without a capture
        uint32_t dataBytes;  // bitCount / 8 for a shift, fill bytes for a clock run
        uint32_t extraBits;  // bits beyond them (a shift only)
        bool flushesFirst;
    };
    constexpr uint32_t kFill = 40000;
    constexpr uint32_t kQueued = kFill + 9;  // 86 05 00, 19 n n, the fill, 86 divisor
    constexpr uint32_t kRoom = 60000 - kQueued;
    const Row rows[] = {
        {"shift up to the threshold and 7 bits", false, kRoom, 7, false},
        {"shift one byte past", false, kRoom + 1, 0, true},
        {"clock run up to the threshold", true, kRoom, 0, false},
        {"clock run one byte past", true, kRoom + 1, 0, true},
    };
    const std::vector<uint8_t> tdi(kRoom + 2, 0xA5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        mpsse::ResetQueueCursor();
        vc_log_clear();
        ASSERT_EQ(JTAG_Clk(0x00, static_cast<int>((kFill - 1) * 8)), rc::kTransferOk);
        ASSERT_EQ(mpsse::QueuedBytes(), kQueued);
        const uint32_t bits = row.dataBytes * 8 + row.extraBits;
        if (row.clockRun) {
            EXPECT_EQ(JTAG_Clk(0x00, static_cast<int>((row.dataBytes - 1) * 8)), rc::kTransferOk);
        } else {
            uint32_t bitsRead = 0;
            EXPECT_EQ(JTAG_WriteTDI2(0x08, bits, tdi.data(), nullptr, &bitsRead, 0),
                      rc::kTransferOk);
        }
        const auto writes = CallsOf("FT_Write");
        ASSERT_EQ(writes.size(), row.flushesFirst ? 1u : 0u);
        if (row.flushesFirst) {
            EXPECT_EQ(writes[0].transferred, kQueued);
        } else {
            EXPECT_GT(mpsse::QueuedBytes(), 60000u - 9);  // everything still queued
        }
    }
}

TEST_F(JtagQueueTest, QueuedShiftLongerThanOneCommandIsSplit) {
    std::vector<uint8_t> tdi(70001, 0x00);
    EXPECT_EQ(JTAG_WriteTDI(0x08, 70000 * 8 + 1, tdi.data(), nullptr, nullptr, 0), rc::kTransferOk);
    EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
    Bytes sent = WrittenToChannelA();
    ASSERT_EQ(sent.size(), 3u + 65536 + 3 + 4464 + 3);
    EXPECT_BYTES((Bytes{0x18, 0xFF, 0xFF}), Bytes(sent.begin(), sent.begin() + 3));
    EXPECT_BYTES((Bytes{0x18, 0x6F, 0x11}), Bytes(sent.begin() + 65539, sent.begin() + 65542));
}

TEST_F(JtagQueueTest, FailedSendKeepsTheQueueForTheNextSend) {
    const uint8_t tms = 0x1F;
    ASSERT_EQ(JTAG_WriteTMS(4, &tms), rc::kTransferOk);
    vc_fault_fail("FT_Write", 1, 4, 0);
    EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferFailed);
    EXPECT_EQ(mpsse::QueuedBytes(), 3u);
    EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
    EXPECT_EQ(mpsse::QueuedBytes(), 0u);
    EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);  // empty queue: nothing sent
    auto writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_BYTES((Bytes{0x4B, 0x04, 0x9F}), Bytes(writes[1].data, writes[1].data + 3));
}

// Shifts longer than the command buffer, with a failed write at each point: the first full
// buffer, the second, the send's own, and the flush that makes room for the tail commands. The
// retry sends whole commands only and reports 4 while the shift has not gone out whole;
// afterwards the engine is between commands, so the next immediate call works, and it clocked
// exactly the commands that went out.
struct CutShiftRow {
    uint32_t bytes;  // 8 x bytes bits: bytes - 1 whole bytes and 8 tail bits
    uint32_t failingWrite;
    int shift;
    int send;
    uint64_t cycles;  // TCK cycles clocked in the end
};

TEST_F(JtagQueueTest, RetryAfterAFailedWriteInALongShiftSendsWholeCommandsOnly) {
    const std::vector<uint8_t> tdi(300000, 0x5A);  // writes of 131072, 131072 and the rest
    const CutShiftRow rows[] = {
        {300000, 1, rc::kTransferFailed, rc::kTransferOk, 0},
        {300000, 2, rc::kTransferFailed, rc::kTransferFailed, 8 * 2 * 65536},
        {300000, 3, rc::kTransferOk, rc::kTransferFailed, 8 * 300000},
        // Two heads and the whole bytes fill all but one byte.
        {131066, 1, rc::kTransferFailed, rc::kTransferOk, 0},
    };
    for (const CutShiftRow& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.bytes << " bytes, write " << row.failingWrite);
        StartClean();
        ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
        const uint64_t cyclesBefore = vc_mpsse_tck_cycles(0);
        const uint32_t badBefore = vc_mpsse_bad_command_count(0);  // the open's sync probe
        vc_fault_fail("FT_Write", row.failingWrite, 4, 0);
        EXPECT_EQ(JTAG_WriteTDI(0x08, 8 * row.bytes, tdi.data(), nullptr, nullptr, 0), row.shift);
        EXPECT_EQ(JTAG_Send2FTDI(), row.send);
        EXPECT_EQ(JTAG_Send2FTDI(), rc::kTransferOk);
        EXPECT_EQ(mpsse::QueuedBytes(), 0u);

        uint8_t port = 0;
        EXPECT_EQ(JTAG_ReadPort(&port), rc::kTransferOk);
        uint16_t levels = 0;
        vc_pins_get(0, &levels, nullptr);
        EXPECT_EQ(port, levels & 0xFF);
        EXPECT_EQ(vc_mpsse_tck_cycles(0) - cyclesBefore, row.cycles);
        EXPECT_EQ(vc_mpsse_bad_command_count(0), badBefore);
        EXPECT_EQ(vc_mpsse_error_count(0), 0u);
    }
}

// A reply read that fails names the vendor's status in words, whichever status it is.
TEST_F(JtagQueueTest, AFailedReplyReadShowsItsStatusInWords) {
    struct Row {
        uint32_t status;
        const char16_t* text;
    };
    const Row rows[] = {
        {2, u" - Device Not Found"},
        {3, u" - Device Not Opened"},
        {5, u" - Insufficient Resources"},
        {6, u" - Invalid Parameter"},
        {8, u" - Device not opened for Erase"},
        {9, u" - Device not opened for Write"},
        {10, u" - Failed to write Device"},
        {11, u" - EEPROM read failed"},
        {12, u" - EEPROM write failed"},
        {13, u" - EEPROM erase failed"},
        {14, u" - EEPROM not present"},
        {16, u" - Invalid Arguments"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        MessageBoxes().clear();
        uint8_t buffer[2] = {0x11, 0x22};
        uint32_t received = 99;
        vc_inject_rx(0, 0, buffer, 2);
        vc_fault_fail("FT_Read", 1, row.status, 0);
        EXPECT_EQ(JTAG_RxFTDI(2, buffer, &received), rc::kTransferFailed);
        ASSERT_EQ(MessageBoxes().size(), 1u);
        EXPECT_EQ(MessageBoxes()[0], std::u16string(u"FT_Read") + row.text);
        uint8_t drain[8];  // the reply stayed waiting; the next row starts without it
        ASSERT_EQ(JTAG_RxFTDI(vc_rx_pending(0, 0), drain, &received), rc::kTransferOk);
    }
}

TEST_F(JtagQueueTest, RxFtdiFailures) {
    uint8_t buffer[4] = {0x11, 0x22, 0, 0};
    uint32_t received = 99;
    vc_inject_rx(0, 0, buffer, 2);
    vc_fault_fail("FT_Read", 1, 4, 0);
    EXPECT_EQ(JTAG_RxFTDI(2, buffer, &received), rc::kTransferFailed);
    EXPECT_EQ(received, 0u);
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_EQ(MessageBoxes()[0], u"FT_Read - General IO Error");

    received = 99;
    vc_fault_fail("FT_GetQueueStatus", 1, 4, 1);
    EXPECT_EQ(JTAG_RxFTDI(2, buffer, &received), rc::kTransferFailed);
    EXPECT_EQ(received, 99u);
    EXPECT_EQ(JTAG_RxFTDI(2, nullptr, &received), rc::kTransferFailed);
}

}  // namespace
}  // namespace kl::testing

// SPI transfers, the pin operations and the clock export: the exact bytes the cable receives
// and the pin state the library records.
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class SpiGpioTest : public OpenedTest {};

TEST_F(SpiGpioTest, ReadDiSendsBlocksOf384AndReadsEach) {
    std::vector<uint8_t> buffer(1000);
    uint32_t received = 99;
    EXPECT_EQ(SPI_ReadDI(0x20, 1000, buffer.data(), &received), rc::kTransferOk);
    EXPECT_EQ(received, 1000u);
    EXPECT_BYTES((Bytes{0x20, 0x7F, 0x01, 0x20, 0x7F, 0x01, 0x20, 0xE7, 0x00}),
                 WrittenToChannelA());
    auto reads = CallsOf("FT_Read");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[2].transferred, 232u);
}

TEST_F(SpiGpioTest, ReadDiWithoutBufferLeavesTheRepliesQueued) {
    uint32_t received = 99;
    EXPECT_EQ(SPI_ReadDI(0x24, 10, nullptr, &received), rc::kTransferOk);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(CallsOf("FT_Read").size(), 0u);
    EXPECT_EQ(vc_rx_pending(0, 0), 10u);
}

TEST_F(SpiGpioTest, CountZeroSendsNothing) {
    uint32_t received = 99;
    uint8_t byte = 0;
    EXPECT_EQ(SPI_ReadDI(0x20, 0, &byte, &received), rc::kTransferCountZero);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(SPI_WriteDO(0x10, 0, &byte), rc::kTransferCountZero);
    EXPECT_EQ(SPI_WriteDO(0x10, 1, nullptr), rc::kTransferFailed);
    EXPECT_TRUE(WrittenToChannelA().empty());
}

TEST_F(SpiGpioTest, WriteDoSendsHeaderAndDataPerBlock) {
    std::vector<uint8_t> data(65537);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(SPI_WriteDO(0x11, 65537, data.data()), rc::kTransferOk);
    Bytes sent = WrittenToChannelA();
    ASSERT_EQ(sent.size(), 3u + 65536 + 3 + 1);
    EXPECT_BYTES((Bytes{0x11, 0xFF, 0xFF}), Bytes(sent.begin(), sent.begin() + 3));
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 65536, sent.begin() + 3));
    EXPECT_BYTES((Bytes{0x11, 0x00, 0x00, data[65536]}), Bytes(sent.end() - 4, sent.end()));
}

TEST_F(SpiGpioTest, TransfersStopAtTheFailingBlock) {
    std::vector<uint8_t> buffer(800);
    uint32_t received = 0;
    vc_fault_fail("FT_Write", 2, 4, 0);
    EXPECT_EQ(SPI_ReadDI(0x20, 800, buffer.data(), &received), rc::kTransferFailed);
    EXPECT_EQ(received, 384u);
    vc_fault_fail("FT_Write", 2, 4, 0);
    EXPECT_EQ(SPI_WriteDO(0x10, 10, buffer.data()), rc::kTransferFailed);
}

struct LowPinRow {
    int (*operation)();
    const char* name;
    Bytes sent;
    uint8_t valueAfter;
    uint8_t valueAfterFailure;
};

TEST_F(SpiGpioTest, LowPinOperations) {
    const LowPinRow rows[] = {
        {Disable_AllTalk, "Disable_AllTalk", {0x80, 0xFA, 0xCB}, 0xFA, 0xFA},
        {GPIOL_low, "GPIOL_low", {0x80, 0xEA, 0xCB}, 0xEA, 0xFA},
        {GPIO2_low2, "GPIO2_low2", {0x80, 0xBA, 0xCB}, 0xBA, 0xFA},
        {GPIO3_low, "GPIO3_low", {0x80, 0x7A, 0xCB}, 0x7A, 0xFA},
        {GPIO2_low, "GPIO2_low", {0x80, 0xBA, 0xCB, 0x82, 0x0F, 0x00}, 0xBA, 0xBA},
    };
    for (const LowPinRow& row : rows) {
        ForgetTraffic();
        mpsse::Pins().lowValue = 0x00;
        EXPECT_EQ(row.operation(), 0) << row.name;
        EXPECT_BYTES(row.sent, WrittenToChannelA()) << row.name;
        EXPECT_EQ(mpsse::Pins().lowValue, row.valueAfter) << row.name;

        mpsse::Pins().lowValue = 0x00;
        vc_fault_fail("FT_Write", 1, 4, 0);
        EXPECT_EQ(row.operation(), 4) << row.name;
        EXPECT_EQ(mpsse::Pins().lowValue, row.valueAfterFailure) << row.name;
    }
}

TEST_F(SpiGpioTest, GpioH2LevelsComeFromLowPinValue) {
    mpsse::Pins().lowValue = 0xBA;
    EXPECT_EQ(GPIOH2_high(), rc::kTransferOk);
    EXPECT_EQ(mpsse::Pins().lowValue, 0xBE);
    EXPECT_EQ(GPIOH2_low(), rc::kTransferOk);
    EXPECT_EQ(mpsse::Pins().lowValue, 0xBA);
    EXPECT_BYTES((Bytes{0x82, 0xBE, 0x00, 0x82, 0xBA, 0x00}), WrittenToChannelA());
    vc_fault_fail("FT_Write", 1, 4, 0);
    EXPECT_EQ(GPIOH2_high(), rc::kTransferFailed);
    EXPECT_EQ(mpsse::Pins().lowValue, 0xBA);
}

TEST_F(SpiGpioTest, WaitGpioH1LowReadsTheHighByteOnce) {
    const int result = Wait_GPIOH1_Low();
    EXPECT_TRUE(result == 0 || result == 8);
    EXPECT_BYTES((Bytes{0x83}), WrittenToChannelA());
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 500u);
}

TEST_F(SpiGpioTest, WaitGpioH1LowWantsExactlyOneByte) {
    const uint8_t extra[12] = {};
    vc_inject_rx(0, 0, extra, 1);
    EXPECT_EQ(Wait_GPIOH1_Low(), rc::kGpioH1NotLow);  // two bytes, whatever their values
    vc_inject_rx(0, 0, extra, 12);
    EXPECT_EQ(Wait_GPIOH1_Low(),
              rc::kGpioH1NotLow);  // more than the scratch holds: drained, not overrun
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
    vc_fault_fail("FT_Write", 1, 4, 0);
    EXPECT_EQ(Wait_GPIOH1_Low(), rc::kGpioH1Failed);
    vc_fault_fail("FT_GetQueueStatus", 1, 4, 0);
    EXPECT_EQ(Wait_GPIOH1_Low(), rc::kGpioH1Failed);
}

TEST_F(SpiGpioTest, SetClkStoresTheDivisorBeforeCheckingIt) {
    EXPECT_EQ(FTDI_SetClk(0x1234), rc::kSetClkOk);
    EXPECT_BYTES((Bytes{0x86, 0x34, 0x12}), WrittenToChannelA());
    EXPECT_EQ(FTDI_SetClk(0x10000), rc::kSetClkFailed);
    EXPECT_EQ(mpsse::Pins().clockDivisor, 0x10000u);
    EXPECT_EQ(WrittenToChannelA().size(), 3u);
    vc_fault_fail("FT_Write", 1, 4, 0);
    EXPECT_EQ(FTDI_SetClk(7), rc::kSetClkFailed);
    EXPECT_EQ(mpsse::Pins().clockDivisor, 7u);
}

TEST_F(SpiGpioTest, ImmediateOperationSendsTheQueueFirst) {
    const uint8_t tms = 0x00;
    ASSERT_EQ(JTAG_WriteTMS(0, &tms), rc::kTransferOk);
    EXPECT_EQ(Disable_AllTalk(), rc::kTransferOk);
    EXPECT_BYTES((Bytes{0x4B, 0x00, 0x80, 0x80, 0xFA, 0xCB}), WrittenToChannelA());
    EXPECT_EQ(mpsse::QueuedBytes(), 0u);
}

}  // namespace
}  // namespace kl::testing

// The immediate JTAG operations: capturing shifts, the port read and the reset pulse.
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class JtagCaptureTest : public OpenedTest {};

TEST_F(JtagCaptureTest, CapturingWriteTdiSendsBytesThenTailThenReadsThePort) {
    const uint8_t tms = 0x01;
    ASSERT_EQ(JTAG_WriteTMS(0, &tms), rc::kTransferOk);  // queued: the capture flushes it first
    const uint8_t tdi[] = {0xA5, 0x0C};
    uint8_t tdo[2] = {0xEE, 0xEE};
    uint32_t bitsRead = 0;
    EXPECT_EQ(JTAG_WriteTDI(0x09, 12, tdi, tdo, &bitsRead, 1), rc::kTransferOk);
    EXPECT_EQ(bitsRead, 12u);
    EXPECT_EQ(tdo[1] & 0xF0, 0x00);  // four tail bits, right-aligned
    EXPECT_BYTES((Bytes{0x4B, 0x00, 0x81, 0x39, 0x00, 0x00, 0xA5, 0x3B, 0x00, 0x00,
                        0x3B, 0x00, 0x00, 0x3B, 0x00, 0x03, 0x6B, 0x00, 0x83, 0x81}),
                 WrittenToChannelA());
    auto writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 5u);  // queue, header, caller's byte, tail, port read
    EXPECT_EQ(writes[3].transferred, 12u);
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
    uint8_t port = 0;
    ASSERT_EQ(JTAG_ReadPort(&port), rc::kTransferOk);
    EXPECT_EQ(mpsse::Pins().lowValue, port);
}

TEST_F(JtagCaptureTest, CapturingWriteTdi2UsesModeOpcodesAndFewerPolls) {
    const uint8_t tdi[] = {0x01};
    uint8_t tdo[1] = {};
    uint32_t bitsRead = 0;
    EXPECT_EQ(JTAG_WriteTDI2(0x08, 2, tdi, tdo, &bitsRead, 1), rc::kTransferOk);
    EXPECT_EQ(bitsRead, 2u);
    EXPECT_BYTES((Bytes{0x3A, 0x00, 0x03, 0x6A, 0x00, 0x03, 0x81}), WrittenToChannelA());
    // One wait for the tail (500 polls) and one for the port read (1000 polls).
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 1500u);
}

TEST_F(JtagCaptureTest, CapturingWriteTdiWaitsWithItsMinimumPolls) {
    const uint8_t tdi[] = {0x00, 0x00};
    uint8_t tdo[2] = {};
    EXPECT_EQ(JTAG_WriteTDI(0x08, 9, tdi, tdo, nullptr, 0), rc::kTransferOk);
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 3000u);
}

// A capture of 12 bits (one whole byte, four tail bits) failing at each of its vendor calls.
struct CaptureFault {
    const char* entry;
    uint32_t nth;
    uint32_t bitsRead;  // counted before the failure
};

class CaptureFaultTest : public OpenedTest, public ::testing::WithParamInterface<CaptureFault> {};

TEST_P(CaptureFaultTest, StopsAtTheFailingStep) {
    const CaptureFault& row = GetParam();
    vc_fault_fail(row.entry, row.nth, 4, 0);
    const uint8_t tdi[] = {0x12, 0x34};
    uint8_t tdo[2] = {};
    uint32_t bitsRead = 99;
    EXPECT_EQ(JTAG_WriteTDI(0x08, 12, tdi, tdo, &bitsRead, 1), rc::kTransferFailed);
    EXPECT_EQ(bitsRead, row.bitsRead);
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, CaptureFaultTest,
    ::testing::Values(CaptureFault{"FT_Write", 1, 0}, CaptureFault{"FT_Write", 2, 0},
                      CaptureFault{"FT_Write", 3, 8}, CaptureFault{"FT_GetQueueStatus", 1, 0},
                      CaptureFault{"FT_Read", 1, 0}, CaptureFault{"FT_GetQueueStatus", 1001, 8},
                      CaptureFault{"FT_Read", 2, 8}));

TEST_F(JtagCaptureTest, CaptureLongerThanOneCommandIsRefused) {
    std::vector<uint8_t> tdi(65537, 0), tdo(65537, 0);
    uint32_t bitsRead = 99;
    EXPECT_EQ(JTAG_WriteTDI(0x08, 65536 * 8 + 1, tdi.data(), tdo.data(), &bitsRead, 1),
              rc::kTransferFailed);
    EXPECT_EQ(bitsRead, 0u);
    EXPECT_TRUE(WrittenToChannelA().empty());
}

TEST_F(JtagCaptureTest, ReadPortFailures) {
    uint8_t value = 0x5A;
    EXPECT_EQ(JTAG_ReadPort(nullptr), rc::kTransferFailed);
    vc_fault_fail("FT_Write", 1, 4, 0);
    EXPECT_EQ(JTAG_ReadPort(&value), rc::kTransferFailed);
    vc_fault_fail("FT_Read", 1, 4, 0);
    EXPECT_EQ(JTAG_ReadPort(&value), rc::kTransferFailed);
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(MessageBoxes().size(), 1u);
    EXPECT_EQ(vc_rx_pending(0, 0), 1u);  // the failed read left the pin byte
}

TEST_F(JtagCaptureTest, ResetXilinxPulsesGpioL1AndPausesEvenWhenWritesFail) {
    mpsse::Pins().lowValue = 0x12;
    ResetXilinx(30, 40);
    EXPECT_BYTES((Bytes{0x80, 0xDA, 0xEB, 0x80, 0xFA, 0xCB}), WrittenToChannelA());
    EXPECT_EQ(mpsse::Pins().lowValue, 0xFA);
    vc_fault_fail("FT_Write", 1, 4, 1);
    ResetXilinx(1, 2);
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{30, 40, 1, 2}));
}

}  // namespace
}  // namespace kl::testing

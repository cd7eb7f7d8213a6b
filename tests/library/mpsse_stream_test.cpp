// The transfer primitives: partial writes, flush failures, poll counts, bounded waits and reads
// that never overrun their destination.
#include "binding/d2xx.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class StreamTest : public OpenedTest {};

TEST_F(StreamTest, PartialWriteIsFollowedByExactlyTheRemainder) {
    vc_fault_short_write(1, 3);
    FtStatus status = 99;
    const uint8_t bytes[] = {0x80, 0xFA, 0xCB, 0x82, 0x0F, 0x00, 0x85};
    mpsse::WriteAllBytes(7, bytes, status);
    EXPECT_EQ(status, 0u);
    auto writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].transferred, 3u);
    EXPECT_EQ(writes[1].transferred, 4u);
    EXPECT_BYTES(Bytes(bytes, bytes + 7), WrittenToChannelA());
}

TEST_F(StreamTest, WriteOfNothingMakesNoCall) {
    FtStatus status = 99;
    mpsse::WriteAllBytes(0, nullptr, status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(mpsse::FlushCommands(0), 0);
    uint8_t byte;
    EXPECT_EQ(mpsse::ReadRxBytes(0, &byte, status), 0u);
    EXPECT_EQ(vc_log_count(), 0u);
}

TEST_F(StreamTest, PollCounts) {
    FtStatus status = 99;
    mpsse::WaitRxAtLeast(status, 0, 1);
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 1u);
    const uint8_t byte = 0x42;
    vc_inject_rx(0, 0, &byte, 1);
    vc_log_clear();
    mpsse::WaitRxAtLeast(status, 1, 1000);
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 1000u);
    EXPECT_EQ(status, 0u);

    vc_inject_rx(0, 0, &byte, 1);
    vc_log_clear();
    mpsse::WaitRxWithPause(status, 2, 10, 20);
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 1u);
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{20}));
}

TEST_F(StreamTest, WaitsEndOnAFailedPollOrWithoutProgress) {
    FtStatus status = 0;
    vc_fault_fail("FT_GetQueueStatus", 3, 4, 0);
    mpsse::WaitRxAtLeast(status, 0, 1000);
    EXPECT_EQ(status, 4u);
    EXPECT_EQ(CallsOf("FT_GetQueueStatus").size(), 3u);

    mpsse::SetNoProgressLimitMsForTests(20);
    status = 0;
    mpsse::WaitRxAtLeast(status, 1, 1);
    EXPECT_EQ(status, 4u);
    uint8_t buffer[4];
    uint32_t received = 99;
    EXPECT_EQ(JTAG_RxFTDI(1, buffer, &received), rc::kTransferFailed);

    Pauses().clear();
    mpsse::WaitRxWithPause(status, 2, 10, 20);
    EXPECT_EQ(Pauses().size(), 10u);
}

TEST_F(StreamTest, ReadsStoreAtMostTheirCapacityAndDrainTheRest) {
    std::vector<uint8_t> pending(5000, 0x33);
    pending[0] = 0x11;
    vc_inject_rx(0, 0, pending.data(), static_cast<uint32_t>(pending.size()));
    uint8_t small[3] = {};
    FtStatus status = 99;
    EXPECT_EQ(mpsse::ReadRxBytes(5000, small, status, 2), 2u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(small[0], 0x11);
    EXPECT_EQ(small[2], 0x00);
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
}

TEST_F(StreamTest, AppendPastTheBufferFlushesFirst) {
    const uint8_t tms = 0x00;
    uint32_t appended = 0;
    while (mpsse::QueuedBytes() + 3 <= mpsse::kBufferSize) {
        ASSERT_EQ(JTAG_WriteTMS(0, &tms), rc::kTransferOk);
        ++appended;
    }
    EXPECT_EQ(CallsOf("FT_Write").size(), 0u);
    ASSERT_EQ(JTAG_WriteTMS(0, &tms), rc::kTransferOk);
    auto writes = CallsOf("FT_Write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].transferred, appended * 3);
    EXPECT_EQ(mpsse::QueuedBytes(), 3u);
}

}  // namespace
}  // namespace kl::testing

// USB reply delivery: what the host sees of a reply, poll by poll, as the full-speed chip sends it
// in 62-byte packets; FT_Read waiting on the model clock; and the fault rules that shape delivery.
#include <cstdlib>
#include <string>

#include "vcable_clock.h"
#include "vcable_fixture.h"

namespace {

using vcable::kFtOk;

constexpr uint64_t kMs = 1000000;  // in ns

class ReplyDeliveryTest : public VcableTest {
  protected:
    // Channel A in MPSSE mode, divisor 0 (6 MHz), latency timer 2 ms; USB delivery; the clock
    // (and with it the latency timer) starts after the set-up.
    void SetUp() override {
        VcableTest::SetUp();
        ASSERT_EQ(vc_set_reply_delivery(VC_DELIVERY_USB), 0);
        channelA = OpenAt(0x0211);
        ASSERT_EQ(FT_SetLatencyTimer(channelA, 2), kFtOk);
        ASSERT_EQ(FT_SetBitMode(channelA, 0, 2), kFtOk);
        Write(channelA, {0x80, 0xFA, 0xCB, 0x85, 0x86, 0x00, 0x00});
        vc_clock_reset();
    }

    // A command whose reply is `bytes` long (a read of whole bytes), with 0x87 after it or not.
    static std::vector<uint8_t> ReplyOf(uint32_t bytes, bool sendImmediate) {
        std::vector<uint8_t> command = {0x20, static_cast<uint8_t>((bytes - 1) & 0xFF),
                                        static_cast<uint8_t>((bytes - 1) >> 8)};
        if (sendImmediate) command.push_back(0x87);
        return command;
    }

    uint32_t Poll() const {
        uint32_t pending = 0;
        EXPECT_EQ(FT_GetQueueStatus(channelA, &pending), kFtOk);
        return pending;
    }

    static uint64_t ElapsedNs() {
        VcClockReading reading{};
        vc_clock_read(VC_SPEED_FULL, &reading);
        return reading.elapsed_ns;
    }

    void* channelA = nullptr;
};

TEST_F(ReplyDeliveryTest, RepliesArriveInWholePacketsOrWhenTheTimerOr0x87SendsTheRest) {
    struct Row {
        uint32_t bytes;
        bool sendImmediate;
        std::vector<uint32_t> polls;  // what successive polls see, until the whole reply
    };
    // A poll that leaves bytes on their way costs a frame (1 ms); packets follow each other at 19
    // a frame; the timer restarts with every packet.
    const Row rows[] = {
        {1, false, {0, 1}},
        {1, true, {1}},
        {62, false, {62}},
        {62, true, {62}},
        {63, false, {62, 62, 63}},
        {63, true, {62, 63}},
        {200, false, {62, 186, 186, 200}},
        {200, true, {62, 200}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.bytes) + (row.sendImmediate ? " with 0x87" : ""));
        vc_clock_reset();
        Write(channelA, ReplyOf(row.bytes, row.sendImmediate));
        std::vector<uint32_t> seen;
        while (seen.size() < 8 && (seen.empty() || seen.back() < row.bytes)) seen.push_back(Poll());
        EXPECT_EQ(seen, row.polls);
        std::vector<uint8_t> reply(row.bytes);
        uint32_t got = 0;
        ASSERT_EQ(FT_Read(channelA, reply.data(), row.bytes, &got), kFtOk);
        EXPECT_EQ(got, row.bytes);
    }
    EXPECT_EQ(vc_model_error_count(), 0u);
}

TEST_F(ReplyDeliveryTest, ReadsWaitForTheirCountOrTheirTimeOut) {
    struct Row {
        const char* what;
        uint32_t replyBytes;
        uint32_t asked;
        uint32_t timeoutMs;  // 0: none
        uint32_t got;
        uint64_t endNs;  // model time when the read returned
        uint32_t modelErrors;
    };
    const Row rows[] = {
        // The write ends at 1 ms; the timer runs out at 2 ms, or 1 ms after the last packet.
        {"enough bytes on their way, no time-out", 1, 1, 0, 1, 2 * kMs, 0},
        {"two packets of three: the second comes 1/19 frame after", 200, 124, 0, 124,
         1 * kMs + kMs / 19, 0},
        {"the rest after the timer", 63, 63, 0, 63, 3 * kMs, 0},
        {"too few before the time-out", 1, 2, 5, 1, 6 * kMs, 0},
        {"enough before the time-out", 63, 63, 5, 63, 3 * kMs, 0},
        {"too few and no time-out: would wait forever", 1, 2, 0, 1, 2 * kMs, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vc_log_clear();
        ASSERT_EQ(FT_SetTimeouts(channelA, row.timeoutMs, 0), kFtOk);
        const uint32_t errorsBefore = vc_model_error_count();
        vc_clock_reset();
        Write(channelA, ReplyOf(row.replyBytes, false));
        std::vector<uint8_t> reply(row.asked);
        uint32_t got = 0;
        ASSERT_EQ(FT_Read(channelA, reply.data(), row.asked, &got), kFtOk);
        EXPECT_EQ(got, row.got);
        EXPECT_EQ(ElapsedNs(), row.endNs);
        EXPECT_EQ(vc_model_error_count() - errorsBefore, row.modelErrors);
        ASSERT_EQ(FT_Purge(channelA, vcable::kPurgeRx), kFtOk);
    }
}

TEST_F(ReplyDeliveryTest, FaultRulesSplitAReplyOrHoldItBack) {
    struct Row {
        const char* what;
        bool split;
        uint32_t amount;  // bytes shown (split) or polls held (hold)
        std::vector<uint32_t> polls;
    };
    const Row rows[] = {
        {"split after 10 bytes", true, 10, {10, 62}},
        {"held for three polls", false, 3, {0, 0, 0, 62}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        vc_fault_clear();
        // From the next write on, on channel A.
        const int rule = row.split ? vc_fault_split_rx("FT_Write", 1, 0, 0, row.amount)
                                   : vc_fault_hold_rx("FT_Write", 1, 0, 0, row.amount);
        ASSERT_GE(rule, 0);
        Write(channelA, ReplyOf(62, false));
        std::vector<uint32_t> seen;
        for (size_t i = 0; i < row.polls.size(); ++i) seen.push_back(Poll());
        EXPECT_EQ(seen, row.polls);
        ASSERT_EQ(FT_Purge(channelA, vcable::kPurgeRx), kFtOk);
    }
    // The shapes work with immediate delivery too.
    ASSERT_EQ(vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE), 0);
    vc_fault_split_rx("FT_GetQueueStatus", 1, 0, 0, 5);
    Write(channelA, ReplyOf(20, false));
    EXPECT_EQ(Poll(), 5u);
    uint8_t reply[20];
    uint32_t got = 0;
    ASSERT_EQ(FT_Read(channelA, reply, 20, &got), kFtOk);
    EXPECT_EQ(got, 5u);  // no more than the poll showed
    EXPECT_EQ(Poll(), 15u);
}

// A control call overrides scenario and environment until the next scenario (the scenario key
// is read in the scenario file tests).
TEST_F(ReplyDeliveryTest, AControlCallChoosesUntilTheNextScenario) {
    EXPECT_EQ(vc_reply_delivery(), VC_DELIVERY_USB);
    EXPECT_EQ(vc_set_reply_delivery(2), -1);
    vc_reset();
    const char* forced = std::getenv("VCABLE_REPLY_DELIVERY");
    const bool usb = forced != nullptr && std::string(forced) == "usb";
    EXPECT_EQ(vc_reply_delivery(), usb ? VC_DELIVERY_USB : VC_DELIVERY_IMMEDIATE);
}

}  // namespace

// The model clock through the entry points: frames per write and control request, TCK time at the
// divisor, the latency timer on short replies, and the physical limit beside them.
#include "vcable_clock.h"
#include "vcable_fixture.h"

namespace {

using vcable::kFtOk;

constexpr uint64_t kMs = 1000000;  // in ns
constexpr uint64_t kUs = 1000;

VcClockReading Read(int speed) {
    VcClockReading reading{};
    EXPECT_EQ(vc_clock_read(speed, &reading), 0);
    return reading;
}

class WireClockTest : public VcableTest {
  protected:
    // Channel A in MPSSE mode at divisor 5 with a 2 ms latency timer; the clock starts after it.
    void SetUp() override {
        VcableTest::SetUp();
        channelA = OpenAt(ListDevices()[0].locId);
        ASSERT_EQ(FT_SetLatencyTimer(channelA, 2), kFtOk);
        ASSERT_EQ(FT_SetBitMode(channelA, 0, 2), kFtOk);
        Write({0x80, 0xFA, 0xCB, 0x85, 0x86, 0x05, 0x00});
        vc_clock_reset();
    }

    void Write(const std::vector<uint8_t>& bytes) {
        uint32_t written = 0;
        ASSERT_EQ(FT_Write(channelA, const_cast<uint8_t*>(bytes.data()),
                           static_cast<uint32_t>(bytes.size()), &written),
                  kFtOk);
    }

    void* channelA = nullptr;
};

TEST_F(WireClockTest, ControlRequestsAndShortWritesTakeAFrameEach) {
    ASSERT_EQ(FT_SetLatencyTimer(channelA, 2), kFtOk);  // 1 frame
    Write({0x86, 0x05, 0x00});                          // 1 frame, no clocking
    Write(std::vector<uint8_t>(1216, 0x87));            // exactly 1 full-speed frame of packets
    Write(std::vector<uint8_t>(1217, 0x87));            // 2 full-speed frames, 1 microframe
    const VcClockReading full = Read(VC_SPEED_FULL);
    const VcClockReading high = Read(VC_SPEED_HIGH);
    EXPECT_EQ(full.elapsed_ns, 5 * kMs);
    EXPECT_EQ(high.elapsed_ns, 4 * 125 * kUs);
    EXPECT_EQ(full.control_requests, 1u);
    EXPECT_EQ(full.writes, 3u);
    EXPECT_EQ(full.wire_ns, 0u);
    VcClockReading none{};
    EXPECT_EQ(vc_clock_read(2, &none), -1);
}

TEST_F(WireClockTest, ClockingTakesTheDivisorsTimeBesideTheLimit) {
    // 1000 bytes = 8000 TCK cycles at divisor 5: 1 MHz on the full-speed chip, 5 MHz on the
    // high-speed one; the limit is 6 and 30 MHz.
    std::vector<uint8_t> command = {0x19, 0xE7, 0x03};
    command.resize(3 + 1000, 0x55);
    Write(command);
    const VcClockReading full = Read(VC_SPEED_FULL);
    const VcClockReading high = Read(VC_SPEED_HIGH);
    EXPECT_EQ(full.tck_cycles, 8000u);
    EXPECT_EQ(full.wire_ns, 8 * kMs);
    EXPECT_EQ(full.elapsed_ns, 8 * kMs);  // longer than the one frame the bytes need
    EXPECT_EQ(full.limit_ns, 1333333u);
    EXPECT_EQ(high.wire_ns, 1600 * kUs);
    EXPECT_EQ(high.limit_ns, 266666u);
}

TEST_F(WireClockTest, ShortRepliesWaitForTheFreeRunningLatencyTimer) {
    // The timer (2 ms) runs from the clock's reset and restarts with every packet sent; each write
    // takes a frame. The host polls and reads the whole reply.
    // A host that waits (vc_clock_wait) before it polls finds the timer run out meanwhile.
    struct Row {
        const char* what;
        std::vector<std::vector<uint8_t>> writes;
        uint32_t replyBytes;
        uint64_t waitNs;
        uint64_t hostWaitNs = 0;
    };
    const Row rows[] = {
        {"one byte, written 1 ms before the timer runs out", {{0x81}}, 1, 1 * kMs},
        {"one byte, just after it ran out", {{0x85}, {0x81}}, 1, 2 * kMs},
        {"send immediate", {{0x81, 0x87}}, 1, 0},
        {"a full packet", {{0x20, 0x3D, 0x00}}, 62, 0},
        {"a full packet and one byte: the timer restarted", {{0x20, 0x3E, 0x00}}, 63, 2 * kMs},
        {"one byte, the host waiting 400 us first", {{0x81}}, 1, 600 * kUs, 400 * kUs},
        {"one byte, the host waiting 5 ms first", {{0x81}}, 1, 0, 5 * kMs},
    };
    for (const Row& row : rows) {
        vc_clock_reset();
        for (const auto& bytes : row.writes) Write(bytes);
        vc_clock_wait(row.hostWaitNs);
        uint32_t pending = 0;
        ASSERT_EQ(FT_GetQueueStatus(channelA, &pending), kFtOk);
        ASSERT_EQ(pending, row.replyBytes) << row.what;
        std::vector<uint8_t> reply(pending);
        uint32_t got = 0;
        ASSERT_EQ(FT_Read(channelA, reply.data(), pending, &got), kFtOk);
        const VcClockReading full = Read(VC_SPEED_FULL);
        EXPECT_EQ(full.reply_waits_ns, row.waitNs) << row.what;
        EXPECT_EQ(full.elapsed_ns, row.writes.size() * kMs + row.hostWaitNs + row.waitNs)
            << row.what;
        EXPECT_GE(Read(VC_SPEED_HIGH).elapsed_ns, row.hostWaitNs) << row.what;
        EXPECT_EQ(full.reads, 1u) << row.what;
    }
}

TEST_F(WireClockTest, EndlessHostWaitsLeaveTheClockRoomToRun) {
    // -1 from C, twice: the clock must still move forward for what the wire does next.
    vc_clock_reset();
    vc_clock_wait(UINT64_MAX);
    vc_clock_wait(UINT64_MAX);
    const uint64_t waited = Read(VC_SPEED_FULL).elapsed_ns;
    EXPECT_GT(waited, 100 * 86400 * uint64_t{1000000000});
    Write({0x81, 0x87});
    uint32_t pending = 0;
    ASSERT_EQ(FT_GetQueueStatus(channelA, &pending), kFtOk);
    EXPECT_EQ(pending, 1u);
    EXPECT_GT(Read(VC_SPEED_FULL).elapsed_ns, waited);
}

}  // namespace

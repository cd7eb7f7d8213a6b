// The JTAG chain behind the engine, driven with the command sequences a host sends.
#include <gtest/gtest.h>

#include "mpsse_test_util.h"

namespace {

using vcable::MpsseEngine;
using vcable::TapState;
using vtest::Append;
using vtest::Bytes;
using vtest::Hex;
using vtest::Send;

struct WalkRow {
    uint32_t tms;  // bit 0 first
    int count;
    TapState expected;
};

TEST(TapTable, WalksFromTestLogicReset) {
    const WalkRow rows[] = {
        {0b0, 1, TapState::kRunTestIdle},     {0b0010, 4, TapState::kShiftDr},
        {0b00110, 5, TapState::kShiftIr},     {0b010010, 6, TapState::kPauseDr},
        {0b1010010, 7, TapState::kExit2Dr},   {0b11010010, 8, TapState::kUpdateDr},
        {0b01010010, 8, TapState::kShiftDr},  {0b01010110, 9, TapState::kShiftIr},
        {0b110, 3, TapState::kSelectIrScan},  {0b1110, 4, TapState::kTestLogicReset},
        {0b10110, 5, TapState::kExit1Ir},     {0b1010110, 7, TapState::kExit2Ir},
        {0b11010110, 8, TapState::kUpdateIr}, {0b011010110, 9, TapState::kRunTestIdle},
    };
    for (const WalkRow& row : rows) {
        TapState state = TapState::kTestLogicReset;
        for (int i = 0; i < row.count; ++i) state = vcable::NextTapState(state, (row.tms >> i) & 1);
        EXPECT_EQ(row.expected, state) << "tms " << row.tms << " count " << row.count;
    }
}

TEST(TapTable, FiveOnesResetFromEveryState) {
    for (int s = 0; s < vcable::kTapStateCount; ++s) {
        TapState state = static_cast<TapState>(s);
        for (int i = 0; i < 5; ++i) state = vcable::NextTapState(state, true);
        EXPECT_EQ(TapState::kTestLogicReset, state) << vcable::TapStateName(TapState(s));
    }
}

class JtagChainTest : public ::testing::Test {
  protected:
    JtagChainTest() : engine(vcable::TargetSetup{}) {
        Send(engine, vtest::kOpenSequence);
        Send(engine, vtest::ResetToIdle());
    }

    TapState State(int device) { return vtest::Chain(engine).Device(device).State(); }

    // Shifts both IRs (device 1's bits first, as they travel furthest) and returns to Idle.
    void LoadInstructions(uint32_t dev0, uint32_t dev1) {
        Bytes stream = vtest::IdleToShiftIr();
        Append(stream, vtest::ShiftOut(dev1 | (uint64_t{dev0} << 8), 14));
        Append(stream, vtest::Exit1ToIdle());
        Send(engine, stream);
    }

    // A capturing DR scan of `bits` bits from Idle back to Idle; returns what left TDO.
    uint64_t ScanDr(uint64_t in, int bits) {
        Send(engine, vtest::IdleToShiftDr());
        const Bytes reply = Send(engine, vtest::ShiftOut(in, bits));
        Send(engine, vtest::Exit1ToIdle());
        return vtest::ShiftIn(reply, bits);
    }

    MpsseEngine engine;
};

TEST_F(JtagChainTest, TmsCommandsMoveEveryTap) {
    EXPECT_EQ(TapState::kRunTestIdle, State(0));
    Send(engine, vtest::IdleToShiftIr());
    EXPECT_EQ(TapState::kShiftIr, State(0));
    EXPECT_EQ(TapState::kShiftIr, State(1));
    // A reading TMS command moves the TAPs too: one bit of 1 leaves Shift-IR.
    EXPECT_EQ(1u, Send(engine, {0x6B, 0x00, 0x03}).size());
    EXPECT_EQ(TapState::kExit1Ir, State(1));
    Send(engine, {0x4B, 0x01, 0x01});
    EXPECT_EQ(TapState::kRunTestIdle, State(0));
}

TEST_F(JtagChainTest, IdcodesLeaveTheLastDeviceFirst) {
    Send(engine, vtest::IdleToShiftDr());
    // The library's queued capture of 64 bits with mode 0x09: 7 whole bytes, 7 bits, 1 TMS bit.
    const Bytes reply = Send(engine, {0x29, 0x06, 0x00, 0x2B, 0x06, 0x6B, 0x00, 0x03});
    ASSERT_EQ(9u, reply.size()) << Hex(reply);
    uint64_t value = 0;
    for (int i = 0; i < 7; ++i) value |= uint64_t{reply[i]} << (8 * i);
    value |= uint64_t{static_cast<uint8_t>(reply[7] >> 1)} << 56;
    value |= uint64_t{static_cast<uint8_t>(reply[8] >> 7)} << 63;
    EXPECT_EQ(0x87654321u, static_cast<uint32_t>(value));        // device 1, nearest TDO
    EXPECT_EQ(0x12345677u, static_cast<uint32_t>(value >> 32));  // device 0, nearest TDI
    EXPECT_EQ(TapState::kExit1Dr, State(0));
}

TEST_F(JtagChainTest, BypassDelaysByOneBitPerDevice) {
    LoadInstructions(0x3F, 0xFF);
    EXPECT_EQ(0x3Fu, vtest::Chain(engine).Device(0).Instruction());
    EXPECT_EQ(0xFFu, vtest::Chain(engine).Device(1).Instruction());
    // The library's capturing shift of 12 bits 0xA5 0x0C: two bypass bits (captured as 0) come
    // out first, then the first ten bits sent.
    Send(engine, vtest::IdleToShiftDr());
    EXPECT_EQ("94", Hex(Send(engine, {0x39, 0x00, 0x00, 0xA5})));
    EXPECT_EQ("00 80 00 00", Hex(Send(engine, {0x3B, 0x00, 0x00, 0x3B, 0x00, 0x00, 0x3B, 0x00, 0x03,
                                               0x6B, 0x00, 0x83})));
}

TEST_F(JtagChainTest, IrCaptureShowsZeroOneInEveryDevice) {
    Send(engine, vtest::IdleToShiftIr());
    const uint64_t captured = vtest::ShiftIn(Send(engine, vtest::ShiftOut(0x3FFF, 14)), 14);
    EXPECT_EQ(0x0001u | (0x01u << 8), captured);
}

TEST_F(JtagChainTest, UserRegistersKeepWhatWasShiftedIn) {
    LoadInstructions(0x02, 0xC2);
    EXPECT_EQ(0u, ScanDr(0x0BADF00D'CAFE1234ull, 64));
    EXPECT_EQ(0xCAFE1234u, vtest::Chain(engine).Device(1).UserRegister());
    EXPECT_EQ(0x0BADF00Du, vtest::Chain(engine).Device(0).UserRegister());
    // A second scan captures the stored values; leaving through Test-Logic-Reset keeps them.
    EXPECT_EQ(0x0BADF00D'CAFE1234ull, ScanDr(0x11111111'22222222ull, 64));
    Send(engine, vtest::ResetToIdle());
    EXPECT_EQ(0x11111111u, vtest::Chain(engine).Device(0).UserRegister());
    EXPECT_EQ(0x09u, vtest::Chain(engine).Device(0).Instruction());  // IDCODE again
    EXPECT_EQ(0x1Eu, vtest::Chain(engine).Device(1).Instruction());
}

// A scan paused half way (Exit1-DR, Pause-DR held for clocks, Exit2-DR, back to Shift-DR) goes on
// where it stopped: nothing is captured again, the pause clocks shift nothing, and Update-DR
// loads the two halves as one value.
TEST_F(JtagChainTest, PausedScanResumesWithoutCapturingAgain) {
    LoadInstructions(0x02, 0xC2);
    EXPECT_EQ(0u, ScanDr(0x0BADF00D'CAFE1234ull, 64));
    const Bytes pauseAndResume = vtest::Tms(0b01000, 5);  // three more in Pause-DR, Exit2, Shift
    Send(engine, vtest::IdleToShiftDr());
    const Bytes first = Send(engine, vtest::ShiftOut(0x22222222, 32));
    EXPECT_EQ(TapState::kExit1Dr, State(0));
    Send(engine, vtest::Tms(0b0, 1));
    EXPECT_EQ(TapState::kPauseDr, State(1));
    Send(engine, pauseAndResume);
    EXPECT_EQ(TapState::kShiftDr, State(0));
    const Bytes second = Send(engine, vtest::ShiftOut(0x11111111, 32));
    Send(engine, vtest::Exit1ToIdle());
    EXPECT_EQ(0xCAFE1234u, vtest::ShiftIn(first, 32));
    EXPECT_EQ(0x0BADF00Du, vtest::ShiftIn(second, 32));
    EXPECT_EQ(0x22222222u, vtest::Chain(engine).Device(1).UserRegister());
    EXPECT_EQ(0x11111111u, vtest::Chain(engine).Device(0).UserRegister());
}

TEST_F(JtagChainTest, GpioL1PulseResetsUserRegisters) {
    vtest::Chain(engine).Device(0).SetUserRegister(0xDEADBEEF);
    vtest::Chain(engine).Device(1).SetUserRegister(0x01234567);
    // The library's reset pulse: GPIOL1 an output driven low, then back to an input.
    Send(engine, {0x80, 0xDA, 0xEB});
    Send(engine, {0x80, 0xFA, 0xCB});
    EXPECT_EQ(0u, vtest::Chain(engine).Device(0).UserRegister());
    EXPECT_EQ(0u, vtest::Chain(engine).Device(1).UserRegister());
    EXPECT_EQ(TapState::kRunTestIdle, State(0));
    // Written as 0 while GPIOL1 is an input, the level does nothing.
    vtest::Chain(engine).Device(0).SetUserRegister(5);
    Send(engine, {0x80, 0xDA, 0xCB});
    EXPECT_EQ(5u, vtest::Chain(engine).Device(0).UserRegister());
}

}  // namespace

// JTAG through the library onto the virtual cable's chain, judged by what the simulated devices
// saw: TAP states, instruction registers, user registers and the clock cycles on TCK.
//
// The default chain: TDI -> device 0 (IR 6 bits, IDCODE 0x12345677, user instruction 0x02, 32-bit
// user register) -> device 1 (IR 8 bits, IDCODE 0x87654321) -> TDO. A DR scan after
// Test-Logic-Reset therefore shows device 1's IDCODE in its first 32 bits.
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "vcable_targets.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// TDI out on the falling edge, TDO in on the rising edge, least significant bit first.
constexpr uint8_t kJtagMode = 0x09;

constexpr uint32_t kIdcode0 = 0x12345677;
constexpr uint32_t kIdcode1 = 0x87654321;
// The 64 bits of an IDCODE scan, the first bit out of TDO in bit 0.
constexpr uint64_t kBothIdcodes = (uint64_t{kIdcode0} << 32) | kIdcode1;

constexpr uint32_t kUserInstruction0 = 0x02;
constexpr uint32_t kBypass8 = 0xFF;

uint64_t LowBits(uint64_t value, uint32_t bits) {
    return bits >= 64 ? value : value & ((uint64_t{1} << bits) - 1);
}

// Bytes for a shift of up to 64 bits, bit 0 of the first byte shifted first.
Bytes ShiftBytes(uint64_t value, uint32_t bits) {
    Bytes bytes((bits + 7) / 8);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

uint64_t FromShiftBytes(const uint8_t* bytes, uint32_t bits) {
    uint64_t value = 0;
    for (uint32_t i = 0; i < (bits + 7) / 8; ++i) value |= uint64_t{bytes[i]} << (8 * i);
    return LowBits(value, bits);
}

// Reply bytes of a queued JTAG_ReadTDO2 of n bits: n splits into W whole bytes and T tail bits
// (T from 1 to 8, so the last bit is always a tail bit). The engine answers:
//  - W bytes from the byte-mode read, each with its first captured bit in bit 0;
//  - when T >= 2, one byte from the bit-mode read of T-1 bits. LSB-first bit reads shift in from
//    the top, so those bits sit in bits 8-(T-1) to 7, the first captured lowest;
//  - one byte from the one-bit TMS read that leaves Shift-DR, its bit in bit 7.
uint32_t ReadTdo2ReplyCount(uint32_t bits) {
    const uint32_t whole = (bits - 1) / 8;
    const uint32_t tail = bits - 8 * whole;
    return whole + (tail >= 2 ? 1 : 0) + 1;
}

uint64_t DecodeReadTdo2(const uint8_t* reply, uint32_t bits) {
    const uint32_t whole = (bits - 1) / 8;
    const uint32_t tail = bits - 8 * whole;
    uint64_t value = FromShiftBytes(reply, 8 * whole);
    const uint8_t* next = reply + whole;
    if (tail >= 2) {
        const uint32_t count = tail - 1;
        value |= uint64_t{static_cast<uint8_t>(*next++ >> (8 - count))} << (8 * whole);
    }
    value |= uint64_t{static_cast<uint8_t>(*next >> 7)} << (bits - 1);
    return value;
}

class ChainJtagTest : public TargetTest {
  protected:
    static void Tms(uint8_t count, uint8_t bits) {
        ASSERT_EQ(JTAG_WriteTMS(count, &bits), rc::kTransferOk);
    }
    // Five TMS ones, then 0 1 0 0: Run-Test/Idle, Select-DR-Scan, Capture-DR, Shift-DR.
    static void ResetToShiftDr() {
        Tms(4, 0x1F);
        Tms(3, 0x02);
    }
    static void Send() { ASSERT_EQ(JTAG_Send2FTDI(), rc::kTransferOk); }

    static void ExpectTaps(int state) {
        for (int device = 0; device < 2; ++device) {
            EXPECT_STREQ(vc_jtag_tap_state_name(vc_jtag_tap_state(0, device)),
                         vc_jtag_tap_state_name(state))
                << "device " << device;
        }
    }
    static uint32_t Instruction(int device) {
        uint32_t ir = 0xDEAD;
        EXPECT_EQ(vc_jtag_instruction(0, device, &ir), VC_OK);
        return ir;
    }
    static uint64_t UserRegister(int device) {
        uint64_t value = 0xDEAD;
        EXPECT_EQ(vc_jtag_user_register(0, device, &value), VC_OK);
        return value;
    }
};

TEST_F(ChainJtagTest, TmsMovesEveryTap) {
    Tms(4, 0x06);  // 0 1 1 0 0 from Test-Logic-Reset: Shift-IR
    Send();
    ExpectTaps(VC_TAP_SHIFT_IR);
    Tms(4, 0x1F);
    Send();
    ExpectTaps(VC_TAP_TEST_LOGIC_RESET);
    Tms(3, 0x02);
    Send();
    ExpectTaps(VC_TAP_SHIFT_DR);
    EXPECT_EQ(Instruction(0), 0x09u);  // IDCODE after Test-Logic-Reset
    EXPECT_EQ(Instruction(1), 0x1Eu);
}

// Every split of a shift (no whole byte, no bit-mode read, a full tail of 8) read both ways: the
// queued JTAG_ReadTDO2 and the capturing JTAG_WriteTDI.
const uint32_t kScanLengths[] = {1, 2, 7, 8, 9, 16, 17, 32, 33, 63, 64};

TEST_F(ChainJtagTest, QueuedReadTdo2ScansTheIdcodes) {
    for (uint32_t bits : kScanLengths) {
        ResetToShiftDr();
        ASSERT_EQ(JTAG_ReadTDO2(kJtagMode, bits), rc::kTransferOk);
        Send();
        uint8_t reply[16] = {};
        uint32_t received = 0;
        ASSERT_EQ(JTAG_RxFTDI(ReadTdo2ReplyCount(bits), reply, &received), rc::kTransferOk) << bits;
        EXPECT_EQ(received, ReadTdo2ReplyCount(bits)) << bits;
        EXPECT_EQ(DecodeReadTdo2(reply, bits), LowBits(kBothIdcodes, bits))
            << bits << " bits, reply " << Hex(Bytes(reply, reply + received));
        ExpectTaps(VC_TAP_EXIT1_DR);  // the last bit went out with TMS 1
    }
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
}

TEST_F(ChainJtagTest, CapturingWriteTdiScansTheIdcodes) {
    using Shift = int (*)(kl_u8, kl_u32, const kl_u8*, kl_u8*, kl_u32*, kl_u32);
    for (Shift shift : {JTAG_WriteTDI, JTAG_WriteTDI2}) {
        for (uint32_t bits : kScanLengths) {
            ResetToShiftDr();
            Send();  // JTAG_WriteTDI2 leaves that to the caller
            const Bytes tdi((bits + 7) / 8, 0xFF);
            uint8_t tdo[9] = {};
            uint32_t bitsRead = 0;
            ASSERT_EQ(shift(kJtagMode, bits, tdi.data(), tdo, &bitsRead, 1), 0) << bits;
            EXPECT_EQ(bitsRead, bits);
            EXPECT_EQ(FromShiftBytes(tdo, bits), LowBits(kBothIdcodes, bits))
                << bits << " bits, tdo " << Hex(Bytes(tdo, tdo + tdi.size()));
            ExpectTaps(VC_TAP_EXIT1_DR);
        }
    }
}

TEST_F(ChainJtagTest, ScanContinuesFromExit1DrBackToShiftDr) {
    ResetToShiftDr();
    ASSERT_EQ(JTAG_ReadTDO2(kJtagMode, 64), rc::kTransferOk);
    Send();
    uint8_t reply[9] = {};
    uint32_t received = 0;
    ASSERT_EQ(JTAG_RxFTDI(9, reply, &received), rc::kTransferOk);
    EXPECT_EQ(DecodeReadTdo2(reply, 64), kBothIdcodes);

    Tms(3, 0x03);  // Update-DR, Select-DR-Scan, Capture-DR, Shift-DR: captured afresh
    const uint8_t tdi[8] = {};
    uint8_t tdo[8] = {};
    uint32_t bitsRead = 0;
    ASSERT_EQ(JTAG_WriteTDI(kJtagMode, 64, tdi, tdo, &bitsRead, 1), rc::kTransferOk);
    EXPECT_EQ(FromShiftBytes(tdo, 64), kBothIdcodes);
    ExpectTaps(VC_TAP_EXIT1_DR);
}

// Device 0 gets its user instruction, device 1 BYPASS; the DR path is then 32 + 1 bits, the
// bypass bit nearest TDO.
TEST_F(ChainJtagTest, UserRegisterThroughBypassAndResetPulse) {
    Tms(4, 0x1F);
    Tms(4, 0x06);  // Shift-IR
    // Bits for the device nearest TDO go first: device 1's eight, then device 0's six.
    const Bytes ir = ShiftBytes(kBypass8 | (kUserInstruction0 << 8), 14);
    uint8_t captured[2] = {};
    uint32_t bitsRead = 0;
    ASSERT_EQ(JTAG_WriteTDI(kJtagMode, 14, ir.data(), captured, &bitsRead, 1), rc::kTransferOk);
    EXPECT_EQ(bitsRead, 14u);
    // Capture-IR loads 0b01 into the two bits nearest TDO of every device.
    EXPECT_EQ(FromShiftBytes(captured, 14), 0x0101u);
    ExpectTaps(VC_TAP_EXIT1_IR);
    Tms(3, 0x03);  // Update-IR, Select-DR-Scan, Capture-DR, Shift-DR
    Send();
    EXPECT_EQ(Instruction(0), kUserInstruction0);
    EXPECT_EQ(Instruction(1), kBypass8);
    ExpectTaps(VC_TAP_SHIFT_DR);

    const uint32_t first = 0xCAFEF00D;
    const Bytes load = ShiftBytes(uint64_t{first} << 1, 33);  // bit 0 ends in the bypass bit
    ASSERT_EQ(JTAG_WriteTDI(kJtagMode, 33, load.data(), nullptr, &bitsRead, 1), rc::kTransferOk);
    EXPECT_EQ(bitsRead, 0u);  // queued: nothing read
    Tms(1, 0x01);             // Update-DR, Run-Test/Idle
    Send();
    ExpectTaps(VC_TAP_RUN_TEST_IDLE);
    EXPECT_EQ(UserRegister(0), first);
    EXPECT_EQ(UserRegister(1), 0u);

    // A second scan captures the register (after the bypass bit, which captures 0) while it
    // loads the next value.
    const uint32_t second = 0x0BADC0DE;
    const Bytes next = ShiftBytes(uint64_t{second} << 1, 33);
    auto scan = [&](const Bytes& tdi) {
        Tms(2, 0x01);  // Select-DR-Scan, Capture-DR, Shift-DR
        uint8_t tdo[5] = {};
        EXPECT_EQ(JTAG_WriteTDI(kJtagMode, 33, tdi.data(), tdo, &bitsRead, 1), rc::kTransferOk);
        EXPECT_EQ(bitsRead, 33u);
        Tms(1, 0x01);
        Send();
        return FromShiftBytes(tdo, 33);
    };
    EXPECT_EQ(scan(next), uint64_t{first} << 1);
    EXPECT_EQ(UserRegister(0), second);

    ResetXilinx(1, 1);  // GPIOL1 low resets the user registers
    EXPECT_EQ(UserRegister(0), 0u);
    uint16_t levels = 0, directions = 0;
    ASSERT_EQ(vc_pins_get(0, &levels, &directions), VC_OK);
    EXPECT_EQ(directions & 0x20, 0);  // GPIOL1 released again, read high
    EXPECT_EQ(levels & 0x20, 0x20);
    EXPECT_EQ(Instruction(0), kUserInstruction0);  // the pulse leaves the IR alone
    EXPECT_EQ(scan(load), 0u);
    EXPECT_EQ(UserRegister(0), first);
}

struct ClkRow {
    int bitCount;
    uint64_t cycles;
};

TEST_F(ChainJtagTest, ClkRunsWholeBytesAt1MHzAndRestoresTheDivisor) {
    ASSERT_EQ(FTDI_SetClk(2), rc::kSetClkOk);
    Tms(5, 0x1F);  // Test-Logic-Reset, then Run-Test/Idle with TMS left low
    for (ClkRow row : {ClkRow{0, 8}, ClkRow{7, 8}, ClkRow{8, 16}, ClkRow{20, 24}}) {
        Send();
        const uint64_t cycles = vc_mpsse_tck_cycles(0);
        const uint64_t ticks = vc_mpsse_base_clock_ticks(0);
        ASSERT_EQ(JTAG_Clk(kJtagMode, row.bitCount), rc::kTransferOk);
        Send();
        EXPECT_EQ(vc_mpsse_tck_cycles(0) - cycles, row.cycles) << row.bitCount;
        // Divisor 5: one cycle is 12 periods of the 12 MHz base clock.
        EXPECT_EQ(vc_mpsse_base_clock_ticks(0) - ticks, row.cycles * 12) << row.bitCount;
        EXPECT_EQ(vc_mpsse_divisor(0), 2) << row.bitCount;
        ExpectTaps(VC_TAP_RUN_TEST_IDLE);
    }
}

}  // namespace
}  // namespace kl::testing

#include "targets/jtag/tap_controller.h"

#include <algorithm>
#include <array>

#include "targets/bit_stream.h"

namespace vcable {
namespace {

using S = TapState;

struct TapRow {
    TapState onTms0;
    TapState onTms1;
    const char* name;
};

// Indexed by TapState.
constexpr std::array<TapRow, kTapStateCount> kTapTable = {{
    {S::kRunTestIdle, S::kTestLogicReset, "Test-Logic-Reset"},
    {S::kRunTestIdle, S::kSelectDrScan, "Run-Test/Idle"},
    {S::kCaptureDr, S::kSelectIrScan, "Select-DR-Scan"},
    {S::kShiftDr, S::kExit1Dr, "Capture-DR"},
    {S::kShiftDr, S::kExit1Dr, "Shift-DR"},
    {S::kPauseDr, S::kUpdateDr, "Exit1-DR"},
    {S::kPauseDr, S::kExit2Dr, "Pause-DR"},
    {S::kShiftDr, S::kUpdateDr, "Exit2-DR"},
    {S::kRunTestIdle, S::kSelectDrScan, "Update-DR"},
    {S::kCaptureIr, S::kTestLogicReset, "Select-IR-Scan"},
    {S::kShiftIr, S::kExit1Ir, "Capture-IR"},
    {S::kShiftIr, S::kExit1Ir, "Shift-IR"},
    {S::kPauseIr, S::kUpdateIr, "Exit1-IR"},
    {S::kPauseIr, S::kExit2Ir, "Pause-IR"},
    {S::kShiftIr, S::kUpdateIr, "Exit2-IR"},
    {S::kRunTestIdle, S::kSelectDrScan, "Update-IR"},
}};

}  // namespace

TapState NextTapState(TapState state, bool tms) {
    const TapRow& row = kTapTable[static_cast<int>(state)];
    return tms ? row.onTms1 : row.onTms0;
}

const char* TapStateName(TapState state) { return kTapTable[static_cast<int>(state)].name; }

TapController::TapController(const JtagDeviceSetup& setup, const std::string& name,
                             TargetEvents* events)
    : irLength_(setup.irLength),
      irCapture_(setup.irCapture),
      registers_(setup, name, events),
      ir_(registers_.ResetOpcode()) {}

uint64_t TapController::UserRegister() const {
    const DataRegister* reg = registers_.FirstData();
    if (!reg) return 0;
    ShiftRegister stage;
    stage.Load(reg->length, reg->value.data());
    return stage.Low64();
}

void TapController::SetUserRegister(uint64_t value) {
    DataRegister* reg = registers_.FirstData();
    if (!reg) return;
    ShiftRegister stage;
    stage.Load(reg->length, value);
    std::fill(reg->value.begin(), reg->value.end(), 0);
    stage.Store(reg->value.data());
}

void TapController::LoadInstruction(uint32_t opcode) {
    ir_ = opcode;
    registers_.Select(opcode);
}

void TapController::RisingEdge(bool tms, bool tdi) {
    SpiBridge& bridge = registers_.Bridge();
    if (bridge.Active()) bridge.Rising(state_, tdi, NextTapState(state_, tms));
    switch (state_) {
        case S::kCaptureDr:
            registers_.Capture(dr_);
            break;
        case S::kShiftDr:
            dr_.Shift(tdi);
            registers_.Shifted(1);
            break;
        case S::kCaptureIr:
            irShift_ = registers_.InstructionCapture(irCapture_) & IrMask();
            break;
        case S::kShiftIr:
            irShift_ = (irShift_ >> 1) | (uint64_t{tdi} << (irLength_ - 1));
            break;
        case S::kRunTestIdle:
            if (!tms) registers_.RunTestClocks(1);  // a period that stays in Run-Test/Idle
            break;
        default:
            break;
    }
    const TapState before = state_;
    state_ = NextTapState(state_, tms);
    if (state_ == S::kTestLogicReset && before != S::kTestLogicReset) {
        LoadInstruction(registers_.ResetOpcode());
    }
}

void TapController::FallingEdge() {
    if (state_ == S::kUpdateIr) LoadInstruction(static_cast<uint32_t>(irShift_ & IrMask()));
    if (state_ == S::kUpdateDr) registers_.Update(dr_);
    SpiBridge& bridge = registers_.Bridge();
    if (bridge.Active()) bridge.Falling();
    if (state_ == S::kShiftDr) {
        tdoDriven_ = true;
        tdo_ = bridge.Active() ? bridge.Tdo() : dr_.Out();
    } else if (state_ == S::kShiftIr) {
        tdoDriven_ = true;
        tdo_ = (irShift_ & 1) != 0;
    } else {
        tdoDriven_ = false;
    }
}

void TapController::RunPeriods(bool tms, const uint8_t* in, uint32_t n, uint8_t* out) {
    for (uint32_t i = 0; i < n;) {
        if (!tms && (state_ == S::kShiftDr || state_ == S::kShiftIr)) {
            // TCK rests low between periods, so TDO already shows bit 0 of the register.
            if (state_ == S::kShiftDr) {
                dr_.Shift(in, i, out, i, n - i);
                registers_.Shifted(n - i);
                tdo_ = dr_.Out();
            } else {
                bits::DelayLine(irShift_, irLength_, in, i, out, i, n - i);
                tdo_ = (irShift_ & 1) != 0;
            }
            tdoDriven_ = true;
            return;
        }
        if (NextTapState(state_, tms) == state_) {
            // Test-Logic-Reset, Run-Test/Idle or a pause state held by TMS: nothing moves, TDO
            // stays undriven; a memory operation may be waiting for the Run-Test/Idle clocks.
            if (state_ == S::kRunTestIdle) registers_.RunTestClocks(n - i);
            bits::Fill(out, i, n - i, true);
            return;
        }
        bits::Put(out, i, !tdoDriven_ || tdo_);
        RisingEdge(tms, bits::Get(in, i));
        FallingEdge();
        ++i;
    }
}

}  // namespace vcable

#include "targets/jtag/tap_controller.h"

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

// Capture-IR loads this fixed pattern: the two bits nearest TDO are 0b01.
constexpr uint64_t kIrCapturePattern = 0x1;

}  // namespace

TapState NextTapState(TapState state, bool tms) {
    const TapRow& row = kTapTable[static_cast<int>(state)];
    return tms ? row.onTms1 : row.onTms0;
}

const char* TapStateName(TapState state) { return kTapTable[static_cast<int>(state)].name; }

TapController::TapController(const JtagDeviceSetup& setup)
    : setup_(setup), ir_(setup.idcodeInstruction), user_(0) {
    ResetUserRegister();
}

int TapController::SelectedDrLength() const {
    if (ir_ == setup_.idcodeInstruction) return 32;
    if (ir_ == setup_.userInstruction) return setup_.userLength;
    return 1;  // BYPASS, and every instruction this device does not know
}

uint64_t TapController::CaptureDrValue() const {
    if (ir_ == setup_.idcodeInstruction) return setup_.idcode;
    if (ir_ == setup_.userInstruction) return user_;
    return 0;
}

void TapController::RisingEdge(bool tms, bool tdi) {
    const uint64_t in = tdi ? 1 : 0;
    switch (state_) {
        case S::kCaptureDr:
            drShift_ = CaptureDrValue();
            break;
        case S::kShiftDr:
            drShift_ = (drShift_ >> 1) | (in << (SelectedDrLength() - 1));
            break;
        case S::kCaptureIr:
            irShift_ = kIrCapturePattern;
            break;
        case S::kShiftIr:
            irShift_ = (irShift_ >> 1) | (in << (setup_.irLength - 1));
            break;
        default:
            break;
    }
    state_ = NextTapState(state_, tms);
    if (state_ == S::kTestLogicReset) ir_ = setup_.idcodeInstruction;
}

void TapController::FallingEdge() {
    if (state_ == S::kUpdateIr) ir_ = static_cast<uint32_t>(irShift_ & Mask(setup_.irLength));
    if (state_ == S::kUpdateDr && ir_ == setup_.userInstruction) SetUserRegister(drShift_);
    if (state_ == S::kShiftDr) {
        tdoDriven_ = true;
        tdo_ = (drShift_ & 1) != 0;
    } else if (state_ == S::kShiftIr) {
        tdoDriven_ = true;
        tdo_ = (irShift_ & 1) != 0;
    } else {
        tdoDriven_ = false;
    }
}

void TapController::RunPeriods(bool tms, const uint8_t* in, uint32_t n, uint8_t* out) {
    for (uint32_t i = 0; i < n;) {
        const bool shiftDr = state_ == S::kShiftDr;
        if (!tms && (shiftDr || state_ == S::kShiftIr)) {
            // TCK rests low between periods, so TDO already shows bit 0 of the register.
            uint64_t& reg = shiftDr ? drShift_ : irShift_;
            const int length = shiftDr ? SelectedDrLength() : setup_.irLength;
            bits::DelayLine(reg, length, in, i, out, i, n - i);
            tdoDriven_ = true;
            tdo_ = (reg & 1) != 0;
            return;
        }
        if (NextTapState(state_, tms) == state_) {
            // Test-Logic-Reset, Run-Test/Idle or a pause state held by TMS: nothing moves, TDO
            // stays undriven.
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

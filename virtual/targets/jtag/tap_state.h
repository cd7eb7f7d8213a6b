// The sixteen states of an IEEE 1149.1 TAP controller and the moves between them.
#pragma once

#include <cstdint>

namespace vcable {

enum class TapState : uint8_t {
    kTestLogicReset,
    kRunTestIdle,
    kSelectDrScan,
    kCaptureDr,
    kShiftDr,
    kExit1Dr,
    kPauseDr,
    kExit2Dr,
    kUpdateDr,
    kSelectIrScan,
    kCaptureIr,
    kShiftIr,
    kExit1Ir,
    kPauseIr,
    kExit2Ir,
    kUpdateIr,
};
constexpr int kTapStateCount = 16;

TapState NextTapState(TapState state, bool tms);
const char* TapStateName(TapState state);

// Shift-DR and the states that a DR scan passes through before Update-DR.
inline bool InDrScan(TapState state) {
    return state >= TapState::kShiftDr && state <= TapState::kExit2Dr;
}

}  // namespace vcable

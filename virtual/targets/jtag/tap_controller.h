// One IEEE 1149.1 TAP controller with its instruction register and three data registers: IDCODE,
// BYPASS and a user register. The state machine is a table of next states for TMS 0 and 1.
#pragma once

#include <cstdint>

#include "targets/jtag/jtag_setup.h"

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

class TapController {
  public:
    explicit TapController(const JtagDeviceSetup& setup);

    // Rising TCK: capture or shift, then move on by TMS.
    void RisingEdge(bool tms, bool tdi);
    // Falling TCK: updates take effect, TDO changes.
    void FallingEdge();

    // n whole periods with TMS held: period i shifts bit i of in (clock order). out receives the
    // TDO the next device sees at the start of each period (1 where undriven). Shift states move
    // whole bytes through the register; states that TMS keeps the TAP in are skipped at once.
    void RunPeriods(bool tms, const uint8_t* in, uint32_t n, uint8_t* out);

    bool TdoDriven() const { return tdoDriven_; }
    bool Tdo() const { return tdo_; }

    TapState State() const { return state_; }
    uint32_t Instruction() const { return ir_; }
    uint64_t UserRegister() const { return user_; }
    void SetUserRegister(uint64_t value) { user_ = value & Mask(setup_.userLength); }
    void ResetUserRegister() { SetUserRegister(setup_.userResetValue); }

  private:
    static uint64_t Mask(int bits) { return bits >= 64 ? ~0ull : (1ull << bits) - 1; }
    int SelectedDrLength() const;
    uint64_t CaptureDrValue() const;

    JtagDeviceSetup setup_;
    TapState state_ = TapState::kTestLogicReset;
    uint32_t ir_;
    uint64_t user_;
    uint64_t irShift_ = 0;
    uint64_t drShift_ = 0;
    bool tdo_ = true;
    bool tdoDriven_ = false;
};

}  // namespace vcable

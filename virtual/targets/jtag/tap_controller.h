// One IEEE 1149.1 TAP controller: the state machine as a table of next states for TMS 0 and 1,
// the instruction register, and the data registers its instruction table selects.
#pragma once

#include <cstdint>
#include <string>

#include "targets/jtag/jtag_setup.h"
#include "targets/jtag/shift_register.h"
#include "targets/jtag/tap_registers.h"
#include "targets/jtag/tap_state.h"
#include "targets/pin_target.h"

namespace vcable {

class TapController {
  public:
    // Notes go to `events` when given, each naming the device as `name`.
    explicit TapController(const JtagDeviceSetup& setup, const std::string& name = "jtag",
                           TargetEvents* events = nullptr);

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
    TapRegisters& Registers() { return registers_; }
    const TapRegisters& Registers() const { return registers_; }

    // The user register: the first data register of the instruction table (its first 64 bits).
    uint64_t UserRegister() const;
    void SetUserRegister(uint64_t value);
    void ResetDataRegisters() { registers_.ResetDataRegisters(); }

  private:
    void LoadInstruction(uint32_t opcode);
    uint64_t IrMask() const { return (uint64_t{1} << irLength_) - 1; }

    int irLength_;
    uint32_t irCapture_;
    TapRegisters registers_;
    TapState state_ = TapState::kTestLogicReset;
    uint32_t ir_ = 0;
    uint64_t irShift_ = 0;
    ShiftRegister dr_;
    bool tdo_ = true;
    bool tdoDriven_ = false;
};

}  // namespace vcable

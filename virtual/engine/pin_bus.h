// The 16 GPIO lines of channel A as the chip drives them: an output register and a direction
// register per byte (ADBUS, ACBUS), the targets that drive the inputs, and the levels every target
// saw last. A line set as an output shows its output bit; an input shows the wired-AND of the
// targets driving it, or high when nobody does (the chip's pull-ups).
#pragma once

#include <cstdint>
#include <vector>

#include "targets/pin_target.h"

namespace vcable {

// Receives the levels of all lines after every change, with the time of the change.
using PinHookFn = void (*)(void* user, uint64_t time, uint16_t levels);

class PinBus {
  public:
    // A target attached to a live bus is told the present levels at once.
    void Attach(PinTarget* target);
    void DetachAll() { targets_.clear(); }

    uint16_t Outputs() const { return outputs_; }
    uint16_t Directions() const { return directions_; }
    // Levels as the targets last saw them.
    uint16_t Levels() const { return seen_; }

    void SetLowByte(uint8_t value, uint8_t direction);
    void SetHighByte(uint8_t value, uint8_t direction);
    void SetOutputBit(int line, bool level);
    void AllInputs();

    // Brings the targets up to date: hands them the current levels until nothing changes.
    void Settle();
    void Poll();

    // The hook sees every change of the levels; the time stamps the changes that follow.
    void SetHook(PinHookFn fn, void* user) {
        hook_ = fn;
        hookUser_ = user;
    }
    void SetTime(uint64_t time) { time_ = time; }

    // Fast path: when every target can take the run, acts it out on all of them and writes into
    // tdo the wired-AND of their pulls on TDO per period; false, with nothing done, otherwise.
    bool RunFast(const ClockRun& run, uint8_t* tdo);
    // After a fast run: the outputs the run left, and the targets brought up to date.
    void FinishRun(uint16_t outputs) {
        outputs_ = outputs;
        Settle();
    }

  private:
    uint16_t Compute() const;

    std::vector<PinTarget*> targets_;
    uint16_t outputs_ = 0;
    uint16_t directions_ = 0;
    uint16_t seen_ = 0xFFFF;
    bool everNotified_ = false;
    PinHookFn hook_ = nullptr;
    void* hookUser_ = nullptr;
    uint64_t time_ = 0;
    std::vector<uint8_t> scratch_;  // one target's TDO stream during a fast run
};

}  // namespace vcable

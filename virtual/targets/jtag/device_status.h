// A device's state as its status register shows it: busy while an operation runs (for a time on
// the model clock), and the flags that operations set and clear when they end.
#pragma once

#include <cstdint>
#include <string>

#include "targets/jtag/jtag_setup.h"
#include "targets/jtag/shift_register.h"
#include "targets/pin_target.h"

namespace vcable {

class DeviceStatus {
  public:
    // The model clock comes from `events`; without them time stands still at 0.
    DeviceStatus(std::string name, TargetEvents* events)
        : name_(std::move(name)), events_(events) {}

    // The operation `row` describes begins now. One still running is cut short: its flags do not
    // change, and the trace says so.
    void Start(const JtagInstruction& row);
    bool Busy();
    uint32_t Flags();
    // Capture-DR of a status register.
    void Capture(const JtagInstruction& row, ShiftRegister& dr);

  private:
    uint64_t Now() { return events_ ? events_->NowNs() : 0; }
    // Ends the operation whose time is over, or that began before the model clock was reset.
    void Settle();

    std::string name_;
    TargetEvents* events_;
    bool running_ = false;
    uint64_t startedAt_ = 0;
    uint64_t readyAt_ = 0;
    uint32_t sets_ = 0;
    uint32_t clears_ = 0;
    uint32_t flags_ = 0;
};

}  // namespace vcable

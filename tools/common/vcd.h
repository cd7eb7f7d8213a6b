// --vcd FILE: the lines of one cable's channel A as a value-change dump for waveform viewers.
// Times come from the engine's pin hook in base-clock ticks (12 MHz) and are written in
// nanoseconds. Changes that the engine makes without clocking (pin commands) carry no time of
// their own; a line that changes twice at one time is moved on by 1 ns so the pulse stays visible.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/virtual_cable.h"

namespace kestrel {

class VcdRecorder {
  public:
    ~VcdRecorder();

    bool Open(const std::string& path, std::string& error);
    // Starts recording the lines of `cable`; false when the cable build has no pin hook.
    bool Attach(const VirtualCable& virtualCable, int cable, std::string& error);
    void Finish();

  private:
    static void OnPins(void* user, uint64_t time, uint16_t levels);
    void Change(uint64_t ticks, uint16_t levels);

    FILE* file_ = nullptr;
    const VirtualApi* api_ = nullptr;
    int cable_ = 0;
    uint16_t levels_ = 0;
    uint64_t lastTime_ = 0;
    uint16_t changedAtLast_ = 0;
    uint64_t shift_ = 0;  // nanoseconds added to keep double changes apart
};

}  // namespace kestrel

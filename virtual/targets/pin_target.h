// What hangs off the cable's pins. A target sees the levels of all 16 lines after every change and
// may drive some of them in return; it knows nothing about the command stream that moves them, so
// a bit-banged host could drive it just as well.
#pragma once

#include <cstdint>
#include <string>

namespace vcable {

// Line numbers: 0 to 7 are ADBUS0 to ADBUS7, 8 to 15 are ACBUS0 to ACBUS7.
namespace pin {
constexpr int kTck = 0;  // TCK / SK
constexpr int kTdi = 1;  // TDI / DO (cable output)
constexpr int kTdo = 2;  // TDO / DI (cable input)
constexpr int kTms = 3;  // TMS / CS
constexpr int kGpiol0 = 4;
constexpr int kGpiol1 = 5;
constexpr int kGpiol2 = 6;
constexpr int kGpiol3 = 7;
constexpr int kGpioh0 = 8;
constexpr int kGpioh1 = 9;
constexpr int kCount = 16;
}  // namespace pin

inline bool LineHigh(uint16_t levels, int line) {
    return ((levels >> line) & 1u) != 0;
}

// Where a target reports what it saw: Error for behaviour the model does not implement (an unknown
// flash command), Note for host behaviour that a real device ignores (a write while busy).
class TargetEvents {
  public:
    virtual ~TargetEvents() = default;
    virtual void Error(const std::string& text) = 0;
    virtual void Note(const std::string& text) = 0;
};

class PinTarget {
  public:
    virtual ~PinTarget() = default;

    // Called with the new levels of all lines whenever any line changed. Edges are found by
    // comparing with the previous call's levels.
    virtual void OnPins(uint16_t levels) = 0;

    // Lines this target drives at the moment, and the levels it drives them to. Several drivers on
    // one line combine as wired-AND; an undriven input reads high (the chip's pull-ups).
    virtual uint16_t DriveMask() const = 0;
    virtual uint16_t DriveLevels() const = 0;

    // One receive-queue poll of channel A went by (schedules counted in polls).
    virtual void OnPoll() {}
};

}  // namespace vcable

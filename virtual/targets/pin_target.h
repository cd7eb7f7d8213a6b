// What hangs off the cable's pins. A target sees the levels of all 16 lines after every change and
// may drive some of them in return; it knows nothing about the command stream that moves them, so
// a bit-banged host could drive it just as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
constexpr int kCount = 16;      // the bits of the two bytes the engine sets and reads
constexpr int kLineCount = 12;  // the lines channel A has: ACBUS4 to ACBUS7 do not exist
}  // namespace pin

inline bool LineHigh(uint16_t levels, int line) { return ((levels >> line) & 1u) != 0; }

// Where a target reports what it saw: Error for behaviour the model does not implement (an unknown
// flash command), Note for the trace: host behaviour that a real device ignores (a write while
// busy) and what a target did (a flash transaction).
class TargetEvents {
  public:
    virtual ~TargetEvents() = default;
    virtual void Error(const std::string& text) = 0;
    virtual void Note(const std::string& text) = 0;
    // The model clock now, in nanoseconds at full speed, TCK periods clocked so far included:
    // what devices with busy times measure them against. Never goes back.
    virtual uint64_t NowNs() { return 0; }
};

// A run of whole TCK periods in which only TCK and TDI move: TCK starts low and each period is a
// rising then a falling edge; TDI takes the level of its period before the rising edge; every other
// line keeps its level. The engine clocks data through targets this way when they can take it.
struct ClockRun {
    uint16_t levels;         // all lines during the run; TCK low, the TDI bit is not used
    const uint8_t* tdi;      // TDI level of period i in bit i % 8 of tdi[i / 8] (padded stream)
    uint32_t periods;        // at least 1
    bool sampleAfterRising;  // TDO is sampled between the edges (else just before the rising one)
    uint16_t FinalLevels() const;  // the levels after the run: TCK low, TDI at the last period's
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

    // Every target on the same pins, this one included, after each change of the set: a target
    // that reaches another directly (a JTAG bridge to the flash) finds it here. The pointers hold
    // until the next call.
    virtual void SeeNeighbours(const std::vector<PinTarget*>& /*all*/) {}

    // Fast path: whether RunFast can take this run exactly as the edges one by one would act.
    virtual bool CanRunFast(const ClockRun& /*run*/) const { return false; }
    // Acts out the run and writes into tdo, for each period, the TDO level this target pulls the
    // line to at the sampling point (1 where it does not drive it low). Ends with the target in
    // the state OnPins(run.FinalLevels()) after the last edge would leave it.
    virtual void RunFast(const ClockRun& /*run*/, uint8_t* /*tdo*/) {}
};

inline uint16_t ClockRun::FinalLevels() const {
    const uint16_t tdiBit = 1u << pin::kTdi;
    const bool lastTdi = ((tdi[(periods - 1) >> 3] >> ((periods - 1) & 7)) & 1) != 0;
    const uint16_t base = static_cast<uint16_t>(levels & ~(tdiBit | (1u << pin::kTck)));
    return static_cast<uint16_t>(base | (lastTdi ? tdiBit : 0));
}

}  // namespace vcable

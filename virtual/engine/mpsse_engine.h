// The MPSSE engine of channel A: parses the host's byte stream command by command (a command may
// be split across writes), clocks the pins bit by bit so that the attached targets see every edge,
// and appends reply bytes at once. Unknown opcodes with bit 7 set get the chip's reply 0xFA,
// opcode; unknown opcodes with bit 7 clear get no answer. The waits on GPIOL1 hold every later
// command until the level comes. Host mistakes and anything the model cannot do faithfully are
// recorded as errors, of the engine and of the model.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/mpsse_port.h"
#include "engine/pin_bus.h"
#include "targets/pin_target.h"
#include "targets/target_setup.h"

namespace vcable {

// Receives one human-readable line per decoded command (and per error or target note).
using MpsseTraceFn = void (*)(void* user, const char* line);

class MpsseEngine : public MpssePort, private TargetEvents {
  public:
    explicit MpsseEngine(const TargetSetup& setup);
    ~MpsseEngine() override;

    void Reset() override;
    void Write(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) override;
    void OnPoll(std::vector<uint8_t>& rx) override;
    void DropHeld() override { held_.clear(); }
    void BitBang(const uint8_t* data, size_t count, uint8_t direction, uint64_t rateHz,
                 uint8_t* samples) override;
    uint8_t LowPinLevels() override {
        pins_.Settle();
        return static_cast<uint8_t>(pins_.Levels() & 0xFF);
    }
    std::optional<size_t> TakeSendImmediate() override {
        return std::exchange(sendImmediateAt_, std::nullopt);
    }
    uint64_t ClockedCycles() const override { return tckCycles_; }
    // Time the clocked cycles took on the wire, in periods of the 12 MHz base clock.
    uint64_t ClockedBaseTicks() const override { return baseTicks_; }

    // Back to the state of a new engine with this wiring (targets, pins, parser, counters).
    void Reconfigure(const TargetSetup& setup);

    // The targets on the pins, as the registry of target kinds built them from the setup: the
    // one of a type, or null when the setup has none.
    template <class Target>
    Target* Find() const {
        for (const std::unique_ptr<PinTarget>& target : targets_) {
            if (auto* found = dynamic_cast<Target*>(target.get())) return found;
        }
        return nullptr;
    }
    // Builds a target of Target's kind from `setup` in place of the present one (or none, when
    // the setup says so); the other targets, the pins and the parser stay as they are.
    template <class Target, class Setup>
    void Replace(const Setup& setup) {
        ReplaceTarget([](const PinTarget* t) { return dynamic_cast<const Target*>(t) != nullptr; },
                      BuildTarget(setup, Events()));
    }

    PinBus& Pins() { return pins_; }
    // Re-evaluates the pins after a target was changed from outside (control API).
    void PinsChanged() { pins_.Settle(); }

    // A 0x88 or 0x89 is waiting for GPIOL1; the bytes written since are held.
    bool Waiting() const { return waiting_; }
    size_t HeldBytes() const { return held_.size(); }

    bool Loopback() const { return loopback_; }
    uint16_t Divisor() const { return divisor_; }

    uint32_t ErrorCount() const { return errorCount_; }
    const std::string& LastError() const { return lastError_; }
    uint32_t BadCommandCount() const { return badCommandCount_; }
    uint8_t LastBadCommand() const { return lastBadCommand_; }
    void ClearErrors();

    // Data shifts through targets that can take whole runs skip the edge-by-edge clocking (on by
    // default); off, every bit goes through the pins one edge at a time. Results are the same.
    void SetFastPaths(bool on) { fastPaths_ = on; }
    bool FastPaths() const { return fastPaths_; }
    // TCK periods the fast path clocked (included in ClockedCycles).
    uint64_t FastCycles() const { return fastCycles_; }

    void SetTrace(MpsseTraceFn fn, void* user) {
        traceFn_ = fn;
        traceUser_ = user;
    }
    // Every change of the line levels, stamped with the base-clock tick it happened at (a clock
    // period's edges come half a period and a whole period after its start). Survives
    // Reconfigure, like the trace hook.
    void SetPinHook(PinHookFn fn, void* user) {
        pinHookFn_ = fn;
        pinHookUser_ = user;
        pins_.SetHook(fn, user);
    }

  private:
    enum class Phase { kOpcode, kArgs, kData };

    // TargetEvents
    void Error(const std::string& text) override;
    void Note(const std::string& text) override;
    uint64_t NowNs() override;

    TargetEvents& Events() { return *this; }
    void ReplaceTarget(bool (*sameKind)(const PinTarget*), std::unique_ptr<PinTarget> target);
    void AttachTargets();
    void Run(const uint8_t* data, size_t count, std::vector<uint8_t>& rx);
    // Ends a wait whose level has come and runs what it held.
    void ResumeIfLevelCame(std::vector<uint8_t>& rx);
    void Feed(uint8_t byte, std::vector<uint8_t>& rx);
    void StartCommand(uint8_t op, std::vector<uint8_t>& rx);
    void RunWithArgs(std::vector<uint8_t>& rx);
    void EndCommand();
    void RunControl(std::vector<uint8_t>& rx);
    void BadCommand(uint8_t op, std::vector<uint8_t>& rx);
    void StartWait(bool high);

    // Shifting (shift.cpp).
    bool ClockBit(int tdi, int tms, bool inOnFalling);
    bool ReadDi() const;
    uint8_t ShiftBits(uint8_t op, uint8_t data, int bits);
    uint8_t ShiftTms(uint8_t op, uint8_t data, int bits);
    void ShiftDataByte(uint8_t byte, std::vector<uint8_t>& rx);
    void ShiftDataBytes(const uint8_t* data, uint32_t count, std::vector<uint8_t>& rx);

    // Fast path (fast_path.cpp): the current shift command's periods as one run through the
    // targets; data null for commands that do not write. False, with nothing done, when the pins
    // or a target rule it out.
    bool FastShift(const uint8_t* data, uint32_t periods, bool byteMode, std::vector<uint8_t>& rx);

    // Trace (trace.cpp).
    bool Tracing() const { return traceFn_ != nullptr; }
    void TraceBegin();
    void TraceData(const char* label, uint8_t byte);
    void TraceEnd();
    void Emit(const std::string& line) const;

    std::vector<std::unique_ptr<PinTarget>> targets_;  // in the order they are attached
    PinBus pins_;
    bool loopback_ = false;
    uint16_t divisor_ = 0;

    // Parser: the command being assembled. Byte-mode data is executed as it arrives.
    Phase phase_ = Phase::kOpcode;
    uint8_t op_ = 0;
    uint8_t args_[2] = {0, 0};
    int argsHave_ = 0;
    int argsNeed_ = 0;
    uint32_t dataLeft_ = 0;

    // A wait on GPIOL1 and the bytes written while it lasts.
    bool waiting_ = false;
    bool waitForHigh_ = false;
    std::vector<uint8_t> held_;
    std::optional<size_t> sendImmediateAt_;

    bool fastPaths_ = true;
    uint64_t fastCycles_ = 0;
    std::vector<uint8_t> tdiStream_;  // fast path scratch, reused
    std::vector<uint8_t> tdoStream_;

    uint64_t tckCycles_ = 0;
    uint64_t baseTicks_ = 0;
    uint64_t writeStartTicks_ = 0;  // baseTicks_ when the present write or poll began
    uint64_t bitBangCarry_ = 0;     // bit-bang time short of a whole base tick, x rate
    uint64_t lastNowNs_ = 0;
    uint64_t lastClockPs_ = 0;  // the model clock at the last NowNs, to see it reset
    uint32_t errorCount_ = 0;
    std::string lastError_;
    uint32_t badCommandCount_ = 0;
    uint8_t lastBadCommand_ = 0;

    PinHookFn pinHookFn_ = nullptr;
    void* pinHookUser_ = nullptr;
    MpsseTraceFn traceFn_ = nullptr;
    void* traceUser_ = nullptr;
    std::string traceLine_;
    std::string traceOut_;
    std::string traceIn_;
    uint32_t traceOutCount_ = 0;
    uint32_t traceInCount_ = 0;
};

// Names what an opcode does, for the trace ("write bytes -ve LSB"); empty for a bad opcode.
std::string DescribeOpcode(uint8_t op);

}  // namespace vcable

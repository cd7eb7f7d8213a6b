// The seam between the chip model (devices, channels, entry points) and what hangs off channel A's
// pins (the MPSSE engine and its targets). The chip model owns one port per FT2232 and feeds it
// every byte the host writes while channel A is in MPSSE mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "targets/target_setup.h"

namespace vcable {

class MpssePort {
  public:
    virtual ~MpssePort() = default;

    // A bit-mode change (MPSSE selected again, or left): command parsing restarts, commands held
    // by a wait are dropped, pins become inputs.
    virtual void Reset() = 0;

    // Executes the bytes in order; a command may be split across calls. Reply bytes are appended
    // to rx at once (the engine is synchronous). An engine waiting for a pin holds the bytes and
    // runs them once the wait ends.
    virtual void Write(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) = 0;

    // Called once for every receive-queue poll of channel A, so that schedules counted in polls
    // (for example "GPIOH1 goes low after 3 polls") advance deterministically; a wait that they
    // end lets the held commands run, with their replies appended to rx.
    virtual void OnPoll(std::vector<uint8_t>& /*rx*/) {}

    // The levels of the low byte's lines (ADBUS) now, as an instantaneous pin read sees them.
    virtual uint8_t LowPinLevels() { return 0xFF; }

    // Bit-bang, the MPSSE being off and the chip driving the low byte's lines (ADBUS) itself: for
    // each byte, samples the lines into samples[i] (unless samples is null), then drives those of
    // `direction` to the byte, `rateHz` updates a second (0: at once). The targets see every
    // change, and the pin hook sees it at its time.
    virtual void BitBang(const uint8_t* /*data*/, size_t /*count*/, uint8_t /*direction*/,
                         uint64_t /*rateHz*/, uint8_t* /*samples*/) {}

    // Drops the commands a wait holds (a purge of the chip's receive buffer).
    virtual void DropHeld() {}

    // Where in rx the last send-immediate since the previous call was executed: the replies
    // before it leave the chip at once.
    virtual std::optional<size_t> TakeSendImmediate() { return std::nullopt; }

    // TCK cycles clocked so far, and their length in periods of the clock base (for the model
    // clock, which takes the difference across each write).
    virtual uint64_t ClockedCycles() const { return 0; }
    virtual uint64_t ClockedBaseTicks() const { return 0; }
};

// An engine with the targets the setup describes (a default setup is the default wiring).
std::unique_ptr<MpssePort> MakeMpssePort(const TargetSetup& setup);

}  // namespace vcable

// The seam between the chip model (devices, channels, entry points) and what hangs off channel A's
// pins (the MPSSE engine and its targets). The chip model owns one port per FT2232 and feeds it
// every byte the host writes while channel A is in MPSSE mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "targets/target_setup.h"

namespace vcable {

class MpssePort {
  public:
    virtual ~MpssePort() = default;

    // Bit-mode reset or a mode other than MPSSE: command parsing restarts, pins become inputs.
    virtual void Reset() = 0;

    // Executes the bytes in order; a command may be split across calls. Reply bytes are appended
    // to rx at once (the engine is synchronous).
    virtual void Write(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) = 0;

    // Called once for every receive-queue poll of channel A, so that schedules counted in polls
    // (for example "GPIOH1 goes low after 3 polls") advance deterministically.
    virtual void OnPoll() {}

    // TCK cycles clocked so far, and their length in periods of the clock base (for the model
    // clock, which takes the difference across each write).
    virtual uint64_t ClockedCycles() const { return 0; }
    virtual uint64_t ClockedBaseTicks() const { return 0; }
};

// An engine with the targets the setup describes (a default setup is the default wiring).
std::unique_ptr<MpssePort> MakeMpssePort(const TargetSetup& setup);

}  // namespace vcable

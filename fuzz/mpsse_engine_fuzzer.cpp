// Fuzzes the virtual cable's MPSSE parser: arbitrary byte streams, cut into writes of varying
// size (a command may span writes), against the default chain, a small flash and the pins.
// Invariants: no crash or undefined behaviour, and replies only for the bytes written (at most
// one reply byte per clocked bit, two for a bad command, one per pin read).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/mpsse_engine.h"
#include "targets/target_setup.h"

namespace {

// Stops feeding an input once this many TCK cycles were clocked: a few long clock commands would
// otherwise make one input take seconds without reaching new code.
constexpr uint64_t kClockBudget = 1u << 21;

vcable::TargetSetup SmallSetup() {
    vcable::TargetSetup setup;
    setup.flash.size = 4096;  // one sector: rebuilding it per input stays cheap
    return setup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const vcable::TargetSetup setup = SmallSetup();
    static auto engine = std::make_unique<vcable::MpsseEngine>(setup);
    engine->Reconfigure(setup);
    std::vector<uint8_t> rx;
    size_t at = 0;
    uint64_t replied = 0;
    while (at < size && engine->ClockedCycles() < kClockBudget) {
        // The first byte of each piece says how long the write is (1 to 64 bytes).
        const size_t piece = 1 + data[at++] % 64;
        const size_t count = piece < size - at ? piece : size - at;
        engine->Write(data + at, count, rx);
        engine->OnPoll(rx);
        at += count;
        replied += rx.size();
        rx.clear();  // the host reads them
        // Every reply byte stands for a clocked bit, a pin read or half a bad-command echo.
        if (replied > 2 * at + engine->ClockedCycles()) __builtin_trap();
    }
    return 0;
}

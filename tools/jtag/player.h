// Plays a Program on the open cable (channel A after OpenDevice): moves, scans, run-test clocks
// and pauses, clock-rate changes, with every TDO comparison the file asks for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/common.h"
#include "jtag/program.h"

namespace kestrel::jtag {

struct PlayOptions {
    bool keepGoing = false;  // count mismatches and carry on instead of stopping at the first
    // Start with five TMS ones (Test-Logic-Reset); otherwise the chain is taken to be in
    // Run-Test/Idle already.
    bool resetFirst = true;
    uint32_t divisor = 5;  // the connection's clock divisor: where FREQUENCY without a value goes
    // Receives "WHERE: COMMAND: text" lines: `problem` for mismatches, else notes.
    std::function<void(bool problem, const std::string& line)> report;
    std::function<void(uint64_t done, uint64_t total)> progress;
    // Waits out a pause after everything before it has been clocked (default: sleeps).
    std::function<void(double seconds)> pause;
};

struct PlayResult {
    uint64_t scans = 0;
    uint64_t checks = 0;      // scans whose TDO was compared
    uint64_t mismatches = 0;  // comparisons that failed (after their retries)
    uint64_t retries = 0;
    uint64_t clocks = 0;         // run-test clocks
    std::vector<Bits> captures;  // TDO of the scans marked `capture`, in order
    CallResult call;             // the export that failed, or why playback stopped
    std::string stoppedAt;       // "WHERE: COMMAND" of the operation playback stopped in
};

// TCK at a clock divisor, and the divisor of the fastest TCK not above `hz`.
double TckHz(uint32_t divisor);
uint32_t DivisorFor(double hz);

// False when playback stopped early: a cable failure (result.call says which) or a mismatch
// without keepGoing. With keepGoing it runs to the end; result.mismatches counts what failed.
bool Play(const Program& program, const PlayOptions& options, PlayResult& result);

}  // namespace kestrel::jtag

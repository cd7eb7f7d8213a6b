// Plays a Program on the open cable (channel A after OpenDevice): moves, scans, run-test clocks
// and pauses, clock-rate changes, with every TDO comparison the file asks for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/common.h"
#include "common/tck.h"
#include "jtag/program.h"

namespace kestrel::jtag {

// The waits of an XSVF file's retries, all scans of one playback together. Each retry waits a
// quarter longer than the one before, so a check that never matches would otherwise hold the
// cable for as long as XREPEAT and XRUNTEST allow: 255 retries of ever longer waits.
constexpr double kMaxRetrySeconds = 600;

struct PlayOptions {
    bool keepGoing = false;  // count mismatches and carry on instead of stopping at the first
    // Start with five TMS ones (Test-Logic-Reset); otherwise the chain is taken to be in
    // Run-Test/Idle already.
    bool resetFirst = true;
    // The cable's reset line (GPIOL1, which ResetXilinx pulses) reaches the chain's TRST: TRST ON
    // pulses it. Otherwise TRST ON resets the chain through TMS and says so.
    bool trstWired = false;
    // Queue checked scans and compare them when their replies are collected together; false
    // collects each one's reply before playback goes on (the same commands on the wire).
    bool batchChecks = true;
    uint32_t divisor = 5;  // the connection's clock divisor: where FREQUENCY without a value goes
    // No retry starts whose wait would bring the playback's retry waits above this.
    double retrySeconds = kMaxRetrySeconds;
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

// The progress a playback reports: shifted bits, plus the run-test clocks and the waits after
// scans as clocks at the TCK rate of their moment (pauses too), starting at `divisor`. Retries
// are not counted: they do not advance the file.
uint64_t ProgressTotal(const Program& program, uint32_t divisor);

// False when playback stopped early: a cable failure (result.call says which) or a mismatch
// without keepGoing. With keepGoing it runs to the end; result.mismatches counts what failed.
bool Play(const Program& program, const PlayOptions& options, PlayResult& result);

}  // namespace kestrel::jtag

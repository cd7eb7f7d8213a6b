// The player's inside, shared by its two files: player.cpp runs the program and carries out moves,
// run-tests, clock changes and TRST; player_scans.cpp carries out the scans and their checks.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "jtag/cable.h"
#include "jtag/player.h"

namespace kestrel::jtag {

// Slack for times and rates written in decimal (1E-3 s at 1 MHz is 1000 clocks, not 1001).
constexpr double kRoundingSlack = 1e-9;

// Where Collect found no speculative scan to play again.
constexpr size_t kNoRedo = std::numeric_limits<size_t>::max();

// TCK cycles for at least `seconds` at the divisor's rate.
uint64_t ClocksFor(double seconds, uint32_t divisor);

class Player {
  public:
    Player(const Program& program, const PlayOptions& options, PlayResult& result)
        : program_(program),
          options_(options),
          result_(result),
          cable_(result.call),
          divisor_(options.divisor),
          retrySecondsLeft_(options.retrySeconds) {}

    bool Run();

  private:
    bool Move(Tap target, bool tdiHigh = true);
    // Every state one TCK after the one before, but Test-Logic-Reset: five ones from anywhere.
    bool MoveAlong(const std::vector<Tap>& path);
    void Report(bool problem, const Op& op, const std::string& text);
    // Clocks for at least `seconds` in the present (stable) state.
    bool Wait(double seconds);
    bool RunTest(const Op& op, const RunOp& run);
    bool Frequency(const Op& op, const FrequencyOp& frequency);
    bool Trst(const Op& op, const TrstOp& trst);
    // Carries out the operation at `index`; false when playback stops.
    bool Dispatch(size_t index);
    bool Stop(const Op& op);
    bool LeadingFrequency();

    // Scans (player_scans.cpp).
    bool Scan(size_t index, const ScanOp& scan);
    // Into the shift state, the bits, and out to Exit1 (or staying in the shift state).
    bool ShiftOnce(const ScanOp& scan, Bits& captured);
    // The scan with the XSVF retries its check allows; with `firstFailed` its first attempt counts
    // as failed whatever it captures (a speculative attempt failed before it).
    bool RetryingScan(const Op& op, const ScanOp& scan, bool firstFailed);
    // Queues a checked or captured scan that needs no answer before playback goes on (`queued`
    // says whether it did); false when the cable failed or a collected check stopped playback.
    bool QueueScan(size_t index, const ScanOp& scan, bool& queued);
    // Whether the scan at `index` may join the speculative scans queued so far.
    bool JoinsSpeculation(size_t index) const;
    // Collects the queued captures' replies and judges them in order. When a speculative scan
    // failed with a retry left, `redo` becomes its index (else kNoRedo) and the scans after it
    // are dropped unjudged.
    bool Collect(size_t& redo);
    // Collect where no speculative scan can be pending.
    bool Drain();
    // Keeps a capture, counts and reports a check; false when playback stops at its mismatch.
    bool Judge(const Op& op, const ScanOp& scan, const Bits& captured, uint32_t attempt,
               bool retryLeft);
    // Whether a failed check of `scan` may be retried: XREPEAT and XRUNTEST allow it, and the
    // grown wait stays within the playback's retry time.
    bool RetryAllowed(const ScanOp& scan, uint32_t attempt, uint64_t waitUs) const;

    const Program& program_;
    const PlayOptions& options_;
    PlayResult& result_;
    JtagCable cable_;
    Tap tap_ = Tap::kIdle;
    uint32_t divisor_;
    double retrySecondsLeft_;
    struct Pending {
        size_t index;  // of the scan's operation
        JtagCable::Capture capture;
        uint32_t offset;   // of its reply among the collected bytes
        bool speculative;  // clocked as if its check passes, before its reply was read
    };
    std::vector<Pending> pending_;
    uint32_t pendingBytes_ = 0;
    // Whether speculative scans were queued since the last collection, and the TCK cycles they
    // clock (their bits and waits).
    bool speculating_ = false;
    uint64_t speculativeClocks_ = 0;
};

}  // namespace kestrel::jtag

#include "jtag/player.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "jtag/cable.h"
#include "jtag/play_reports.h"

namespace kestrel::jtag {
namespace {

constexpr double kBaseHz = 6e6;  // TCK at divisor 0: 12 MHz / ((1 + divisor) x 2)
constexpr uint32_t kMaxDivisor = 0xFFFF;
// Slack for times and rates written in decimal (1E-3 s at 1 MHz is 1000 clocks, not 1001).
constexpr double kRoundingSlack = 1e-9;
constexpr kl_u32 kTrstPulseMs = 1;  // how long TRST ON holds the reset line low, and waits after

// Uniform TDI long scans still take the capturing shift: a reading TMS command carries 6 bits in
// 3 bytes, which for long scans costs more on the wire than the one round trip it saves.
constexpr uint32_t kMaxTmsReadBits = 1024;
// Reply bytes of queued captures left unread at most: one IN transfer of the host driver's
// default size, so that a long batch never leaves the chip waiting for the host to take its
// replies while the host is still writing commands.
constexpr uint32_t kMaxPendingReply = 4096;

// The queued capture that shifts the scan's TDI, chosen by its data: TDI low (every bit that
// matters but the last equal, the last low) leaving a shift state that a move enters first, which
// JTAG_ReadTDO2 carries; all ones or all zeros in reading TMS commands when short. False for a
// pattern, which only the capturing shift carries.
bool QueuedCaptureFor(const ScanOp& scan, bool entering, JtagCable::Capture& capture) {
    const size_t n = scan.tdi.size();
    auto cares = [&](size_t i) { return scan.tdiCare.empty() || scan.tdiCare.Get(i); };
    bool sawLow = false;
    bool sawHigh = false;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (!cares(i)) continue;
        (scan.tdi.Get(i) ? sawHigh : sawLow) = true;
    }
    const bool lastHigh = cares(n - 1) && scan.tdi.Get(n - 1);
    capture.bits = static_cast<uint32_t>(n);
    capture.leaveShift = scan.leaveShift;
    if (!(sawLow && sawHigh) && !lastHigh && scan.leaveShift && entering) {
        capture.form = JtagCable::CaptureForm::kHeldLow;
        capture.tdiHigh = sawHigh;
        return true;
    }
    const bool high = sawHigh || lastHigh;
    const bool low = sawLow || (cares(n - 1) && !lastHigh);
    if ((low && high) || n > kMaxTmsReadBits) return false;
    capture.form = JtagCable::CaptureForm::kTmsReads;
    capture.tdiHigh = high;
    return true;
}

uint64_t ClocksFor(double seconds, uint32_t divisor) {
    return static_cast<uint64_t>(std::ceil(seconds * TckHz(divisor) - kRoundingSlack));
}

// What one operation adds to the progress; `divisor` follows the file's FREQUENCY changes.
uint64_t OpProgress(const Op& op, uint32_t connection, uint32_t& divisor) {
    if (const auto* scan = std::get_if<ScanOp>(&op.what)) {
        return scan->tdi.size() + ClocksFor(scan->waitUs / 1e6, divisor);
    }
    if (const auto* run = std::get_if<RunOp>(&op.what)) {
        const uint64_t timed = ClocksFor(run->minSeconds, divisor);
        return run->timeAsClocks ? std::max(run->clocks, timed) : run->clocks + timed;
    }
    if (const auto* frequency = std::get_if<FrequencyOp>(&op.what)) {
        divisor = frequency->hz > 0 ? DivisorFor(frequency->hz) : connection;
    }
    return 0;
}

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
    bool Move(Tap target, bool tdiHigh = true) {
        if (!cable_.Tms(TmsPath(tap_, target), tdiHigh)) return false;
        tap_ = target;
        return true;
    }
    // Every state one TCK after the one before, but Test-Logic-Reset: five ones from anywhere.
    bool MoveAlong(const std::vector<Tap>& path) {
        std::vector<bool> tms;
        for (Tap next : path) {
            const std::vector<bool> step = next == Tap::kReset
                                               ? TmsPath(tap_, next)
                                               : std::vector<bool>{NextTap(tap_, true) == next};
            tms.insert(tms.end(), step.begin(), step.end());
            tap_ = next;
        }
        return cable_.Tms(tms);
    }
    void Report(bool problem, const Op& op, const std::string& text) {
        if (options_.report)
            options_.report(problem, Where(program_, op) + ": " + op.command + ": " + text);
    }
    // Clocks for at least `seconds` in the present (stable) state.
    bool Wait(double seconds) {
        const uint64_t clocks = ClocksFor(seconds, divisor_);
        result_.clocks += clocks;
        return cable_.Clocks(clocks);
    }
    bool ShiftOnce(const ScanOp& scan, Bits& captured);
    bool Scan(const Op& op, const ScanOp& scan);
    // Queues a checked or captured scan that needs no answer before playback goes on (`queued`
    // says whether it did); false when the cable failed or a collected check stopped playback.
    bool QueueScan(const Op& op, const ScanOp& scan, bool& queued);
    // Collects the queued captures' replies and judges them in order.
    bool Drain();
    // Keeps a capture, counts and reports a check; false when playback stops at its mismatch.
    bool Judge(const Op& op, const ScanOp& scan, const Bits& captured, uint32_t attempt,
               bool retryLeft);
    bool RunTest(const Op& op, const RunOp& run);
    bool Frequency(const Op& op, const FrequencyOp& frequency);
    bool Trst(const Op& op, const TrstOp& trst);

    const Program& program_;
    const PlayOptions& options_;
    PlayResult& result_;
    JtagCable cable_;
    Tap tap_ = Tap::kIdle;
    uint32_t divisor_;
    double retrySecondsLeft_;
    struct Pending {
        const Op* op;
        const ScanOp* scan;
        JtagCable::Capture capture;
        uint32_t offset;  // of its reply among the collected bytes
    };
    std::vector<Pending> pending_;
    uint32_t pendingBytes_ = 0;
    std::vector<uint8_t> reply_;
};

// Into the shift state, the bits, and out to Exit1 (or staying in the shift state).
bool Player::ShiftOnce(const ScanOp& scan, Bits& captured) {
    const Tap shift = scan.ir ? Tap::kIrShift : Tap::kDrShift;
    const Tap exit1 = scan.ir ? Tap::kIrExit1 : Tap::kDrExit1;
    const bool readTdo = !scan.expected.empty() || scan.capture;
    if (scan.tdi.empty()) {
        // Through Capture straight to Exit1: nothing is shifted.
        return Move(scan.leaveShift ? exit1 : shift);
    }
    JtagCable::Capture capture;
    capture.tdiHigh = true;  // TDI rests high through the moves of shifts that capture nothing
    const bool queued = readTdo && QueuedCaptureFor(scan, tap_ != shift, capture);
    if (!Move(shift, capture.tdiHigh)) return false;
    bool ok = true;
    if (!readTdo) {
        ok = cable_.Shift(scan.tdi, scan.leaveShift);
    } else if (queued) {
        ok = cable_.QueueCapture(capture) && cable_.Collect(JtagCable::ReplyBytes(capture), reply_);
        if (ok) captured = JtagCable::Unpack(capture, reply_.data());
    } else {
        ok = cable_.ShiftAndCapture(scan.tdi, scan.leaveShift, captured);
    }
    if (scan.leaveShift) tap_ = exit1;
    return ok;
}

// A failed comparison with retries left moves Exit1-DR, Pause-DR, Exit2-DR, Shift-DR, Exit1-DR,
// Update-DR to Run-Test/Idle and waits before it shifts again. Each retry first grows the wait by
// a quarter (whole microseconds, rounded down) and then waits it; the wait after the last attempt
// is the grown one too. Retries stop while their waits would pass options.retrySeconds.
bool Player::Scan(const Op& op, const ScanOp& scan) {
    ++result_.scans;
    bool queued = false;
    if (!QueueScan(op, scan, queued)) return false;
    if (queued) return true;
    if (!Drain()) return false;
    uint64_t waitUs = scan.waitUs;
    for (uint32_t attempt = 0;; ++attempt) {
        Bits captured;
        if (!ShiftOnce(scan, captured)) return false;
        Comparison comparison;
        if (!scan.expected.empty()) comparison = Compare(scan.expected, captured, scan.mask);
        const bool retryLeft = comparison.differing > 0 && attempt < scan.retries && waitUs > 0;
        const uint64_t grownUs = waitUs + waitUs / 4;
        const bool timeLeft = grownUs / 1e6 <= retrySecondsLeft_;
        if (retryLeft && timeLeft) {
            ++result_.retries;
            retrySecondsLeft_ -= grownUs / 1e6;
            waitUs = grownUs;
            if (!MoveAlong({Tap::kDrPause, Tap::kDrExit2, Tap::kDrShift}) || !Move(Tap::kIdle) ||
                !Wait(waitUs / 1e6)) {
                return false;
            }
            continue;
        }
        if (scan.leaveShift && !Move(scan.end)) return false;
        if (waitUs > 0 && (!Move(Tap::kIdle) || !Wait(waitUs / 1e6))) return false;
        return Judge(op, scan, captured, attempt, retryLeft);
    }
}

bool Player::Judge(const Op& op, const ScanOp& scan, const Bits& captured, uint32_t attempt,
                   bool retryLeft) {
    if (scan.capture) result_.captures.push_back(captured);
    if (scan.expected.empty()) return true;
    ++result_.checks;
    const Comparison comparison = Compare(scan.expected, captured, scan.mask);
    if (comparison.differing == 0) return true;
    ++result_.mismatches;
    std::string text = MismatchText(scan, captured, comparison);
    if (attempt > 0) text += " (after " + std::to_string(attempt) + " retries)";
    if (retryLeft) {
        char limit[96];
        std::snprintf(limit, sizeof limit, "; no more retries: their waits would pass %.6g s",
                      options_.retrySeconds);
        text += limit;
    }
    Report(true, op, text);
    if (options_.keepGoing) return true;
    result_.call.detail = "TDO mismatch";
    result_.stoppedAt = Where(program_, op) + ": " + op.command;
    cable_.Send();  // the chain's way to its end state goes out; playback stops here
    return false;
}

// Scans that an XSVF retry does not wait on go out as queued captures when their TDI allows;
// their replies are collected when something needs the answers or the cable's idle time (a
// pause, a clock change, a capturing shift, the end), or when they would pass kMaxPendingReply.
bool Player::QueueScan(const Op& op, const ScanOp& scan, bool& queued) {
    const Tap shift = scan.ir ? Tap::kIrShift : Tap::kDrShift;
    const bool readTdo = !scan.expected.empty() || scan.capture;
    const bool retries = scan.retries > 0 && scan.waitUs > 0;
    JtagCable::Capture capture;
    queued =
        readTdo && !retries && !scan.tdi.empty() && QueuedCaptureFor(scan, tap_ != shift, capture);
    if (!queued) return true;
    const uint32_t bytes = JtagCable::ReplyBytes(capture);
    if (!pending_.empty() && pendingBytes_ + bytes > kMaxPendingReply && !Drain()) return false;
    if (!Move(shift, capture.tdiHigh) || !cable_.QueueCapture(capture)) return false;
    pending_.push_back({&op, &scan, capture, pendingBytes_});
    pendingBytes_ += bytes;
    if (scan.leaveShift) tap_ = scan.ir ? Tap::kIrExit1 : Tap::kDrExit1;
    if (scan.leaveShift && !Move(scan.end)) return false;
    if (scan.waitUs > 0 && (!Move(Tap::kIdle) || !Wait(scan.waitUs / 1e6))) return false;
    return options_.batchChecks || Drain();
}

bool Player::Drain() {
    if (pending_.empty()) return true;
    std::vector<Pending> checks;
    checks.swap(pending_);
    const uint32_t bytes = pendingBytes_;
    pendingBytes_ = 0;
    if (!cable_.Collect(bytes, reply_)) return false;
    for (const Pending& check : checks) {
        const Bits captured = JtagCable::Unpack(check.capture, reply_.data() + check.offset);
        if (!Judge(*check.op, *check.scan, captured, 0, false)) return false;
    }
    return true;
}

bool Player::RunTest(const Op& op, const RunOp& run) {
    if (!Move(run.state)) return false;
    const double tck = TckHz(divisor_);
    uint64_t clocks = run.clocks;
    if (run.timeAsClocks) {
        clocks = std::max(clocks,
                          static_cast<uint64_t>(std::ceil(run.minSeconds * tck - kRoundingSlack)));
    }
    if (run.maxSeconds >= 0 && clocks / tck > run.maxSeconds + kRoundingSlack) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%llu clocks at %s take %.6g s, longer than the MAXIMUM of %.6g s",
                      static_cast<unsigned long long>(clocks), RateText(tck).c_str(), clocks / tck,
                      run.maxSeconds);
        Report(true, op, text);
        return Reject("RUNTEST cannot keep its MAXIMUM time", result_.call);
    }
    result_.clocks += clocks;
    if (!cable_.Clocks(clocks)) return false;
    if (!run.timeAsClocks && run.minSeconds > 0) {
        if (!Drain() || !cable_.Fence()) return false;
        if (options_.pause) {
            options_.pause(run.minSeconds);
        } else {
            std::this_thread::sleep_for(std::chrono::duration<double>(run.minSeconds));
        }
    }
    return Move(run.end);
}

bool Player::Frequency(const Op& op, const FrequencyOp& frequency) {
    const uint32_t divisor = frequency.hz > 0 ? DivisorFor(frequency.hz) : options_.divisor;
    if (!Drain() || !cable_.SetDivisor(divisor)) return false;
    divisor_ = divisor;
    std::string text =
        "TCK " + RateText(TckHz(divisor)) + " (divisor " + std::to_string(divisor) + ")";
    if (frequency.hz == 0) {
        text += ", the connection's own rate";
    } else if (TckHz(divisor) > frequency.hz * (1 + kRoundingSlack)) {
        text +=
            ", the slowest the cable can clock, above the " + RateText(frequency.hz) + " asked for";
    } else {
        text += " for " + RateText(frequency.hz);
    }
    Report(false, op, text);
    return true;
}

// The reset line can only be pulsed (ResetXilinx asserts it, waits, releases it), so TRST ON pulses
// it and TRST OFF has nothing left to release. Five TMS ones follow either way: they keep a chain
// that the pulse reset in Test-Logic-Reset, and put the TAPs there when the line reaches only the
// devices' own logic.
bool Player::Trst(const Op& op, const TrstOp& trst) {
    if (!trst.assert) {
        Report(false, op, "TRST OFF: the test reset is released");
        return true;
    }
    if (options_.trstWired) {
        if (!Drain() || !cable_.Fence()) return false;
        ResetXilinx(kTrstPulseMs, kTrstPulseMs);
        Report(false, op, "TRST ON: pulsed the cable's reset line, then Test-Logic-Reset");
    } else {
        Report(false, op,
               "TRST ON: no reset line wired to the chain; Test-Logic-Reset through TMS");
    }
    return Move(Tap::kReset);
}

bool Player::Run() {
    if (options_.resetFirst && !Move(Tap::kReset)) return false;
    const uint64_t total = ProgressTotal(program_, options_.divisor);
    uint64_t done = 0;
    uint32_t progressDivisor = options_.divisor;
    for (const Op& op : program_.ops) {
        bool ok = true;
        if (const auto* move = std::get_if<MoveOp>(&op.what)) {
            ok = move->path.empty() ? Move(move->target) : MoveAlong(move->path);
        } else if (const auto* scan = std::get_if<ScanOp>(&op.what)) {
            ok = Scan(op, *scan);
        } else if (const auto* run = std::get_if<RunOp>(&op.what)) {
            ok = RunTest(op, *run);
        } else if (const auto* frequency = std::get_if<FrequencyOp>(&op.what)) {
            ok = Frequency(op, *frequency);
        } else if (const auto* trst = std::get_if<TrstOp>(&op.what)) {
            ok = Trst(op, *trst);
        } else if (const auto* note = std::get_if<NoteOp>(&op.what)) {
            Report(false, op, note->text);
        }
        if (!ok) {
            // A mismatch found while collecting queued checks names its own scan.
            if (result_.stoppedAt.empty())
                result_.stoppedAt = Where(program_, op) + ": " + op.command;
            return false;
        }
        done += OpProgress(op, options_.divisor, progressDivisor);
        if (options_.progress) options_.progress(done, total);
    }
    if (!Drain()) {
        if (result_.stoppedAt.empty()) result_.stoppedAt = "end of file";
        return false;
    }
    return cable_.Fence();
}

}  // namespace

double TckHz(uint32_t divisor) { return kBaseHz / (1.0 + divisor); }

uint32_t DivisorFor(double hz) {
    const double ratio = std::ceil(kBaseHz / hz - kRoundingSlack);
    if (ratio <= 1) return 0;
    return ratio - 1 >= kMaxDivisor ? kMaxDivisor : static_cast<uint32_t>(ratio - 1);
}

uint64_t ProgressTotal(const Program& program, uint32_t divisor) {
    uint64_t total = 0;
    uint32_t at = divisor;
    for (const Op& op : program.ops) total += OpProgress(op, divisor, at);
    return total;
}

bool Play(const Program& program, const PlayOptions& options, PlayResult& result) {
    Player player(program, options, result);
    return player.Run();
}

}  // namespace kestrel::jtag

// The player's scans: how each one's TDO is captured, the queued checks collected together, the
// XSVF retries, and the speculative scans of a run of XSVF scans with retries.
#include <cstdio>

#include "jtag/play_reports.h"
#include "jtag/player_impl.h"

namespace kestrel::jtag {
namespace {

// Uniform TDI long scans still take the capturing shift: a reading TMS command carries 6 bits in
// 3 bytes, which for long scans costs more on the wire than the one round trip it saves.
constexpr uint32_t kMaxTmsReadBits = 1024;
// Reply bytes of queued captures left unread at most: as many as one capturing shift leaves in
// the vendor driver's buffer before it reads them (65535 whole bytes), so that a long batch never
// leaves the chip waiting for the host to take its replies while the host is still writing
// commands. A pattern whose reply is longer takes the capturing shift.
constexpr uint32_t kMaxPendingReply = 65535;
// The TCK time that the speculative scans queued before their replies are read may clock: long
// enough that one round trip costs little beside it, short enough that a failed check wastes
// little.
constexpr double kMaxSpeculativeSeconds = 0.05;

// The queued capture that shifts the scan's TDI, chosen by its data: TDI low (every bit that
// matters but the last equal, the last low) leaving a shift state that a move enters first, which
// JTAG_ReadTDO2 carries; all ones or all zeros in reading TMS commands when short; any other
// pattern in the reading JTAG_WriteTDI2 while its reply fits kMaxPendingReply. False for what
// only the capturing shift carries.
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
    if (!(low && high) && n <= kMaxTmsReadBits) {
        capture.form = JtagCable::CaptureForm::kTmsReads;
        capture.tdiHigh = high;
        return true;
    }
    capture.form = JtagCable::CaptureForm::kPattern;
    capture.tdiHigh = true;
    capture.tdi = &scan.tdi;
    return JtagCable::ReplyBytes(capture) <= kMaxPendingReply;
}

bool ReadsTdo(const ScanOp& scan) { return !scan.expected.empty() || scan.capture; }

bool HasRetries(const ScanOp& scan) { return scan.retries > 0 && scan.waitUs > 0; }

bool Fails(const ScanOp& scan, const Bits& captured) {
    return !scan.expected.empty() && Compare(scan.expected, captured, scan.mask).differing > 0;
}

}  // namespace

bool Player::ShiftOnce(const ScanOp& scan, Bits& captured) {
    const Tap shift = scan.ir ? Tap::kIrShift : Tap::kDrShift;
    const Tap exit1 = scan.ir ? Tap::kIrExit1 : Tap::kDrExit1;
    const bool readTdo = ReadsTdo(scan);
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
        uint32_t offset = 0;
        ok = cable_.QueueCapture(capture, offset) && cable_.Collect();
        if (ok) captured = JtagCable::Unpack(capture, cable_.Reply(offset));
    } else {
        ok = cable_.ShiftAndCapture(scan.tdi, scan.leaveShift, captured);
    }
    if (scan.leaveShift) tap_ = exit1;
    return ok;
}

bool Player::Scan(size_t index, const ScanOp& scan) {
    ++result_.scans;
    bool queued = false;
    if (!QueueScan(index, scan, queued)) return false;
    if (queued) return true;
    // Replies waiting in the receive queue are collected first where this scan's own answer is
    // read at once; a scan that reads nothing leaves them queued.
    const bool answers = ReadsTdo(scan) || HasRetries(scan);
    return (!answers || Drain()) && RetryingScan(program_.ops[index], scan, false);
}

bool Player::RetryAllowed(const ScanOp& scan, uint32_t attempt, uint64_t waitUs) const {
    const uint64_t grownUs = waitUs + waitUs / 4;
    return attempt < scan.retries && waitUs > 0 && grownUs / 1e6 <= retrySecondsLeft_;
}

// A failed comparison with retries left moves Exit1-DR, Pause-DR, Exit2-DR, Shift-DR, Exit1-DR,
// Update-DR to Run-Test/Idle and waits before it shifts again. Each retry first grows the wait by
// a quarter (whole microseconds, rounded down) and then waits it; the wait after the last attempt
// is the grown one too. Retries stop while their waits would pass options.retrySeconds.
bool Player::RetryingScan(const Op& op, const ScanOp& scan, bool firstFailed) {
    uint64_t waitUs = scan.waitUs;
    for (uint32_t attempt = 0;; ++attempt) {
        Bits captured;
        if (!ShiftOnce(scan, captured)) return false;
        const bool failed = (firstFailed && attempt == 0) || Fails(scan, captured);
        const bool retryLeft = failed && attempt < scan.retries && waitUs > 0;
        if (retryLeft && RetryAllowed(scan, attempt, waitUs)) {
            waitUs += waitUs / 4;
            ++result_.retries;
            retrySecondsLeft_ -= waitUs / 1e6;
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

// A scan with XSVF retries is sent as if its check passes (speculatively) when it starts from
// Run-Test/Idle, as every scan of such a run does after the first, and its capture can be queued;
// the run's speculative scans are collected together, bounded in TCK time and reply bytes.
bool Player::JoinsSpeculation(size_t index) const {
    const auto* scan = std::get_if<ScanOp>(&program_.ops[index].what);
    if (!scan || !options_.batchChecks || !HasRetries(*scan) || !scan->leaveShift ||
        scan->tdi.empty() || tap_ != Tap::kIdle) {
        return false;
    }
    JtagCable::Capture capture;
    if (ReadsTdo(*scan) && !QueuedCaptureFor(*scan, true, capture)) return false;
    if (!speculating_) return true;
    const uint32_t bytes = ReadsTdo(*scan) ? JtagCable::ReplyBytes(capture) : 0;
    const uint64_t clocks = scan->tdi.size() + ClocksFor(scan->waitUs / 1e6, divisor_);
    return pendingBytes_ + bytes <= kMaxPendingReply &&
           speculativeClocks_ + clocks <= ClocksFor(kMaxSpeculativeSeconds, divisor_);
}

// Scans that an XSVF retry does not wait on go out as queued captures when their TDI allows;
// their replies are collected when something needs the answers or the cable's idle time (a
// pause, a clock change, a capturing shift, the end), or when they would pass kMaxPendingReply.
// Scans with retries join the speculative ones (JoinsSpeculation), which the player collects.
bool Player::QueueScan(size_t index, const ScanOp& scan, bool& queued) {
    const Tap shift = scan.ir ? Tap::kIrShift : Tap::kDrShift;
    const bool readTdo = ReadsTdo(scan);
    const bool speculative = HasRetries(scan);
    JtagCable::Capture capture;
    const bool capturable =
        readTdo && !scan.tdi.empty() && QueuedCaptureFor(scan, tap_ != shift, capture);
    queued = speculative ? JoinsSpeculation(index) : capturable;
    if (!queued) return true;
    const uint32_t bytes = readTdo ? JtagCable::ReplyBytes(capture) : 0;
    if (!speculative && !pending_.empty() && pendingBytes_ + bytes > kMaxPendingReply && !Drain()) {
        return false;
    }
    if (!Move(shift, capture.tdiHigh)) return false;
    if (readTdo) {
        uint32_t offset = 0;
        if (!cable_.QueueCapture(capture, offset)) return false;
        pending_.push_back({index, capture, offset, speculative});
        pendingBytes_ += bytes;
    } else if (!cable_.Shift(scan.tdi, scan.leaveShift)) {
        return false;
    }
    if (scan.leaveShift) tap_ = scan.ir ? Tap::kIrExit1 : Tap::kDrExit1;
    if (scan.leaveShift && !Move(scan.end)) return false;
    if (scan.waitUs > 0 && (!Move(Tap::kIdle) || !Wait(scan.waitUs / 1e6))) return false;
    if (!speculative) return options_.batchChecks || Drain();
    speculating_ = true;
    speculativeClocks_ += scan.tdi.size() + ClocksFor(scan.waitUs / 1e6, divisor_);
    return true;
}

bool Player::Collect(size_t& redo) {
    redo = kNoRedo;
    speculating_ = false;
    speculativeClocks_ = 0;
    if (pending_.empty()) return true;
    std::vector<Pending> checks;
    checks.swap(pending_);
    pendingBytes_ = 0;
    if (!cable_.Collect()) return false;
    for (const Pending& check : checks) {
        const Op& op = program_.ops[check.index];
        const ScanOp& scan = std::get<ScanOp>(op.what);
        const Bits captured = JtagCable::Unpack(check.capture, cable_.Reply(check.offset));
        const bool failed = check.speculative && Fails(scan, captured);
        if (failed && RetryAllowed(scan, 0, scan.waitUs)) {
            redo = check.index;
            return true;
        }
        if (!Judge(op, scan, captured, 0, failed)) return false;
    }
    return true;
}

bool Player::Drain() {
    size_t redo = kNoRedo;
    return Collect(redo);
}

}  // namespace kestrel::jtag

#include "jtag/player.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "jtag/play_reports.h"
#include "jtag/player_impl.h"

namespace kestrel::jtag {
namespace {

constexpr kl_u32 kTrstPulseMs = 1;  // how long TRST ON holds the reset line low, and waits after

// The divisor a FREQUENCY sets: the fastest not above its rate, or the connection's own.
uint32_t DivisorOf(const FrequencyOp& frequency, uint32_t connection) {
    return frequency.hz > 0 ? DivisorFor(frequency.hz) : connection;
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
        divisor = DivisorOf(*frequency, connection);
    }
    return 0;
}

}  // namespace

uint64_t ClocksFor(double seconds, uint32_t divisor) {
    return static_cast<uint64_t>(std::ceil(seconds * TckHz(divisor) - kRoundingSlack));
}

bool Player::Move(Tap target, bool tdiHigh) {
    if (!cable_.Tms(TmsPath(tap_, target), tdiHigh)) return false;
    tap_ = target;
    return true;
}

bool Player::MoveAlong(const std::vector<Tap>& path) {
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

void Player::Report(bool problem, const Op& op, const std::string& text) {
    if (options_.report)
        options_.report(problem, Where(program_, op) + ": " + op.command + ": " + text);
}

bool Player::Wait(double seconds) {
    const uint64_t clocks = ClocksFor(seconds, divisor_);
    result_.clocks += clocks;
    return cable_.Clocks(clocks);
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
    const uint32_t divisor = DivisorOf(frequency, options_.divisor);
    // TCK already at the rate needs no clock command (a USB write).
    if (divisor != divisor_ && (!Drain() || !cable_.SetDivisor(divisor))) return false;
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

bool Player::Dispatch(size_t index) {
    const Op& op = program_.ops[index];
    if (const auto* move = std::get_if<MoveOp>(&op.what)) {
        return move->path.empty() ? Move(move->target) : MoveAlong(move->path);
    }
    if (const auto* scan = std::get_if<ScanOp>(&op.what)) return Scan(index, *scan);
    if (const auto* run = std::get_if<RunOp>(&op.what)) return RunTest(op, *run);
    if (const auto* frequency = std::get_if<FrequencyOp>(&op.what))
        return Frequency(op, *frequency);
    if (const auto* trst = std::get_if<TrstOp>(&op.what)) return Trst(op, *trst);
    if (const auto* note = std::get_if<NoteOp>(&op.what)) Report(false, op, note->text);
    return true;
}

// The rate of a FREQUENCY that only moves and notes come before is set before them: a file runs
// at the fastest rate until it names one, so the moves may take the rate it names, and the clock
// command then goes out alone, before anything is queued (the FREQUENCY finds it set).
bool Player::LeadingFrequency() {
    for (const Op& op : program_.ops) {
        if (const auto* frequency = std::get_if<FrequencyOp>(&op.what)) {
            const uint32_t divisor = DivisorOf(*frequency, options_.divisor);
            if (divisor == divisor_) return true;
            divisor_ = divisor;
            return cable_.SetDivisor(divisor);
        }
        if (!std::holds_alternative<MoveOp>(op.what) && !std::holds_alternative<NoteOp>(op.what))
            return true;
    }
    return true;
}

bool Player::Stop(const Op& op) {
    // A mismatch found while collecting queued checks names its own scan.
    if (result_.stoppedAt.empty()) result_.stoppedAt = Where(program_, op) + ": " + op.command;
    return false;
}

// Speculative scans are collected before any operation that cannot join them and at the end. A
// failed one with a retry left is played again from its shift, as the retry rules say, and
// playback goes on after it: the scans clocked after it are played again too.
bool Player::Run() {
    if (!LeadingFrequency()) return false;
    if (options_.resetFirst && !Move(Tap::kReset)) return false;
    const std::vector<Op>& ops = program_.ops;
    const uint64_t total = ProgressTotal(program_, options_.divisor);
    uint64_t done = 0;
    uint32_t progressDivisor = options_.divisor;
    size_t progressed = 0;  // operations whose progress has been reported
    for (size_t i = 0;;) {
        const bool end = i == ops.size();
        if (speculating_ && (end || !JoinsSpeculation(i))) {
            size_t redo = kNoRedo;
            if (!Collect(redo)) {
                if (!end) return Stop(ops[i]);
                if (result_.stoppedAt.empty()) result_.stoppedAt = "end of file";
                return false;
            }
            if (redo != kNoRedo) {
                result_.scans -= i - redo - 1;  // the failed scan's own count stays
                if (!RetryingScan(ops[redo], std::get<ScanOp>(ops[redo].what), true)) {
                    return Stop(ops[redo]);
                }
                i = redo + 1;
                continue;
            }
        }
        if (end) break;
        if (!Dispatch(i)) return Stop(ops[i]);
        if (i >= progressed) {
            done += OpProgress(ops[i], options_.divisor, progressDivisor);
            progressed = i + 1;
            if (options_.progress) options_.progress(done, total);
        }
        ++i;
    }
    if (!Drain()) {
        if (result_.stoppedAt.empty()) result_.stoppedAt = "end of file";
        return false;
    }
    return cable_.Fence();
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

#include "jtag/player.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "jtag/cable.h"

namespace kestrel::jtag {
namespace {

constexpr double kBaseHz = 6e6;  // TCK at divisor 0: 12 MHz / ((1 + divisor) x 2)
constexpr uint32_t kMaxDivisor = 0xFFFF;
// Slack for times and rates written in decimal (1E-3 s at 1 MHz is 1000 clocks, not 1001).
constexpr double kRoundingSlack = 1e-9;
// Vectors longer than this are reported as a window around the first difference.
constexpr size_t kFullReportBits = 256;
constexpr size_t kReportWindowBits = 64;

std::string Rate(double hz) {
    char text[32];
    if (hz >= 1e6) {
        std::snprintf(text, sizeof text, "%.6g MHz", hz / 1e6);
    } else if (hz >= 1e3) {
        std::snprintf(text, sizeof text, "%.6g kHz", hz / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.6g Hz", hz);
    }
    return text;
}

std::string Hex(const Bits& bits) { return "0x" + bits.ToHex(); }

// The TDI level the scan can be shifted with from a held pin (JTAG_ReadTDO2 holds TDI where the
// move into the shift state left it, and clocks the last bit with TDI low): every bit that
// matters but the last equal, the last 0. False when the vector is not of that shape.
bool HeldTdiLevel(const ScanOp& scan, bool& level) {
    const size_t n = scan.tdi.size();
    auto cares = [&](size_t i) { return scan.tdiCare.empty() || scan.tdiCare.Get(i); };
    if (cares(n - 1) && scan.tdi.Get(n - 1)) return false;
    bool seen = false;
    level = true;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (!cares(i)) continue;
        if (seen && scan.tdi.Get(i) != level) return false;
        level = scan.tdi.Get(i);
        seen = true;
    }
    return true;
}

// "TDO mismatch ...: expected 0x.., actual 0x.., mask 0x.." for the part of the scan (header,
// the command's own bits, trailer) that holds the first difference.
std::string MismatchText(const ScanOp& scan, const Bits& actual, const Comparison& c) {
    const size_t bodyBits = scan.tdi.size() - scan.headerBits - scan.trailerBits;
    size_t from = 0;
    size_t count = scan.headerBits;
    std::string part = scan.ir ? " in the HIR bits" : " in the HDR bits";
    if (c.first >= scan.headerBits + bodyBits) {
        from = scan.headerBits + bodyBits;
        count = scan.trailerBits;
        part = scan.ir ? " in the TIR bits" : " in the TDR bits";
    } else if (c.first >= scan.headerBits) {
        from = scan.headerBits;
        count = bodyBits;
        part = "";
    }
    std::string text = "TDO mismatch" + part;
    if (count > kFullReportBits) {
        const size_t start = (c.first - from) / kReportWindowBits * kReportWindowBits;
        const size_t length = std::min(kReportWindowBits, count - start);
        text += " (" + std::to_string(c.differing) + " of " + std::to_string(count) +
                " bits differ), bits " + std::to_string(start) + " to " +
                std::to_string(start + length - 1);
        from += start;
        count = length;
    }
    const Bits mask = scan.mask.empty() ? Bits(scan.tdi.size(), true) : scan.mask;
    return text + ": expected " + Hex(scan.expected.Slice(from, count)) + ", actual " +
           Hex(actual.Slice(from, count)) + ", mask " + Hex(mask.Slice(from, count));
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
        const auto clocks =
            static_cast<uint64_t>(std::ceil(seconds * TckHz(divisor_) - kRoundingSlack));
        result_.clocks += clocks;
        return cable_.Clocks(clocks);
    }
    bool ShiftOnce(const ScanOp& scan, Bits& captured);
    bool Scan(const Op& op, const ScanOp& scan);
    bool RunTest(const Op& op, const RunOp& run);
    bool Frequency(const Op& op, const FrequencyOp& frequency);

    const Program& program_;
    const PlayOptions& options_;
    PlayResult& result_;
    JtagCable cable_;
    Tap tap_ = Tap::kIdle;
    uint32_t divisor_;
    double retrySecondsLeft_;
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
    bool level = true;
    const bool held = readTdo && scan.leaveShift && tap_ != shift && HeldTdiLevel(scan, level);
    if (!Move(shift, level)) return false;
    bool ok = true;
    if (!readTdo) {
        ok = cable_.Shift(scan.tdi, scan.leaveShift);
    } else if (held) {
        ok = cable_.ReadWhileHeld(static_cast<uint32_t>(scan.tdi.size()), captured);
    } else {
        ok = cable_.ShiftAndCapture(scan.tdi, scan.leaveShift, captured);
    }
    if (scan.leaveShift) tap_ = exit1;
    return ok;
}

// A failed comparison with retries left moves Exit1-DR, Pause-DR, Exit2-DR, Shift-DR, Exit1-DR,
// Update-DR to Run-Test/Idle, waits a quarter longer each time and shifts again, while the
// playback's retry waits stay within options.retrySeconds.
bool Player::Scan(const Op& op, const ScanOp& scan) {
    ++result_.scans;
    double waitSeconds = scan.waitUs / 1e6;
    for (uint32_t attempt = 0;; ++attempt) {
        Bits captured;
        if (!ShiftOnce(scan, captured)) return false;
        Comparison comparison;
        if (!scan.expected.empty()) comparison = Compare(scan.expected, captured, scan.mask);
        const bool retryLeft =
            comparison.differing > 0 && attempt < scan.retries && scan.waitUs > 0;
        const bool timeLeft = waitSeconds <= retrySecondsLeft_;
        if (retryLeft && timeLeft) {
            ++result_.retries;
            retrySecondsLeft_ -= waitSeconds;
            if (!MoveAlong({Tap::kDrPause, Tap::kDrExit2, Tap::kDrShift}) || !Move(Tap::kIdle) ||
                !Wait(waitSeconds)) {
                return false;
            }
            waitSeconds += waitSeconds / 4;
            continue;
        }
        if (scan.leaveShift && !Move(scan.end)) return false;
        if (scan.waitUs > 0 && (!Move(Tap::kIdle) || !Wait(waitSeconds))) return false;
        if (scan.capture) result_.captures.push_back(captured);
        if (scan.expected.empty()) return true;
        ++result_.checks;
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
        cable_.Send();  // the chain's way to its end state goes out; playback stops here
        return false;
    }
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
                      static_cast<unsigned long long>(clocks), Rate(tck).c_str(), clocks / tck,
                      run.maxSeconds);
        Report(true, op, text);
        return Reject("RUNTEST cannot keep its MAXIMUM time", result_.call);
    }
    result_.clocks += clocks;
    if (!cable_.Clocks(clocks)) return false;
    if (!run.timeAsClocks && run.minSeconds > 0) {
        if (!cable_.Fence()) return false;
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
    if (!cable_.SetDivisor(divisor)) return false;
    divisor_ = divisor;
    std::string text = "TCK " + Rate(TckHz(divisor)) + " (divisor " + std::to_string(divisor) + ")";
    if (frequency.hz == 0) {
        text += ", the connection's own rate";
    } else if (TckHz(divisor) > frequency.hz * (1 + kRoundingSlack)) {
        text += ", the slowest the cable can clock, above the " + Rate(frequency.hz) + " asked for";
    } else {
        text += " for " + Rate(frequency.hz);
    }
    Report(false, op, text);
    return true;
}

bool Player::Run() {
    if (options_.resetFirst && !Move(Tap::kReset)) return false;
    uint64_t total = 0;
    for (const Op& op : program_.ops) {
        if (const auto* scan = std::get_if<ScanOp>(&op.what)) total += scan->tdi.size();
        if (const auto* run = std::get_if<RunOp>(&op.what)) total += run->clocks;
    }
    uint64_t done = 0;
    for (const Op& op : program_.ops) {
        bool ok = true;
        if (const auto* move = std::get_if<MoveOp>(&op.what)) {
            ok = move->path.empty() ? Move(move->target) : MoveAlong(move->path);
        } else if (const auto* scan = std::get_if<ScanOp>(&op.what)) {
            ok = Scan(op, *scan);
            done += scan->tdi.size();
        } else if (const auto* run = std::get_if<RunOp>(&op.what)) {
            ok = RunTest(op, *run);
            done += run->clocks;
        } else if (const auto* frequency = std::get_if<FrequencyOp>(&op.what)) {
            ok = Frequency(op, *frequency);
        } else if (const auto* note = std::get_if<NoteOp>(&op.what)) {
            Report(false, op, note->text);
        }
        if (!ok) {
            result_.stoppedAt = Where(program_, op) + ": " + op.command;
            return false;
        }
        if (options_.progress) options_.progress(done, total);
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

bool Play(const Program& program, const PlayOptions& options, PlayResult& result) {
    Player player(program, options, result);
    return player.Run();
}

}  // namespace kestrel::jtag

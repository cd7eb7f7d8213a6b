// An SVF or XSVF file's playback: the whole file parsed first, then played on the chain with
// every note reported as a line, every TDO mismatch as a warning and a "mismatches" entry, and
// the totals as the "played" field and a summary line.
#include <cstdio>
#include <regex>

#include "common/inputs.h"
#include "engine/jtag_job.h"
#include "jtag/chain.h"
#include "jtag/parsers.h"
#include "jtag/player.h"

namespace kestrel::engine {
namespace {

// A TDO mismatch the player reported ("12: SDR: TDO mismatch: expected 0x.., actual 0x..,
// mask 0x..") as a "mismatches" entry: where (an SVF line, an XSVF byte offset), the command and
// the three values. Empty for any other line.
std::string MismatchEntry(const std::string& line) {
    static const std::regex form(
        R"(^([^:]*): (.*?): TDO mismatch(.*?): expected (\S+), actual (\S+), mask (\S+)$)");
    std::smatch m;
    if (!std::regex_match(line, m, form)) return "";
    const std::string where = m[1];
    const bool isLine =
        !where.empty() && where.find_first_not_of("0123456789") == std::string::npos;
    return json::Object({{"where", json::String(where)},
                         {"line", isLine ? where : "null"},
                         {"command", json::String(m[2])},
                         {"part", json::String(m[3])},
                         {"expected", json::String(m[4])},
                         {"actual", json::String(m[5])},
                         {"mask", json::String(m[6])}});
}

std::string Plural(uint64_t n, const char* word, const char* plural = nullptr) {
    return std::to_string(n) + " " + (n == 1 ? word : plural ? plural : word + std::string("s"));
}

// "12 commands; 6 scans of 1234 bits, 2 with TDO checks; 1000 run-test clocks and 0.01 s".
std::string Summary(const jtag::Program& program) {
    const jtag::ProgramTotals totals = jtag::Totals(program);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6g s", totals.runSeconds);
    return Plural(program.commands, "command") + "; " + Plural(totals.scans, "scan") + " of " +
           std::to_string(totals.scanBits) + " bits, " + std::to_string(totals.checks) +
           " with TDO checks; " + std::to_string(totals.runClocks) + " run-test clocks and " +
           seconds + " of run-test time";
}

// "played FILE: 12 commands; 6 scans, 2 TDO checks; 1000 run-test clocks; 1.5 ms".
std::string PlayedLine(bool completed, const std::string& file, const jtag::Program& program,
                       const jtag::PlayResult& result, double milliseconds) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f ms", milliseconds);
    return std::string(completed ? "played " : "stopped ") + file + ": " +
           Plural(program.commands, "command") + "; " + Plural(result.scans, "scan") + ", " +
           Plural(result.checks, "TDO check") + "; " + std::to_string(result.clocks) +
           " run-test clocks; " + ms;
}

// How the file is played, its notes and problems reported against it into `mismatches`.
jtag::PlayOptions PlayOptionsFor(const kestrel_jtag_job& r, const std::string& file,
                                 const jtag::Program& program, std::vector<std::string>& mismatches,
                                 Job& job) {
    jtag::PlayOptions options;
    options.keepGoing = r.keep_going != 0;
    options.batchChecks = r.check_each == 0;
    options.trstWired = r.trst_wired != 0;
    options.divisor = r.divisor;
    if (r.pause) {
        options.pause = [pause = r.pause, context = r.pause_context](double seconds) {
            pause(context, seconds);
        };
    }
    options.report = [&job, &file, &mismatches](bool problem, const std::string& line) {
        if (!problem) return job.Line(file + ":" + line);
        job.Warning(file + ":" + line);
        std::string entry = MismatchEntry(line);
        if (!entry.empty()) mismatches.push_back(std::move(entry));
    };
    const uint64_t total = jtag::ProgressTotal(program, r.divisor);
    options.progress = [&job, total](uint64_t done, uint64_t) {
        job.Progress("playing", done, total, "bits and clocks");
    };
    return options;
}

}  // namespace

std::string FileName(const kestrel_jtag_job& request) {
    return request.name ? request.name : "the data";
}

int CheckJtagJob(const kestrel_jtag_job& r, jtag::Program& program, Job& job) {
    if (r.verb < KESTREL_JTAG_SCAN || r.verb > KESTREL_JTAG_XSVF) {
        return job.Fail(kExitUsage, "no JTAG job " + std::to_string(r.verb));
    }
    // Lengths the chain does not have are found out on it: the idcode job says so. Bounded by
    // what a chain can hold, so that no count is read past and no sum of them wraps.
    if (r.ir_length_count > jtag::kMaxChainDevices) {
        return job.Fail(kExitUsage, "at most " + std::to_string(jtag::kMaxChainDevices) +
                                        " instruction lengths, one a device");
    }
    for (uint32_t i = 0; i < r.ir_length_count; ++i) {
        if (!r.ir_lengths || r.ir_lengths[i] < 2 || r.ir_lengths[i] > jtag::kMaxTotalIrBits) {
            return job.Fail(kExitUsage, "instruction lengths must be 2 to " +
                                            std::to_string(jtag::kMaxTotalIrBits) + " bits");
        }
    }
    if (r.verb != KESTREL_JTAG_SVF && r.verb != KESTREL_JTAG_XSVF) return kExitOk;
    if (r.data_size && !r.data) return job.Fail(kExitUsage, "no bytes given for the file");
    if (r.data_size > kMaxInputBytes) {
        return job.Fail(kExitUsage, "the file must be at most " +
                                        std::to_string(kMaxInputBytes >> 20) + " MiB");
    }
    const bool binary = r.verb == KESTREL_JTAG_XSVF;
    jtag::ParseError error;
    const bool parsed =
        binary
            ? jtag::ParseXsvf({r.data, r.data + r.data_size}, program, error)
            : jtag::ParseSvf({reinterpret_cast<const char*>(r.data), r.data_size}, program, error);
    if (!parsed) {
        return job.Fail(error.refused ? kExitUnavailable : kExitUsage,
                        jtag::Describe(error, FileName(r), binary));
    }
    return kExitOk;
}

int ReportParsed(const kestrel_jtag_job& r, const jtag::Program& program, Job& job) {
    const std::string file = FileName(r);
    job.Line("parsed " + file + ": " + Summary(program));
    for (const jtag::Op& op : program.ops) {
        if (const auto* note = std::get_if<jtag::NoteOp>(&op.what)) {
            job.Line(file + ":" + jtag::Where(program, op) + ": " + op.command + ": " + note->text);
        }
    }
    return kExitOk;
}

int PlayJtagFile(const kestrel_jtag_job& r, const jtag::Program& program, Job& job) {
    const std::string file = FileName(r);
    std::vector<std::string> mismatches;
    const jtag::PlayOptions options = PlayOptionsFor(r, file, program, mismatches, job);
    Stopwatch watch;
    jtag::PlayResult result;
    const bool completed = jtag::Play(program, options, result);
    // Only a mismatch with playback not kept going stops it: anything else that did (an export's
    // failure, a command the cable cannot keep) is what the job failed for, mismatches or not.
    if (!completed && (result.mismatches == 0 || options.keepGoing)) {
        return job.FailCall(result.call, file + ":" + result.stoppedAt);
    }
    if (!mismatches.empty()) job.Field("mismatches", json::Array(mismatches));
    job.Field("played", json::Object({{"completed", json::Bool(completed)},
                                      {"commands", json::Number(uint64_t{program.commands})},
                                      {"scans", json::Number(result.scans)},
                                      {"checks", json::Number(result.checks)},
                                      {"mismatches", json::Number(result.mismatches)},
                                      {"clocks", json::Number(result.clocks)}}));
    job.Line(PlayedLine(completed, file, program, result, watch.Milliseconds()));
    if (result.mismatches == 0) return kExitOk;
    return job.Fail(kExitFailed, completed
                                     ? Plural(result.mismatches, "TDO mismatch", "TDO mismatches")
                                     : "stopped at the first TDO mismatch (--continue counts "
                                       "them all)");
}

}  // namespace kestrel::engine

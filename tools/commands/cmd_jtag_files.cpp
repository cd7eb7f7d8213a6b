// kestrel jtag, and its svf|xsvf FILE subcommands: parses the whole file, then plays it on the
// chain, comparing TDO wherever the file gives an expected value.
#include <cstdio>
#include <regex>

#include "commands/commands.h"
#include "common/inputs.h"
#include "common/report.h"
#include "jtag/parsers.h"
#include "jtag/player.h"

namespace kestrel {
namespace {

// A TDO mismatch the player reported ("12: SDR: TDO mismatch: expected 0x.., actual 0x..,
// mask 0x..") as a "mismatches" entry of the result: where (an SVF line, an XSVF byte offset),
// the command and the three values.
void ReportMismatch(const std::string& line) {
    static const std::regex form(
        R"(^([^:]*): (.*?): TDO mismatch(.*?): expected (\S+), actual (\S+), mask (\S+)$)");
    std::smatch m;
    if (!std::regex_match(line, m, form)) return;
    const std::string where = m[1];
    const bool isLine =
        !where.empty() && where.find_first_not_of("0123456789") == std::string::npos;
    report::Append("mismatches", json::Object({{"where", json::String(where)},
                                               {"line", isLine ? where : "null"},
                                               {"command", json::String(m[2])},
                                               {"part", json::String(m[3])},
                                               {"expected", json::String(m[4])},
                                               {"actual", json::String(m[5])},
                                               {"mask", json::String(m[6])}}));
}

struct PlayFileOptions {
    std::string file;
    bool keepGoing = false;
    bool dryRun = false;
    bool trstWired = false;
    bool checkEach = false;
};

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

// On the virtual cable: what the playback would take on a real full-speed cable (the model clock
// since `start`, which is left running for the cable's own clock report), beside the time its TCK
// cycles take at their rates.
void PrintModelledTime(const VirtualApi& api, const VcClockReading& start) {
    VcClockReading end{};
    if (api.vc_clock_read(VC_SPEED_FULL, &end) != 0) return;
    const uint64_t elapsed = end.elapsed_ns - start.elapsed_ns;
    const uint64_t wire = end.wire_ns - start.wire_ns;
    std::printf("modelled time at full speed: %.3f ms; TCK time %.3f ms (%.2fx)\n", elapsed / 1e6,
                wire / 1e6, wire ? static_cast<double>(elapsed) / wire : 0.0);
}

// Whether the cable's reset line (GPIOL1) reaches the chain's TRST: on the virtual cable the
// scenario says so (jtag_reset), on a real cable only the user can (--trst-wired).
bool TrstWired(Session& session, bool flag) {
    constexpr int kCableResetLine = 5;
    const VirtualCable* cable = session.virtualCable();
    if (!cable || !cable->api().vc_jtag_reset_line) return flag;
    int line = -1;
    return cable->api().vc_jtag_reset_line(0, &line) == 0 && line == kCableResetLine;
}

// Reads and parses the whole file before the cable is opened; returns 0 or the exit code.
int LoadProgram(const GlobalOptions& global, const PlayFileOptions& o, bool binary,
                jtag::Program& program) {
    if (const int code = CheckCommandFiles(global, {{{"the input file", o.file}}})) return code;
    std::vector<uint8_t> bytes;
    std::string readError;
    if (!ReadInputFile(o.file, kMaxInputBytes, bytes, readError)) {
        return Fail(kExitFile, readError);
    }
    jtag::ParseError error;
    const bool parsed =
        binary ? jtag::ParseXsvf(bytes, program, error)
               : jtag::ParseSvf({reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                                program, error);
    if (!parsed) {
        return Fail(error.refused ? kExitUnavailable : kExitUsage,
                    jtag::Describe(error, o.file, binary));
    }
    return kExitOk;
}

// --dry-run: what the file holds and the notes it raised, with nothing played.
int PrintParsed(const jtag::Program& program, const PlayFileOptions& o) {
    std::printf("parsed %s: %s\n", o.file.c_str(), Summary(program).c_str());
    for (const jtag::Op& op : program.ops) {
        if (const auto* note = std::get_if<jtag::NoteOp>(&op.what)) {
            std::printf("%s:%s: %s: %s\n", o.file.c_str(), jtag::Where(program, op).c_str(),
                        op.command.c_str(), note->text.c_str());
        }
    }
    return kExitOk;
}

// How the file is played on the session's cable, with its lines reported against the file.
jtag::PlayOptions PlayOptionsFor(Session& session, const GlobalOptions& global,
                                 const PlayFileOptions& o) {
    jtag::PlayOptions options;
    options.keepGoing = o.keepGoing;
    options.batchChecks = !o.checkEach;
    options.trstWired = TrstWired(session, o.trstWired);
    options.divisor = global.divisor;
    // Pauses go on the virtual cable's model clock, so that busy devices finish meanwhile.
    options.pause = [cable = session.virtualCable()](double seconds) { Pause(cable, seconds); };
    options.report = [&o](bool problem, const std::string& line) {
        if (problem) {
            std::fprintf(stderr, "kestrel: %s:%s\n", o.file.c_str(), line.c_str());
            report::Warning(o.file + ":" + line);
            ReportMismatch(line);
        } else {
            std::printf("%s:%s\n", o.file.c_str(), line.c_str());
        }
    };
    return options;
}

int Play(const GlobalOptions& global, const PlayFileOptions& o, bool binary) {
    jtag::Program program;
    if (const int code = LoadProgram(global, o, binary, program)) return code;
    if (o.dryRun) return PrintParsed(program, o);

    Session session(global);
    if (const int code = session.Start()) return code;
    CallResult opened;
    if (!session.OpenMpsse(opened)) return session.Finish(FailCall(opened));
    jtag::PlayOptions options = PlayOptionsFor(session, global, o);
    const VirtualApi* model = session.virtualCable() ? &session.virtualCable()->api() : nullptr;
    VcClockReading start{};
    if (model && (!model->vc_clock_read || model->vc_clock_read(VC_SPEED_FULL, &start) != 0))
        model = nullptr;
    Stopwatch watch;
    jtag::PlayResult result;
    bool completed = false;
    {
        // The bar ends its line before the summary is printed.
        Progress progress("playing", jtag::ProgressTotal(program, global.divisor),
                          "bits and clocks");
        options.progress = [&](uint64_t done, uint64_t) { progress.Update(done); };
        completed = jtag::Play(program, options, result);
    }
    if (!completed && result.mismatches == 0) {
        return session.Finish(FailCall(result.call, o.file + ":" + result.stoppedAt));
    }
    report::Set("played", json::Object({{"completed", json::Bool(completed)},
                                        {"commands", json::Number(uint64_t{program.commands})},
                                        {"scans", json::Number(result.scans)},
                                        {"checks", json::Number(result.checks)},
                                        {"mismatches", json::Number(result.mismatches)},
                                        {"clocks", json::Number(result.clocks)}}));
    std::printf("%s %s: %s; %s, %s; %s run-test clocks; %.1f ms\n",
                completed ? "played" : "stopped", o.file.c_str(),
                Plural(program.commands, "command").c_str(), Plural(result.scans, "scan").c_str(),
                Plural(result.checks, "TDO check").c_str(), std::to_string(result.clocks).c_str(),
                watch.Milliseconds());
    if (model) PrintModelledTime(*model, start);
    if (result.mismatches == 0) return session.Finish(kExitOk);
    return session.Finish(
        Fail(kExitFailed, completed ? Plural(result.mismatches, "TDO mismatch", "TDO mismatches")
                                    : "stopped at the first TDO mismatch "
                                      "(--continue counts them all)"));
}

}  // namespace

Command AddJtagCommand(CLI::App& root) {
    CLI::App* app = root.add_subcommand(
        "jtag", "Play SVF and XSVF files; read IDCODEs; scan into one device of the chain");
    app->require_subcommand(1);
    auto commands = std::make_shared<std::vector<Command>>(AddJtagFileCommands(*app));
    for (Command& command : AddJtagChainCommands(*app)) commands->push_back(std::move(command));
    return {app,
            [commands](const GlobalOptions& global) {
                for (const Command& command : *commands) {
                    if (command.app->parsed()) return command.run(global);
                }
                return Fail(kExitUsage, "jtag: no subcommand given (try --help)");
            },
            [commands] { return ChosenFiles(*commands); }};
}

std::vector<Command> AddJtagFileCommands(CLI::App& jtag) {
    std::vector<Command> commands;
    for (const bool binary : {false, true}) {
        auto o = std::make_shared<PlayFileOptions>();
        CLI::App* app =
            jtag.add_subcommand(binary ? "xsvf" : "svf",
                                binary ? "Play an XSVF file (the binary form of SVF) on the chain"
                                       : "Play an SVF file (Serial Vector Format) on the chain");
        app->add_option("file", o->file, binary ? "XSVF file" : "SVF file")->required();
        app->add_flag("--continue", o->keepGoing,
                      "Count TDO mismatches and play on instead of stopping at the first");
        app->add_flag("--dry-run", o->dryRun,
                      "Parse the whole file and report its totals; clock nothing");
        app->add_flag("--check-each", o->checkEach,
                      "Read each TDO check's answer before playback goes on (no batched checks, "
                      "no speculative XSVF scans)");
        if (!binary) {
            app->add_flag("--trst-wired", o->trstWired,
                          "The cable's reset line (GPIOL1) reaches the chain's TRST: TRST ON "
                          "pulses it (on the virtual cable the scenario decides)");
        }
        commands.push_back(
            {app, [o, binary](const GlobalOptions& global) { return Play(global, *o, binary); },
             [o]() -> CommandFiles {
                 return {{{"the input file", o->file}}};
             }});
    }
    return commands;
}

}  // namespace kestrel

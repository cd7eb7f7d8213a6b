// kestrel jtag, and its svf|xsvf FILE subcommands: the whole file is read and parsed, then the
// engine plays it on the chain, comparing TDO wherever the file gives an expected value.
#include <cstdio>

#include "commands/commands.h"
#include "commands/job_output.h"
#include "common/inputs.h"
#include "common/json.h"
#include "kestrel_engine.h"

namespace kestrel {
namespace {

struct PlayFileOptions {
    std::string file;
    bool keepGoing = false;
    bool dryRun = false;
    bool trstWired = false;
    bool checkEach = false;
};

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

// The engine's playback of the file's bytes, with what the session's cable decides.
kestrel_jtag_job JobFor(const GlobalOptions& global, const PlayFileOptions& o, bool binary,
                        const std::vector<uint8_t>& bytes, bool trstWired) {
    kestrel_jtag_job job{};
    job.version = KESTREL_ENGINE_VERSION;
    job.verb = binary ? KESTREL_JTAG_XSVF : KESTREL_JTAG_SVF;
    job.data = bytes.data();
    job.data_size = bytes.size();
    job.name = o.file.c_str();
    job.divisor = global.divisor;
    job.keep_going = o.keepGoing;
    job.check_each = o.checkEach;
    job.trst_wired = trstWired;
    job.dry_run = o.dryRun;
    return job;
}

// Pauses go on the virtual cable's model clock, so that busy devices finish meanwhile.
void PauseOn(void* cable, double seconds) {
    Pause(static_cast<const VirtualCable*>(cable), seconds);
}

// The tool's output of a playback, which also notes whether the file was played (to its end or
// its first TDO mismatch) rather than stopped by the cable.
struct PlayOutput {
    JobOutput out;
    bool played = false;
};

int OnPlayEvent(void* context, int kind, const char* text) {
    auto& output = *static_cast<PlayOutput*>(context);
    json::Fields members;
    if (kind == KESTREL_EVENT_FIELD && json::Members(text, members) && !members.empty() &&
        members[0].second == json::String("played")) {
        output.played = true;
    }
    return OnJobEvent(&output.out, kind, text);
}

// The file read and parsed whole before the cable is opened (--dry-run: all there is to do).
int LoadProgram(const GlobalOptions& global, const PlayFileOptions& o, bool binary,
                std::vector<uint8_t>& bytes, JobOutput& out) {
    if (const int code = CheckCommandFiles(global, {{{"the input file", o.file}}})) return code;
    std::string readError;
    if (!ReadInputFile(o.file, kMaxInputBytes, bytes, readError)) {
        return Fail(kExitFile, readError);
    }
    const kestrel_jtag_job job = JobFor(global, o, binary, bytes, false);
    return kestrel_jtag_check(&job, OnJobEvent, &out);
}

int Play(const GlobalOptions& global, const PlayFileOptions& o, bool binary) {
    std::vector<uint8_t> bytes;
    PlayOutput output;
    output.out.warningPrefix = "";  // a mismatch's line names the file itself
    if (const int code = LoadProgram(global, o, binary, bytes, output.out)) return code;
    if (o.dryRun) return kExitOk;

    Session session(global);
    if (const int code = session.Start()) return code;
    CallResult opened;
    if (!session.OpenMpsse(opened)) return session.Finish(FailCall(opened));
    kestrel_jtag_job job = JobFor(global, o, binary, bytes, TrstWired(session, o.trstWired));
    job.pause = PauseOn;
    job.pause_context = const_cast<VirtualCable*>(session.virtualCable());
    const VirtualApi* model = session.virtualCable() ? &session.virtualCable()->api() : nullptr;
    VcClockReading start{};
    if (model && (!model->vc_clock_read || model->vc_clock_read(VC_SPEED_FULL, &start) != 0))
        model = nullptr;
    const int code = kestrel_jtag_run(&job, OnPlayEvent, &output);
    output.out.EndBar();
    if (model && output.played) PrintModelledTime(*model, start);
    return session.Finish(code);
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

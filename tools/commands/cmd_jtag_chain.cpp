// kestrel jtag idcode | ir DEVICE VALUE | dr DEVICE BITS VALUE --ir INSTRUCTION: the chain's
// IDCODEs and instruction lengths, and scans into one device with the others in BYPASS.
#include <cstdio>
#include <sstream>

#include "commands/commands.h"
#include "commands/job_output.h"
#include "commands/options.h"
#include "common/report.h"
#include "jtag/chain.h"
#include "jtag/player.h"
#include "kestrel_engine.h"

namespace kestrel {
namespace {

struct ChainOptions {
    std::string irLengths;  // "6,8" or empty: detect
    size_t device = 0;
    size_t bits = 0;
    std::string value;
    std::string instruction;
};

bool ParseLengths(const std::string& text, std::vector<uint32_t>& lengths, std::string& error) {
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos ||
            item.size() > 4 || std::stoul(item) < 2) {
            error =
                "--ir-lengths takes lengths of at least 2 separated by commas, not '" + text + "'";
            return false;
        }
        lengths.push_back(static_cast<uint32_t>(std::stoul(item)));
    }
    return true;
}

std::string LengthsText(const jtag::ChainLayout& layout) {
    return jtag::JoinLengths(layout.irLengths) +
           (layout.detected ? " (detected from the capture pattern)" : " (--ir-lengths)");
}

// Reset, the scans, back to Run-Test/Idle; prints each scanned device's bits as sent and got.
int RunScans(const jtag::ChainLayout& layout, size_t device,
             const std::vector<jtag::ScanOp>& scans) {
    jtag::Program program;
    for (const jtag::ScanOp& scan : scans) {
        program.ops.push_back({0, scan.ir ? "IR scan" : "DR scan", scan});
    }
    jtag::PlayOptions options;
    jtag::PlayResult result;
    if (!jtag::Play(program, options, result)) {
        return FailCall(result.call, "scan failed");
    }
    for (size_t i = 0; i < scans.size(); ++i) {
        const bool ir = scans[i].ir;
        const jtag::Bits sent = jtag::DeviceBits(layout, device, ir, scans[i].tdi);
        const jtag::Bits got = jtag::DeviceBits(layout, device, ir, result.captures[i]);
        std::printf("device %zu %s (%zu bits): shifted in 0x%s, captured 0x%s\n", device,
                    ir ? "IR" : "DR", sent.size(), sent.ToHex().c_str(), got.ToHex().c_str());
        report::Append("scans", json::Object({{"device", json::Number(uint64_t{device})},
                                              {"register", json::String(ir ? "IR" : "DR")},
                                              {"bits", json::Number(uint64_t{sent.size()})},
                                              {"sent", json::String("0x" + sent.ToHex())},
                                              {"captured", json::String("0x" + got.ToHex())}}));
    }
    return kExitOk;
}

// The chain's IDCODEs and instruction lengths, run in the engine.
int RunIdcode(const std::vector<uint32_t>& given) {
    kestrel_jtag_job job{};
    job.version = KESTREL_ENGINE_VERSION;
    job.verb = KESTREL_JTAG_IDCODE;
    job.ir_lengths = given.data();
    job.ir_length_count = static_cast<uint32_t>(given.size());
    JobOutput out;
    return kestrel_jtag_run(&job, OnJobEvent, &out);
}

int RunChainCommand(const GlobalOptions& global, const ChainOptions& o, const std::string& which) {
    std::vector<uint32_t> given;
    std::string error;
    if (!ParseLengths(o.irLengths, given, error)) return Fail(kExitUsage, error);
    Session session(global);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenMpsse(result)) return session.Finish(FailCall(result));
    if (which == "idcode") return session.Finish(RunIdcode(given));
    jtag::ChainMeasurement measured;
    if (!jtag::MeasureChain(measured, result)) return session.Finish(FailCall(result));
    jtag::ChainLayout layout;
    if (!jtag::ChooseIrLengths(measured, given, layout, error)) {
        return session.Finish(Fail(kExitUnavailable, error));
    }
    if (o.device >= layout.irLengths.size()) {
        return session.Finish(Fail(kExitUsage, "the chain has " +
                                                   std::to_string(layout.irLengths.size()) +
                                                   " device(s); DEVICE counts from 0 at TDI"));
    }
    jtag::Bits instruction;
    jtag::Bits value;
    const std::string& irText = which == "ir" ? o.value : o.instruction;
    if (!jtag::ParseValue(irText, layout.irLengths[o.device], instruction, error)) {
        return session.Finish(Fail(kExitUsage, "instruction: " + error));
    }
    std::vector<jtag::ScanOp> scans = {jtag::OneDeviceIr(layout, o.device, instruction)};
    if (which == "dr") {
        if (!jtag::ParseValue(o.value, o.bits, value, error)) {
            return session.Finish(Fail(kExitUsage, "VALUE: " + error));
        }
        scans.push_back(jtag::OneDeviceDr(layout, o.device, value));
    }
    std::printf("IR lengths %s\n", LengthsText(layout).c_str());
    return session.Finish(RunScans(layout, o.device, scans));
}

}  // namespace

std::vector<Command> AddJtagChainCommands(CLI::App& jtag) {
    auto o = std::make_shared<ChainOptions>();
    CLI::App* idcode = jtag.add_subcommand(
        "idcode", "Count the chain's devices, read their IDCODEs and find their IR lengths");
    CLI::App* ir = jtag.add_subcommand(
        "ir", "Shift an instruction into one device, with every other device in BYPASS");
    ir->add_option("device", o->device, "Device, counted from 0 at TDI")
        ->required()
        ->transform(Number(0, jtag::kMaxChainDevices - 1));
    ir->add_option("value", o->value, "Instruction: 0x hex or decimal")->required();
    CLI::App* dr = jtag.add_subcommand(
        "dr",
        "Load an instruction (--ir) into one device, BYPASS into the others, and shift "
        "its data register");
    dr->add_option("device", o->device, "Device, counted from 0 at TDI")
        ->required()
        ->transform(Number(0, jtag::kMaxChainDevices - 1));
    dr->add_option("bits", o->bits, "Length of the data register")
        ->required()
        ->transform(Number(1, 1 << 20));
    dr->add_option("value", o->value, "Data: 0x hex or decimal")->required();
    dr->add_option("--ir", o->instruction, "Instruction that selects the data register")
        ->required();
    for (CLI::App* app : {idcode, ir, dr}) {
        app->add_option("--ir-lengths", o->irLengths,
                        "Instruction lengths, device 0 first (default: detected)");
    }
    std::vector<Command> commands;
    for (CLI::App* app : {idcode, ir, dr}) {
        const std::string which = app->get_name();
        commands.push_back({app, [o, which](const GlobalOptions& global) {
                                return RunChainCommand(global, *o, which);
                            }});
    }
    return commands;
}

}  // namespace kestrel

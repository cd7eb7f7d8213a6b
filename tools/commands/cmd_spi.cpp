// kestrel spi id|read|write|erase|verify: the SPI flash behind chip select GPIOL2. Files are
// checked first, and before any range is touched a flash must answer its ID and its size must be
// known, --flash-size no larger than the part announces: a range past the end is refused with
// nothing read, erased or programmed. A write or erase puts back the protection it cleared on
// every way it ends, a signal included.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "commands/commands.h"
#include "commands/options.h"
#include "commands/spi_verbs.h"
#include "common/inputs.h"
#include "common/os.h"
#include "common/report.h"
#include "common/tck.h"
#include "flash/flash_clock.h"
#include "flash/flash_geometry.h"
#include "flash/flash_job.h"
#include "flash/flash_stop.h"
#include "flash/spi_ops.h"

namespace kestrel {
namespace {

using namespace spi_verbs;

// The command line's bounds: the smallest erase any flash has, the largest flash and the largest
// address the options take (ranges are then held to the flash's own size).
constexpr uint64_t kSectorBytes = 4096;
constexpr uint64_t kMaxFlashBytes = uint64_t{1} << 32;
constexpr uint64_t kMaxAddress = 0xFFFFFFFF;

// The range of the command, or a usage problem (then `problem` is set).
Target RangeOf(SpiVerb verb, const SpiOptions& o, size_t inputBytes, const FlashGeometry& g,
               std::string& problem) {
    Target t{o.address, 0};
    switch (verb) {
        case SpiVerb::kRead:
            if (o.size == 0 && g.size > 0 && o.address >= g.size) {
                problem = "--address " + AddressText(o.address) + " is past the end of the " +
                          SizeText(g.size) + " flash (" + std::to_string(g.size) + " bytes, from " +
                          g.sizeSource + ")";
                return t;
            }
            t.count = o.size ? o.size : g.size - o.address;
            break;
        case SpiVerb::kWrite:
        case SpiVerb::kVerify:
            t.count = inputBytes;
            if (g.size > 0 && inputBytes > g.size) {
                problem = o.file + " (" + std::to_string(inputBytes) +
                          " bytes) is larger than the " + SizeText(g.size) + " flash (" +
                          std::to_string(g.size) + " bytes, from " + g.sizeSource + ")";
                return t;
            }
            break;
        case SpiVerb::kErase:
            if (o.chip) {
                if (g.size == 0) problem = RangeProblem(0, 1, g);
                // A chip erase erases the part, whatever --flash-size says.
                if (g.size && !SizeIsThePart(g) && (g.sfdpSize || g.jedecSize)) {
                    problem = "erase --chip erases the whole flash, which announces " +
                              SizeText(std::max(g.sfdpSize, g.jedecSize)) + ", not the " +
                              SizeText(g.size) + " --flash-size gives; leave " +
                              "--flash-size out, or give --address 0 --size " +
                              std::to_string(g.size);
                }
                return {0, g.size};
            }
            t.count = o.size;
            break;
        case SpiVerb::kId:
            return t;
    }
    problem = RangeProblem(t.address, t.count, g);
    return t;
}

// write and verify read their file, read writes it.
CommandFiles SpiFiles(SpiVerb verb, const SpiOptions& o) {
    if (verb == SpiVerb::kWrite || verb == SpiVerb::kVerify) return {{{"the input file", o.file}}};
    if (verb == SpiVerb::kRead) return {{}, {{"the output file", o.file}}};
    return {};
}

// The command line's files and the range a given --flash-size settles, before the cable is
// opened: nothing reaches the cable when one of them is wrong.
int PrepareSpi(SpiVerb verb, const GlobalOptions& options, const SpiOptions& o,
               std::vector<uint8_t>& input, OutputFile& output) {
    const bool reads = verb == SpiVerb::kWrite || verb == SpiVerb::kVerify;
    const bool writes = verb == SpiVerb::kRead;
    if (const int code = CheckCommandFiles(options, SpiFiles(verb, o))) return code;
    std::string error;
    if (reads) {
        if (!ReadInputFile(o.file, kMaxInputBytes, input, error)) return Fail(kExitFile, error);
        if (input.empty())
            return Fail(kExitUsage, o.file + " is empty: nothing to " +
                                        (verb == SpiVerb::kWrite ? "write" : "verify"));
    }
    if (options.divisorGiven && o.clockHz > 0) {
        return Fail(kExitUsage, "give --clock or --divisor, not both");
    }
    if (writes && !output.Open(o.file, "the output file", error)) return Fail(kExitFile, error);
    if (verb == SpiVerb::kErase && !o.chip && o.size == 0) {
        return Fail(kExitUsage, "spi erase needs --size N with --address, or --chip");
    }
    if (o.flashSize) {
        FlashGeometry given;
        given.size = o.flashSize;
        given.sizeSource = "--flash-size";
        std::string problem;
        RangeOf(verb, o, input.size(), given, problem);
        if (!problem.empty()) return Fail(kExitUsage, problem);
    }
    return kExitOk;
}

// How the job's end went: the protection it cleared put back (said on standard output after a
// success, as a note after a failure), or what it left changed and how to undo it.
int FinishJob(const FlashJob& job, bool putBack, const CallResult& after, int code) {
    if (job.clearSent) report::Set("protection_restored", json::Bool(putBack));
    const std::string outcome = EndOutcome(job, putBack);
    if (putBack) {
        if (!outcome.empty() && code == kExitOk) {
            std::printf("%s\n", outcome.c_str());
        } else {
            Note(outcome);
        }
        return code;
    }
    const int failed = FailCall(outcome.empty() ? after : Explained(after, outcome),
                                "putting the flash back failed");
    return code ? code : failed;
}

// The verb between the job's begin and end. A write or erase stops at a safe point when SIGINT
// or SIGTERM asks it to, and ends as interrupted once the job's end has put things back.
int RunJob(SpiVerb verb, const SpiOptions& o, const uint8_t id[3],
           const std::vector<uint8_t>& input, OutputFile& output, Flash& flash, const Target& t) {
    const FlashGeometry& g = flash.geometry;
    const bool writes = verb == SpiVerb::kWrite || verb == SpiVerb::kErase;
    std::optional<StopAtSafePoint> stop;
    if (writes) stop.emplace();
    // The sectors a write or erase touches, checked against the protection before any of them.
    const uint64_t sector = g.eraseSize;
    const uint64_t first = o.chip ? 0 : t.address / sector * sector;
    const uint64_t end =
        o.chip ? g.size : std::min(g.size, (t.address + t.count + sector - 1) / sector * sector);
    FlashJob job;
    CallResult result;
    int code = BeginFlashJob(flash, id, g.size, first, end, writes, o.unprotect, job, result)
                   ? RunVerb(verb, o, input, output, flash, t)
                   : FailCall(result);
    CallResult after;
    const bool putBack = EndFlashJob(flash, job, after);
    stop.reset();
    code = FinishJob(job, putBack, after, code);
    return StopSignal() ? kExitInterrupted : code;
}

// The flash as the command line and the part describe it: a flash that answers, and a size that
// the part does not contradict.
int SettleFlash(SpiVerb verb, const SpiOptions& o, const uint8_t id[3], FlashGeometry& g) {
    if (NoFlashAnswered(id)) {
        if (verb == SpiVerb::kId) PrintJedecId(id);
        return Fail(kExitUnavailable, NoAnswerText(id));
    }
    if (const std::string problem = SettleSize(o.flashSize, g); !problem.empty()) {
        return Fail(kExitUsage, problem);
    }
    Note(SizeNote(g));
    report::Set("flash", json::Object({{"id", json::String(HexBytes(id, 3))},
                                       {"size", json::Number(g.size)},
                                       {"erase_size", json::Number(g.eraseSize)}}));
    return kExitOk;
}

// The flash's clock for the job (FTDI_SetClk after the open's own divisor, which the probe used):
// the one asked for or the fastest, refused when faster than the part's read allows. The
// document's flash object gains the rate and divisor.
int SetFlashClock(const GlobalOptions& options, const SpiOptions& o, const uint8_t id[3],
                  const FlashGeometry& g) {
    ClockRequest request;
    if (options.divisorGiven) request.divisor = options.divisor;
    if (o.clockHz > 0) request.hz = o.clockHz;
    std::string problem;
    const uint32_t divisor = ChooseDivisor(request, ReadClockLimitOf(id), problem);
    if (!problem.empty()) return Fail(kExitUsage, problem);
    CallResult result;
    if (divisor != options.divisor && !Check(FTDI_SetClk(divisor), "FTDI_SetClk", result)) {
        return FailCall(result, "setting the flash's clock failed");
    }
    report::Set("flash", json::Object({{"id", json::String(HexBytes(id, 3))},
                                       {"size", json::Number(g.size)},
                                       {"erase_size", json::Number(g.eraseSize)},
                                       {"clock", json::String(RateText(TckHz(divisor)))},
                                       {"divisor", json::Number(divisor)}}));
    return kExitOk;
}

int RunSpi(SpiVerb verb, const GlobalOptions& options, const SpiOptions& o) {
    std::vector<uint8_t> input;
    OutputFile output;
    if (const int code = PrepareSpi(verb, options, o, input, output)) return code;

    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenMpsse(result)) return session.Finish(FailCall(result));
    uint8_t id[3] = {0, 0, 0};
    std::optional<FlashGeometry> sfdp;
    FlashGeometry geometry;
    Flash flash;  // the job's flash and buffers; the probe reads through them
    if (!ProbeFlash(flash, id, sfdp, geometry, result)) {
        return session.Finish(FailCall(result, "identifying the flash failed"));
    }
    if (const int code = SettleFlash(verb, o, id, geometry)) return session.Finish(code);
    flash.geometry = geometry;
    if (verb == SpiVerb::kId) return session.Finish(RunId(flash, id, sfdp));
    std::string problem;
    if (o.flashSize % geometry.eraseSize != 0) {
        problem = "--flash-size " + std::to_string(o.flashSize) + " is not a whole number of " +
                  "the flash's " + SizeText(geometry.eraseSize) + " sectors";
    }
    const Target target =
        problem.empty() ? RangeOf(verb, o, input.size(), geometry, problem) : Target{};
    if (!problem.empty()) return session.Finish(Fail(kExitUsage, problem));
    if (const int code = SetFlashClock(options, o, id, geometry)) return session.Finish(code);
    const int code = session.Finish(RunJob(verb, o, id, input, output, flash, target));
    // Stopped by a signal at a safe point: the document and the state are written, and the
    // process ends as the signal would have ended it.
    if (const int signal = StopSignal()) {
        report::Finish(code);
        os::StopBySignal(signal);
    }
    return code;
}

CLI::App* AddVerb(CLI::App* app, const char* name, const char* help) {
    CLI::App* verb = app->add_subcommand(name, help);
    verb->fallthrough();
    return verb;
}

CLI::App* AddWriteVerb(CLI::App* app, SpiOptions& o) {
    CLI::App* write = AddVerb(
        app, "write",
        "Write a file into the flash, keeping the rest of every sector it touches, and verify it");
    write->add_option("file", o.file, "Input file (- for standard input)")->required();
    write->add_option("--address", o.address, "First byte address")
        ->capture_default_str()
        ->transform(Number(0, kMaxAddress));
    write->add_flag("--no-erase", o.noErase, "Program over what the sectors hold, never erase");
    write->add_flag("--no-verify", o.noVerify, "Do not read the sectors back");
    write->add_flag("--unprotect", o.unprotect,
                    "Clear the block protection for the job and put it back afterwards");
    write->add_flag("--verify")->description("Read the sectors back and compare (the default)");
    return write;
}

CLI::App* AddEraseVerb(CLI::App* app, SpiOptions& o) {
    CLI::App* erase =
        AddVerb(app, "erase", "Erase a range (keeping the rest of its sectors) or the chip");
    CLI::Option* at = erase->add_option("--address", o.address, "First byte address")
                          ->transform(Number(0, kMaxAddress));
    CLI::Option* size =
        erase->add_option("--size", o.size, "Bytes to erase")->transform(Number(1, kMaxInputBytes));
    erase->add_flag("--chip", o.chip, "Erase the whole flash (0xC7)")->excludes(at, size);
    erase->add_flag("--no-verify", o.noVerify, "Do not read the erased bytes back");
    erase->add_flag("--unprotect", o.unprotect,
                    "Clear the block protection for the job and put it back afterwards");
    return erase;
}

}  // namespace

Command AddSpiCommand(CLI::App& root) {
    auto o = std::make_shared<SpiOptions>();
    CLI::App* app = root.add_subcommand("spi", "SPI flash on chip select GPIOL2");
    app->require_subcommand(1);
    app->fallthrough();
    app->add_option("--flash-size", o->flashSize,
                    "The flash's size in bytes, in place of what its SFDP table or JEDEC ID "
                    "announces (no larger; a whole number of sectors)")
        ->transform(Number(kSectorBytes, kMaxFlashBytes, kSectorBytes));
    app->add_option("--clock", o->clockHz,
                    "Clock the flash at the fastest TCK not above RATE (hertz, or with k or M: "
                    "500k, 1.5M), in place of the fastest the cable and the part allow")
        ->type_name("RATE")
        ->transform(Clock());
    CLI::App* id = AddVerb(app, "id", "Read the flash's JEDEC ID and SFDP table");
    CLI::App* read = AddVerb(app, "read", "Read the flash into a file");
    read->add_option("file", o->file, "Output file (- for standard output)")->required();
    read->add_option("--address", o->address, "First byte address")
        ->capture_default_str()
        ->transform(Number(0, kMaxAddress));
    read->add_option("--size", o->size, "Bytes to read (default: to the end of the flash)")
        ->transform(Number(1, kMaxInputBytes));
    CLI::App* write = AddWriteVerb(app, *o);
    CLI::App* erase = AddEraseVerb(app, *o);
    CLI::App* verify = AddVerb(app, "verify", "Compare the flash with a file");
    verify->add_option("file", o->file, "File the flash should hold")->required();
    verify->add_option("--address", o->address, "First byte address")
        ->capture_default_str()
        ->transform(Number(0, kMaxAddress));
    const auto chosen = [id, read, write, erase] {
        return id->parsed()      ? SpiVerb::kId
               : read->parsed()  ? SpiVerb::kRead
               : write->parsed() ? SpiVerb::kWrite
               : erase->parsed() ? SpiVerb::kErase
                                 : SpiVerb::kVerify;
    };
    return {app,
            [o, chosen](const GlobalOptions& options) { return RunSpi(chosen(), options, *o); },
            [o, chosen] { return SpiFiles(chosen(), *o); }};
}

}  // namespace kestrel

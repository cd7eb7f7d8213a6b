// kestrel spi id|read|write|erase|verify: the SPI flash behind chip select GPIOL2. The command line
// and its files are checked first; the job itself runs in the engine (kestrel_spi_run), which
// refuses a range past the flash's end, and a flash that does not answer, before anything is
// read, erased or programmed, and puts back the protection a write or erase cleared on every way
// it ends, a signal included.
#include <cstdio>
#include <vector>

#include "commands/commands.h"
#include "commands/job_output.h"
#include "commands/options.h"
#include "common/inputs.h"
#include "common/os.h"
#include "common/report.h"
#include "flash/flash_stop.h"
#include "kestrel_engine.h"

namespace kestrel {
namespace {

enum class SpiVerb : int32_t {
    kId = KESTREL_SPI_ID,
    kRead = KESTREL_SPI_READ,
    kWrite = KESTREL_SPI_WRITE,
    kErase = KESTREL_SPI_ERASE,
    kVerify = KESTREL_SPI_VERIFY
};

struct SpiOptions {
    uint64_t address = 0;
    uint64_t size = 0;  // read: 0 = to the end of the flash
    uint64_t flashSize = 0;
    double clockHz = 0;  // --clock; 0: not given
    std::string file;
    bool noErase = false;
    bool noVerify = false;
    bool chip = false;
    bool unprotect = false;
};

// The command line's bounds: the smallest erase any flash has, the largest flash and the largest
// address the options take (the engine holds ranges to the flash's own size).
constexpr uint64_t kSectorBytes = 4096;
constexpr uint64_t kMaxFlashBytes = uint64_t{1} << 32;
constexpr uint64_t kMaxAddress = 0xFFFFFFFF;

// write and verify read their file, read writes it.
CommandFiles SpiFiles(SpiVerb verb, const SpiOptions& o) {
    if (verb == SpiVerb::kWrite || verb == SpiVerb::kVerify) return {{{"the input file", o.file}}};
    if (verb == SpiVerb::kRead) return {{}, {{"the output file", o.file}}};
    return {};
}

// A read's bytes into the output file.
int WriteOutput(void* context, const uint8_t* bytes, uint64_t count) {
    auto& output = *static_cast<OutputFile*>(context);
    std::string error;
    if (!output.Write(bytes, count, error) || !output.Commit(error)) {
        return Fail(kExitFile, error);
    }
    return kExitOk;
}

// The engine's job for the command line.
kestrel_spi_job JobFor(SpiVerb verb, const GlobalOptions& options, const SpiOptions& o,
                       const std::vector<uint8_t>& input, OutputFile& output) {
    kestrel_spi_job job{};
    job.version = KESTREL_ENGINE_VERSION;
    job.verb = static_cast<int32_t>(verb);
    job.address = o.address;
    job.size = o.size;
    job.flash_size = o.flashSize;
    job.clock_hz = o.clockHz;
    job.divisor = options.divisor;
    job.divisor_given = options.divisorGiven;
    job.data = input.data();
    job.data_size = input.size();
    job.receive = WriteOutput;
    job.receive_context = &output;
    job.name = o.file.c_str();
    job.no_erase = o.noErase;
    job.no_verify = o.noVerify;
    job.chip = o.chip;
    job.unprotect = o.unprotect;
    job.handle_signals = 1;
    job.keep_clock = 1;  // the session closes the cable next
    return job;
}

// The command line's files and the job's own checks, before the cable is opened: nothing reaches
// the cable when one of them is wrong.
int PrepareSpi(SpiVerb verb, const GlobalOptions& options, const SpiOptions& o,
               std::vector<uint8_t>& input, OutputFile& output, JobOutput& out) {
    if (const int code = CheckCommandFiles(options, SpiFiles(verb, o))) return code;
    std::string error;
    if ((verb == SpiVerb::kWrite || verb == SpiVerb::kVerify) &&
        !ReadInputFile(o.file, kMaxInputBytes, input, error)) {
        return Fail(kExitFile, error);
    }
    const kestrel_spi_job job = JobFor(verb, options, o, input, output);
    if (const int code = kestrel_spi_check(&job, OnJobEvent, &out)) return code;
    if (verb == SpiVerb::kRead && !output.Open(o.file, "the output file", error)) {
        return Fail(kExitFile, error);
    }
    return kExitOk;
}

int RunSpi(SpiVerb verb, const GlobalOptions& options, const SpiOptions& o) {
    std::vector<uint8_t> input;
    OutputFile output;
    JobOutput out;
    if (const int code = PrepareSpi(verb, options, o, input, output, out)) return code;
    out.linesToStderr = output.toStdout();

    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenMpsse(result)) return session.Finish(FailCall(result));
    const kestrel_spi_job job = JobFor(verb, options, o, input, output);
    const int jobCode = kestrel_spi_run(&job, OnJobEvent, &out);
    out.EndBar();
    const int code = session.Finish(jobCode);
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

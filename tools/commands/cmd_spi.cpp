// kestrel spi id|read|write|erase|verify: the SPI flash behind chip select GPIOL2. Files are
// checked first and the flash's size is known before any range is touched: a range past the end
// is refused with nothing read, erased or programmed.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "commands/commands.h"
#include "commands/options.h"
#include "common/inputs.h"
#include "common/report.h"
#include "flash/flash_geometry.h"
#include "flash/flash_protect.h"
#include "flash/flash_writer.h"
#include "flash/spi_ops.h"

namespace kestrel {
namespace {

// The command line's bounds: the smallest erase any flash has, the largest flash and the largest
// address the options take (ranges are then held to the flash's own size).
constexpr uint64_t kSectorBytes = 4096;
constexpr uint64_t kMaxFlashBytes = uint64_t{1} << 32;
constexpr uint64_t kMaxAddress = 0xFFFFFFFF;

enum class SpiVerb { kId, kRead, kWrite, kErase, kVerify };

struct SpiOptions {
    uint64_t address = 0;
    uint64_t size = 0;  // read: 0 = to the end of the flash
    uint64_t flashSize = 0;
    std::string file;
    bool noErase = false;
    bool noVerify = false;
    bool chip = false;
    bool unprotect = false;
};

// One bar per phase of a command, each ended before the next starts.
class PhaseBars {
  public:
    PhaseProgressFn Sink() {
        return [this](const char* phase, uint64_t done, uint64_t total) {
            if (!bar_ || phase != phase_) {
                bar_.reset();
                bar_ = std::make_unique<Progress>(phase, total);
                phase_ = phase;
            }
            bar_->Update(done);
        };
    }
    void End() { bar_.reset(); }

  private:
    std::unique_ptr<Progress> bar_;
    const char* phase_ = nullptr;
};

std::string Hex6(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(value));
    return text;
}

// What a command works on, once the flash's size is known.
struct Target {
    uint64_t address = 0;
    uint64_t count = 0;
};

// The range of the command, or a usage problem (then `problem` is set).
Target RangeOf(SpiVerb verb, const SpiOptions& o, size_t inputBytes, const FlashGeometry& g,
               std::string& problem) {
    Target t{o.address, 0};
    switch (verb) {
        case SpiVerb::kRead:
            if (o.size == 0 && g.size > 0 && o.address >= g.size) {
                problem = "--address " + Hex6(o.address) + " is past the end of the " +
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

void PrintId(const uint8_t id[3], const std::optional<FlashGeometry>& sfdp,
             const FlashGeometry& g) {
    std::printf("JEDEC ID %s: manufacturer 0x%02X, type 0x%02X, capacity code 0x%02X",
                HexBytes(id, 3).c_str(), id[0], id[1], id[2]);
    if (const uint64_t size = SizeFromJedec(id)) std::printf(" (%s)", SizeText(size).c_str());
    std::printf("\n");
    if (sfdp) {
        std::printf("SFDP: %s, erase %s with 0x%02X, pages of %u bytes\n",
                    SizeText(sfdp->size).c_str(), SizeText(sfdp->eraseSize).c_str(),
                    sfdp->eraseOpcode, sfdp->pageSize);
    } else {
        std::printf("SFDP: not answered\n");
    }
    if (g.size) {
        std::printf("flash size: %s (%llu bytes, from %s)\n", SizeText(g.size).c_str(),
                    static_cast<unsigned long long>(g.size), g.sizeSource.c_str());
    } else {
        std::printf("flash size: unknown (give --flash-size)\n");
    }
    const char* addressing[] = {"3-byte addresses", "4-byte opcodes",
                                "4-byte mode (0xB7 before a job, 0xE9 after)"};
    std::printf("addressing: %s\n", addressing[static_cast<int>(g.addressing)]);
    if (g.timesFromSfdp) {
        std::printf(
            "longest waits (SFDP): page program %.1f ms, sector erase %.0f ms, chip erase "
            "%.0f s\n",
            g.timeouts.program / 1e3, g.timeouts.sector / 1e3, g.timeouts.chip / 1e6);
    }
}

// "1 sector", "3 sectors".
std::string Count(uint64_t n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

std::string Verified(const WriteReport& w) {
    return w.verifiedBytes ? "; verified " + Count(w.verifiedBytes, "byte") : "";
}

std::string WriteSummary(const WriteReport& w) {
    return "erased " + Count(w.erasedSectors, "sector") + " (" + Count(w.erasedBytes, "byte") +
           "), programmed " + Count(w.programmedBytes, "byte") + " in " +
           Count(w.pagePrograms, "page program") + ", skipped " + Count(w.skippedBytes, "byte") +
           " already in place" + Verified(w);
}

std::string EraseSummary(const WriteReport& w) {
    return "erased " + Count(w.erasedSectors, "sector") + " (" + Count(w.erasedBytes, "byte") +
           "), restored " + Count(w.programmedBytes, "byte") + " around the range in " +
           Count(w.pagePrograms, "page program") + ", " + Count(w.untouchedSectors, "sector") +
           " already blank" + Verified(w);
}

// What the command did, on standard output, or on standard error when the data went there.
FILE* Report(const OutputFile& output) { return output.toStdout() ? stderr : stdout; }

// The byte counts of a write or erase for --json.
void ReportWrite(const WriteReport& r) {
    report::Set("bytes_erased", json::Number(r.erasedBytes));
    report::Set("bytes_programmed", json::Number(r.programmedBytes));
    report::Set("bytes_skipped", json::Number(r.skippedBytes));
    report::Set("bytes_verified", json::Number(r.verifiedBytes));
}

int RunRead(const SpiOptions& o, OutputFile& output, const Target& t) {
    CallResult result;
    PhaseBars bars;
    Stopwatch watch;
    const auto address = static_cast<uint32_t>(t.address);
    const auto count = static_cast<uint32_t>(t.count);
    std::vector<uint8_t> data(count);
    const auto sink = bars.Sink();
    if (!FlashRead(address, data.data(), count, result,
                   [&](uint32_t done) { sink("reading", done, count); })) {
        return FailCall(result, "read failed");
    }
    bars.End();
    std::string error;
    if (!output.Write(data.data(), count, error) || !output.Commit(error)) {
        return Fail(kExitFile, error);
    }
    report::Set("bytes_read", json::Number(count));
    std::fprintf(Report(output), "read %u bytes from %s into %s in %.1f ms\n", count,
                 Hex6(address).c_str(), o.file.c_str(), watch.Milliseconds());
    return kExitOk;
}

int RunWrite(const SpiOptions& o, const std::vector<uint8_t>& input, const FlashGeometry& g,
             const Target& t) {
    CallResult result;
    PhaseBars bars;
    WriteReport report;
    Stopwatch watch;
    const auto address = static_cast<uint32_t>(t.address);
    const auto count = static_cast<uint32_t>(t.count);
    if (!WriteRange(g, address, input.data(), count, {!o.noErase, !o.noVerify}, report, result,
                    bars.Sink())) {
        return FailCall(result, "write failed");
    }
    bars.End();
    ReportWrite(report);
    std::printf("wrote %u bytes at %s from %s in %.1f ms: %s\n", count, Hex6(address).c_str(),
                o.file.c_str(), watch.Milliseconds(), WriteSummary(report).c_str());
    return kExitOk;
}

int RunErase(const SpiOptions& o, const FlashGeometry& g, const Target& t) {
    CallResult result;
    PhaseBars bars;
    WriteReport report;
    Stopwatch watch;
    const auto address = static_cast<uint32_t>(t.address);
    const auto count = static_cast<uint32_t>(t.count);
    const bool ok =
        o.chip ? EraseChip(g, !o.noVerify, report, result, bars.Sink())
               : EraseRange(g, address, count, {true, !o.noVerify}, report, result, bars.Sink());
    if (!ok) return FailCall(result, "erase failed");
    bars.End();
    ReportWrite(report);
    if (o.chip) {
        std::printf("erased the whole %s flash in %.1f ms%s\n", SizeText(g.size).c_str(),
                    watch.Milliseconds(), Verified(report).c_str());
        return kExitOk;
    }
    std::printf("erased %s to %s (%u bytes) in %.1f ms: %s\n", Hex6(address).c_str(),
                Hex6(t.address + t.count - 1).c_str(), count, watch.Milliseconds(),
                EraseSummary(report).c_str());
    return kExitOk;
}

int RunVerify(const SpiOptions& o, const std::vector<uint8_t>& input, const Target& t) {
    CallResult result;
    PhaseBars bars;
    Stopwatch watch;
    const auto address = static_cast<uint32_t>(t.address);
    const auto count = static_cast<uint32_t>(t.count);
    if (!VerifyRange(address, input.data(), count, result, bars.Sink())) {
        return FailCall(result);
    }
    bars.End();
    report::Set("bytes_verified", json::Number(count));
    std::printf("verified %u bytes at %s against %s in %.1f ms\n", count, Hex6(address).c_str(),
                o.file.c_str(), watch.Milliseconds());
    return kExitOk;
}

int RunVerb(SpiVerb verb, const SpiOptions& o, const std::vector<uint8_t>& input,
            OutputFile& output, const FlashGeometry& g, const Target& t) {
    switch (verb) {
        case SpiVerb::kRead:
            return RunRead(o, output, t);
        case SpiVerb::kWrite:
            return RunWrite(o, input, g, t);
        case SpiVerb::kErase:
            return RunErase(o, g, t);
        case SpiVerb::kVerify:
            return RunVerify(o, input, t);
        case SpiVerb::kId:
            break;
    }
    return kExitOk;
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

// The status registers `spi id` read, each with its read command and value.
std::string RegistersJson(const FlashProtection& p) {
    const auto one = [](const char* name, uint8_t opcode, uint8_t value) {
        return json::Object({{"name", json::String(name)},
                             {"opcode", json::Number(uint32_t{opcode})},
                             {"value", json::Number(uint32_t{value})}});
    };
    std::vector<std::string> registers = {
        one("status register 1", flash_cmd::kReadStatus, p.status[0])};
    if (p.hasSecond) registers.push_back(one(p.secondName, p.secondOpcode, p.status[1]));
    if (p.hasThird) registers.push_back(one("status register 3", kReadStatus3, p.status[2]));
    return json::Array(registers);
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
    if (!ProbeFlash(o.flashSize, id, sfdp, geometry, result)) {
        return session.Finish(FailCall(result, "identifying the flash failed"));
    }
    UseFlash(geometry);
    report::Set("flash", json::Object({{"id", json::String(HexBytes(id, 3))},
                                       {"size", json::Number(geometry.size)},
                                       {"erase_size", json::Number(geometry.eraseSize)}}));
    if (verb == SpiVerb::kId) {
        PrintId(id, sfdp, geometry);
        FlashProtection protection;
        if (!ReadProtection(id, geometry.size, protection, result) ||
            !ReadThirdRegister(protection, result)) {
            return session.Finish(FailCall(result));
        }
        std::printf("protection: %s\n", DescribeProtection(protection).c_str());
        report::Set("protection",
                    json::Object({{"text", json::String(DescribeProtection(protection))},
                                  {"registers", RegistersJson(protection)},
                                  {"first", json::Number(protection.first)},
                                  {"end", json::Number(protection.end)},
                                  {"locked", json::Bool(protection.locked)}}));
        return session.Finish(kExitOk);
    }
    std::string problem;
    if (o.flashSize % geometry.eraseSize != 0) {
        problem = "--flash-size " + std::to_string(o.flashSize) + " is not a whole number of " +
                  "the flash's " + SizeText(geometry.eraseSize) + " sectors";
    }
    const Target target =
        problem.empty() ? RangeOf(verb, o, input.size(), geometry, problem) : Target{};
    if (!problem.empty()) return session.Finish(Fail(kExitUsage, problem));
    // The sectors a write or erase touches, checked against the protection before any of them.
    const uint64_t sector = geometry.eraseSize;
    const uint64_t first = o.chip ? 0 : target.address / sector * sector;
    const uint64_t end =
        o.chip ? geometry.size
               : std::min(geometry.size,
                          (target.address + target.count + sector - 1) / sector * sector);
    FlashJob job;
    const bool writes = verb == SpiVerb::kWrite || verb == SpiVerb::kErase;
    if (!BeginFlashJob(id, geometry.size, first, end, writes, o.unprotect, job, result)) {
        EndFlashJob(job, result);
        return session.Finish(FailCall(result));
    }
    const int code = RunVerb(verb, o, input, output, geometry, target);
    CallResult after;
    if (!EndFlashJob(job, after)) {
        return session.Finish(code ? code : FailCall(after, "putting the flash back failed"));
    }
    if (job.cleared) {
        std::printf("protection restored: %s\n", DescribeProtection(job.restored).c_str());
    }
    return session.Finish(code);
}

}  // namespace

Command AddSpiCommand(CLI::App& root) {
    auto o = std::make_shared<SpiOptions>();
    CLI::App* app = root.add_subcommand("spi", "SPI flash on chip select GPIOL2");
    app->require_subcommand(1);
    app->fallthrough();
    app->add_option("--flash-size", o->flashSize,
                    "The flash's size in bytes, in place of what its SFDP table or JEDEC ID "
                    "announces (a whole number of sectors)")
        ->transform(Number(kSectorBytes, kMaxFlashBytes, kSectorBytes));
    auto addVerb = [&](const char* name, const char* help) {
        CLI::App* verb = app->add_subcommand(name, help);
        verb->fallthrough();
        return verb;
    };
    CLI::App* id = addVerb("id", "Read the flash's JEDEC ID and SFDP table");
    CLI::App* read = addVerb("read", "Read the flash into a file");
    read->add_option("file", o->file, "Output file (- for standard output)")->required();
    read->add_option("--address", o->address, "First byte address")
        ->capture_default_str()
        ->transform(Number(0, kMaxAddress));
    read->add_option("--size", o->size, "Bytes to read (default: to the end of the flash)")
        ->transform(Number(1, kMaxInputBytes));
    CLI::App* write = addVerb(
        "write",
        "Write a file into the flash, keeping the rest of every sector it touches, and verify it");
    write->add_option("file", o->file, "Input file (- for standard input)")->required();
    write->add_option("--address", o->address, "First byte address")
        ->capture_default_str()
        ->transform(Number(0, kMaxAddress));
    write->add_flag("--no-erase", o->noErase, "Program over what the sectors hold, never erase");
    write->add_flag("--no-verify", o->noVerify, "Do not read the sectors back");
    write->add_flag("--unprotect", o->unprotect,
                    "Clear the block protection for the job and put it back afterwards");
    write->add_flag("--verify")->description("Read the sectors back and compare (the default)");
    CLI::App* erase =
        addVerb("erase", "Erase a range (keeping the rest of its sectors) or the chip");
    CLI::Option* at = erase->add_option("--address", o->address, "First byte address")
                          ->transform(Number(0, kMaxAddress));
    CLI::Option* size = erase->add_option("--size", o->size, "Bytes to erase")
                            ->transform(Number(1, kMaxInputBytes));
    erase->add_flag("--chip", o->chip, "Erase the whole flash (0xC7)")->excludes(at, size);
    erase->add_flag("--no-verify", o->noVerify, "Do not read the erased bytes back");
    erase->add_flag("--unprotect", o->unprotect,
                    "Clear the block protection for the job and put it back afterwards");
    CLI::App* verify = addVerb("verify", "Compare the flash with a file");
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

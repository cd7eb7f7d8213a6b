// kestrel spi id|read|write|erase|verify: the SPI flash behind chip select GPIOL2. Files are
// checked first and the flash's size is known before any range is touched: a range past the end
// is refused with nothing read, erased or programmed.
#include <cstdio>
#include <memory>
#include <vector>

#include "commands/commands.h"
#include "common/files.h"
#include "flash/flash_geometry.h"
#include "flash/flash_writer.h"
#include "flash/spi_ops.h"

namespace kestrel {
namespace {

enum class SpiVerb { kId, kRead, kWrite, kErase, kVerify };

struct SpiOptions {
    uint64_t address = 0;
    uint64_t size = 0;  // read: 0 = to the end of the flash
    uint64_t flashSize = 0;
    std::string file;
    bool noErase = false;
    bool noVerify = false;
    bool chip = false;
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

int RunVerb(SpiVerb verb, const SpiOptions& o, const std::vector<uint8_t>& input,
            OutputFile& output, const FlashGeometry& g, const Target& t) {
    CallResult result;
    PhaseBars bars;
    const WriteOptions options{!o.noErase, !o.noVerify};
    WriteReport report;
    Stopwatch watch;
    const auto address = static_cast<uint32_t>(t.address);
    const auto count = static_cast<uint32_t>(t.count);
    std::string error;
    switch (verb) {
        case SpiVerb::kRead: {
            std::vector<uint8_t> data(count);
            const auto sink = bars.Sink();
            if (!FlashRead(address, data.data(), count, result,
                           [&](uint32_t done) { sink("reading", done, count); })) {
                return Fail(kExitFailed, "read failed: " + result.Describe());
            }
            bars.End();
            if (!output.Write(data.data(), count, error)) return Fail(kExitFile, error);
            std::printf("read %u bytes from %s into %s in %.1f ms\n", count, Hex6(address).c_str(),
                        o.file.c_str(), watch.Milliseconds());
            return kExitOk;
        }
        case SpiVerb::kWrite:
            if (!WriteRange(g, address, input.data(), count, options, report, result,
                            bars.Sink())) {
                return Fail(kExitFailed, "write failed: " + result.Describe());
            }
            bars.End();
            std::printf("wrote %u bytes at %s from %s in %.1f ms: %s\n", count,
                        Hex6(address).c_str(), o.file.c_str(), watch.Milliseconds(),
                        WriteSummary(report).c_str());
            return kExitOk;
        case SpiVerb::kErase: {
            const bool ok =
                o.chip ? EraseChip(g, options.verify, report, result, bars.Sink())
                       : EraseRange(g, address, count, options, report, result, bars.Sink());
            if (!ok) return Fail(kExitFailed, "erase failed: " + result.Describe());
            bars.End();
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
        case SpiVerb::kVerify:
            if (!VerifyRange(address, input.data(), count, result, bars.Sink())) {
                return Fail(kExitFailed, result.Describe());
            }
            bars.End();
            std::printf("verified %u bytes at %s against %s in %.1f ms\n", count,
                        Hex6(address).c_str(), o.file.c_str(), watch.Milliseconds());
            return kExitOk;
        case SpiVerb::kId:
            break;
    }
    return kExitOk;
}

int RunSpi(SpiVerb verb, const GlobalOptions& options, const SpiOptions& o) {
    // Files first: nothing reaches the cable when one cannot be read or written.
    std::vector<uint8_t> input;
    OutputFile output;
    std::string error;
    if (verb == SpiVerb::kWrite || verb == SpiVerb::kVerify) {
        if (!ReadInputFile(o.file, input, error)) return Fail(kExitFile, error);
        if (input.empty())
            return Fail(kExitUsage, o.file + " is empty: nothing to " +
                                        (verb == SpiVerb::kWrite ? "write" : "verify"));
    }
    if (verb == SpiVerb::kRead && !output.Open(o.file, error)) return Fail(kExitFile, error);
    if (verb == SpiVerb::kErase && !o.chip && o.size == 0) {
        return Fail(kExitUsage, "spi erase needs --size N with --address, or --chip");
    }
    // A size given on the command line settles the range before the cable is opened.
    if (o.flashSize) {
        FlashGeometry given;
        given.size = o.flashSize;
        given.sizeSource = "--flash-size";
        std::string problem;
        RangeOf(verb, o, input.size(), given, problem);
        if (!problem.empty()) return Fail(kExitUsage, problem);
    }

    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenMpsse(result)) return session.Finish(Fail(kExitFailed, result.Describe()));
    uint8_t id[3] = {0, 0, 0};
    std::optional<FlashGeometry> sfdp;
    FlashGeometry geometry;
    if (!ProbeFlash(o.flashSize, id, sfdp, geometry, result)) {
        return session.Finish(
            Fail(kExitFailed, "identifying the flash failed: " + result.Describe()));
    }
    if (verb == SpiVerb::kId) {
        PrintId(id, sfdp, geometry);
        return session.Finish(kExitOk);
    }
    std::string problem;
    const Target target = RangeOf(verb, o, input.size(), geometry, problem);
    if (!problem.empty()) return session.Finish(Fail(kExitUsage, problem));
    return session.Finish(RunVerb(verb, o, input, output, geometry, target));
}

}  // namespace

Command AddSpiCommand(CLI::App& root) {
    auto o = std::make_shared<SpiOptions>();
    CLI::App* app = root.add_subcommand("spi", "SPI flash on chip select GPIOL2");
    app->require_subcommand(1);
    app->fallthrough();
    app->add_option("--flash-size", o->flashSize,
                    "The flash's size in bytes, in place of what its SFDP table or JEDEC ID "
                    "announces")
        ->check(CLI::PositiveNumber);
    auto addVerb = [&](const char* name, const char* help) {
        CLI::App* verb = app->add_subcommand(name, help);
        verb->fallthrough();
        return verb;
    };
    CLI::App* id = addVerb("id", "Read the flash's JEDEC ID and SFDP table");
    CLI::App* read = addVerb("read", "Read the flash into a file");
    read->add_option("file", o->file, "Output file")->required();
    read->add_option("--address", o->address, "First byte address")->capture_default_str();
    read->add_option("--size", o->size, "Bytes to read (default: to the end of the flash)")
        ->check(CLI::PositiveNumber);
    CLI::App* write = addVerb(
        "write",
        "Write a file into the flash, keeping the rest of every sector it touches, and verify it");
    write->add_option("file", o->file, "Input file")->required();
    write->add_option("--address", o->address, "First byte address")->capture_default_str();
    write->add_flag("--no-erase", o->noErase, "Program over what the sectors hold, never erase");
    write->add_flag("--no-verify", o->noVerify, "Do not read the sectors back");
    write->add_flag("--verify")->description("Read the sectors back and compare (the default)");
    CLI::App* erase =
        addVerb("erase", "Erase a range (keeping the rest of its sectors) or the chip");
    CLI::Option* at = erase->add_option("--address", o->address, "First byte address");
    CLI::Option* size =
        erase->add_option("--size", o->size, "Bytes to erase")->check(CLI::PositiveNumber);
    erase->add_flag("--chip", o->chip, "Erase the whole flash (0xC7)")->excludes(at, size);
    erase->add_flag("--no-verify", o->noVerify, "Do not read the erased bytes back");
    CLI::App* verify = addVerb("verify", "Compare the flash with a file");
    verify->add_option("file", o->file, "File the flash should hold")->required();
    verify->add_option("--address", o->address, "First byte address")->capture_default_str();
    return {app, [o, id, read, write, erase](const GlobalOptions& options) {
                const SpiVerb verb = id->parsed()      ? SpiVerb::kId
                                     : read->parsed()  ? SpiVerb::kRead
                                     : write->parsed() ? SpiVerb::kWrite
                                     : erase->parsed() ? SpiVerb::kErase
                                                       : SpiVerb::kVerify;
                return RunSpi(verb, options, *o);
            }};
}

}  // namespace kestrel

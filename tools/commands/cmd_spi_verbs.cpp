// kestrel spi's verbs on a settled flash: progress bars per phase, the summaries of what a write or
// erase did (and, when it failed, what it changed), the ID and status registers of spi id.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "commands/spi_verbs.h"
#include "common/report.h"
#include "flash/flash_protect.h"
#include "flash/flash_writer.h"
#include "flash/spi_ops.h"

namespace kestrel::spi_verbs {
namespace {

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

void PrintId(const uint8_t id[3], const std::optional<FlashGeometry>& sfdp,
             const FlashGeometry& g) {
    PrintJedecId(id);
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
        std::printf("flash size: unknown (%s; give --flash-size)\n", UnknownSizeText(g).c_str());
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

// What every verb's run holds: the range (the flash's size keeps it below 4 GiB), the first
// failure, the bars and the time taken.
struct VerbRun {
    explicit VerbRun(const Target& t)
        : address(static_cast<uint32_t>(t.address)), count(static_cast<uint32_t>(t.count)) {}
    uint32_t address;
    uint32_t count;
    CallResult result;
    PhaseBars bars;
    WriteReport report;
    Stopwatch watch;
};

int RunRead(const SpiOptions& o, OutputFile& output, Flash& flash, const Target& t) {
    VerbRun run(t);
    auto& [address, count, result, bars, report, watch] = run;
    std::vector<uint8_t> data(count);
    const auto sink = bars.Sink();
    if (!FlashRead(flash, address, data.data(), count, result,
                   [&sink, total = count](uint32_t done) { sink("reading", done, total); })) {
        return FailCall(result, "read failed");
    }
    bars.End();
    std::string error;
    if (!output.Write(data.data(), count, error) || !output.Commit(error)) {
        return Fail(kExitFile, error);
    }
    report::Set("bytes_read", json::Number(count));
    std::fprintf(Report(output), "read %u bytes from %s into %s in %.1f ms\n", count,
                 AddressText(address).c_str(), o.file.c_str(), watch.Milliseconds());
    return kExitOk;
}

int RunWrite(const SpiOptions& o, const std::vector<uint8_t>& input, Flash& flash,
             const Target& t) {
    VerbRun run(t);
    auto& [address, count, result, bars, report, watch] = run;
    if (!WriteRange(flash, address, input.data(), count, {!o.noErase, !o.noVerify}, report, result,
                    bars.Sink())) {
        return FailCall(Explained(result, DescribeChanges(report)), "write failed");
    }
    bars.End();
    ReportWrite(report);
    std::printf("wrote %u bytes at %s from %s in %.1f ms: %s\n", count,
                AddressText(address).c_str(), o.file.c_str(), watch.Milliseconds(),
                WriteSummary(report).c_str());
    return kExitOk;
}

int RunErase(const SpiOptions& o, Flash& flash, const Target& t) {
    VerbRun run(t);
    auto& [address, count, result, bars, report, watch] = run;
    const bool ok = o.chip ? EraseChip(flash, !o.noVerify, report, result, bars.Sink())
                           : EraseRange(flash, address, count, {true, !o.noVerify}, report, result,
                                        bars.Sink());
    if (!ok) return FailCall(Explained(result, DescribeChanges(report)), "erase failed");
    bars.End();
    ReportWrite(report);
    if (o.chip) {
        std::printf("erased the whole %s flash in %.1f ms%s\n",
                    SizeText(flash.geometry.size).c_str(), watch.Milliseconds(),
                    Verified(report).c_str());
        return kExitOk;
    }
    std::printf("erased %s to %s (%u bytes) in %.1f ms: %s\n", AddressText(address).c_str(),
                AddressText(t.address + t.count - 1).c_str(), count, watch.Milliseconds(),
                EraseSummary(report).c_str());
    return kExitOk;
}

int RunVerify(const SpiOptions& o, const std::vector<uint8_t>& input, Flash& flash,
              const Target& t) {
    VerbRun run(t);
    auto& [address, count, result, bars, report, watch] = run;
    if (!VerifyRange(flash, address, input.data(), count, result, bars.Sink())) {
        return FailCall(result);
    }
    bars.End();
    report::Set("bytes_verified", json::Number(count));
    std::printf("verified %u bytes at %s against %s in %.1f ms\n", count,
                AddressText(address).c_str(), o.file.c_str(), watch.Milliseconds());
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

}  // namespace

void PrintJedecId(const uint8_t id[3]) {
    std::printf("JEDEC ID %s: manufacturer 0x%02X, type 0x%02X, capacity code 0x%02X",
                HexBytes(id, 3).c_str(), id[0], id[1], id[2]);
    if (const uint64_t size = SizeFromJedec(id)) std::printf(" (%s)", SizeText(size).c_str());
    std::printf("\n");
}

// A failed call's description with what else the user must know after it.
CallResult Explained(CallResult result, const std::string& more) {
    result.detail = result.Describe() + "; " + more;
    return result;
}

// "kestrel: note: ..." on standard error, and a warning for --json.
void Note(const std::string& text) {
    if (text.empty()) return;
    EndProgressLine();
    std::fprintf(stderr, "kestrel: note: %s\n", text.c_str());
    report::Warning(text);
}

int RunVerb(SpiVerb verb, const SpiOptions& o, const std::vector<uint8_t>& input,
            OutputFile& output, Flash& flash, const Target& t) {
    switch (verb) {
        case SpiVerb::kRead:
            return RunRead(o, output, flash, t);
        case SpiVerb::kWrite:
            return RunWrite(o, input, flash, t);
        case SpiVerb::kErase:
            return RunErase(o, flash, t);
        case SpiVerb::kVerify:
            return RunVerify(o, input, flash, t);
        case SpiVerb::kId:
            break;
    }
    return kExitOk;
}

int RunId(Flash& flash, const uint8_t id[3], const std::optional<FlashGeometry>& sfdp) {
    const FlashGeometry& g = flash.geometry;
    PrintId(id, sfdp, g);
    FlashProtection protection;
    CallResult result;
    if (!ReadProtection(flash, id, g.size, protection, result) ||
        !ReadThirdRegister(flash, protection, result)) {
        return FailCall(result);
    }
    std::printf("protection: %s\n", DescribeProtection(protection).c_str());
    report::Set("protection", json::Object({{"text", json::String(DescribeProtection(protection))},
                                            {"registers", RegistersJson(protection)},
                                            {"first", json::Number(protection.first)},
                                            {"end", json::Number(protection.end)},
                                            {"locked", json::Bool(protection.locked)}}));
    return kExitOk;
}

}  // namespace kestrel::spi_verbs

// The flash job's verbs on a settled flash: progress per phase, the summaries of what a write or
// erase did (and, when it failed, what it changed), the ID and status registers of the id verb.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/spi_job.h"
#include "flash/flash_protect.h"
#include "flash/flash_writer.h"
#include "flash/spi_ops.h"

namespace kestrel::engine {
namespace {

// printf into a std::string, for the job's lines.
template <typename... Args>
std::string Format(const char* format, Args... args) {
    std::string text(std::snprintf(nullptr, 0, format, args...), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

void IdLines(const uint8_t id[3], const std::optional<FlashGeometry>& sfdp, const FlashGeometry& g,
             Job& job) {
    job.Line(JedecIdText(id));
    job.Line(sfdp ? Format("SFDP: %s, erase %s with 0x%02X, pages of %u bytes",
                           SizeText(sfdp->size).c_str(), SizeText(sfdp->eraseSize).c_str(),
                           sfdp->eraseOpcode, sfdp->pageSize)
                  : "SFDP: not answered");
    if (g.size) {
        job.Line(Format("flash size: %s (%llu bytes, from %s)", SizeText(g.size).c_str(),
                        static_cast<unsigned long long>(g.size), g.sizeSource.c_str()));
    } else {
        job.Line("flash size: unknown (" + UnknownSizeText(g) + "; give --flash-size)");
    }
    const char* addressing[] = {"3-byte addresses", "4-byte opcodes",
                                "4-byte mode (0xB7 before a job, 0xE9 after)"};
    job.Line(std::string("addressing: ") + addressing[static_cast<int>(g.addressing)]);
    if (g.timesFromSfdp) {
        job.Line(
            Format("longest waits (SFDP): page program %.1f ms, sector erase %.0f ms, chip "
                   "erase %.0f s",
                   g.timeouts.program / 1e3, g.timeouts.sector / 1e3, g.timeouts.chip / 1e6));
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

// The byte counts of a write or erase.
void ReportWrite(const WriteReport& r, Job& job) {
    job.Field("bytes_erased", json::Number(r.erasedBytes));
    job.Field("bytes_programmed", json::Number(r.programmedBytes));
    job.Field("bytes_skipped", json::Number(r.skippedBytes));
    job.Field("bytes_verified", json::Number(r.verifiedBytes));
}

// What every verb's run holds: the range (the flash's size keeps it below 4 GiB), the first
// failure, the progress sink and the time taken.
struct VerbRun {
    VerbRun(const Target& t, Job& job)
        : address(static_cast<uint32_t>(t.address)),
          count(static_cast<uint32_t>(t.count)),
          progress([&job](const char* phase, uint64_t done, uint64_t total) {
              job.Progress(phase, done, total);
          }) {}
    uint32_t address;
    uint32_t count;
    CallResult result;
    PhaseProgressFn progress;
    WriteReport report;
    Stopwatch watch;
};

int RunRead(const kestrel_spi_job& r, Flash& flash, const Target& t, Job& job) {
    VerbRun run(t, job);
    std::vector<uint8_t> data(run.count);
    const PhaseProgressFn& sink = run.progress;
    if (!FlashRead(flash, run.address, data.data(), run.count, run.result,
                   [&sink, total = run.count](uint32_t done) { sink("reading", done, total); })) {
        return job.FailCall(run.result, "read failed");
    }
    if (const int code = r.receive(r.receive_context, data.data(), run.count)) return code;
    job.Field("bytes_read", json::Number(run.count));
    job.Line(Format("read %u bytes from %s into %s in %.1f ms", run.count,
                    AddressText(run.address).c_str(), DataName(r).c_str(),
                    run.watch.Milliseconds()));
    return kExitOk;
}

int RunWrite(const kestrel_spi_job& r, Flash& flash, const Target& t, Job& job) {
    VerbRun run(t, job);
    if (!WriteRange(flash, run.address, r.data, run.count, {!r.no_erase, !r.no_verify}, run.report,
                    run.result, run.progress)) {
        return job.FailCall(Explained(run.result, DescribeChanges(run.report)), "write failed");
    }
    ReportWrite(run.report, job);
    job.Line(Format("wrote %u bytes at %s from %s in %.1f ms: %s", run.count,
                    AddressText(run.address).c_str(), DataName(r).c_str(), run.watch.Milliseconds(),
                    WriteSummary(run.report).c_str()));
    return kExitOk;
}

int RunErase(const kestrel_spi_job& r, Flash& flash, const Target& t, Job& job) {
    const FlashGeometry& g = flash.geometry;
    VerbRun run(t, job);
    const bool ok = r.chip ? EraseChip(flash, !r.no_verify, run.report, run.result, run.progress)
                           : EraseRange(flash, run.address, run.count, {true, !r.no_verify},
                                        run.report, run.result, run.progress);
    if (!ok)
        return job.FailCall(Explained(run.result, DescribeChanges(run.report)), "erase failed");
    ReportWrite(run.report, job);
    if (r.chip) {
        job.Line(Format("erased the whole %s flash in %.1f ms%s", SizeText(g.size).c_str(),
                        run.watch.Milliseconds(), Verified(run.report).c_str()));
        return kExitOk;
    }
    job.Line(Format("erased %s to %s (%u bytes) in %.1f ms: %s", AddressText(run.address).c_str(),
                    AddressText(t.address + t.count - 1).c_str(), run.count,
                    run.watch.Milliseconds(), EraseSummary(run.report).c_str()));
    return kExitOk;
}

int RunVerify(const kestrel_spi_job& r, Flash& flash, const Target& t, Job& job) {
    VerbRun run(t, job);
    if (!VerifyRange(flash, run.address, r.data, run.count, run.result, run.progress)) {
        return job.FailCall(run.result);
    }
    job.Field("bytes_verified", json::Number(run.count));
    job.Line(Format("verified %u bytes at %s against %s in %.1f ms", run.count,
                    AddressText(run.address).c_str(), DataName(r).c_str(),
                    run.watch.Milliseconds()));
    return kExitOk;
}

// The status registers the id verb read, each with its read command and value.
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

std::string JedecIdText(const uint8_t id[3]) {
    std::string text = Format("JEDEC ID %s: manufacturer 0x%02X, type 0x%02X, capacity code 0x%02X",
                              HexBytes(id, 3).c_str(), id[0], id[1], id[2]);
    if (const uint64_t size = SizeFromJedec(id)) text += " (" + SizeText(size) + ")";
    return text;
}

CallResult Explained(CallResult result, const std::string& more) {
    result.detail = result.Describe() + "; " + more;
    return result;
}

int RunSpiVerb(const kestrel_spi_job& r, Flash& flash, const Target& t, Job& job) {
    switch (r.verb) {
        case KESTREL_SPI_READ:
            return RunRead(r, flash, t, job);
        case KESTREL_SPI_WRITE:
            return RunWrite(r, flash, t, job);
        case KESTREL_SPI_ERASE:
            return RunErase(r, flash, t, job);
        case KESTREL_SPI_VERIFY:
            return RunVerify(r, flash, t, job);
        default:
            return kExitOk;
    }
}

int RunSpiId(Flash& flash, const uint8_t id[3], const std::optional<FlashGeometry>& sfdp,
             Job& job) {
    const FlashGeometry& g = flash.geometry;
    IdLines(id, sfdp, g, job);
    FlashProtection protection;
    CallResult result;
    if (!ReadProtection(flash, id, g.size, protection, result) ||
        !ReadThirdRegister(flash, protection, result)) {
        return job.FailCall(result);
    }
    job.Line("protection: " + DescribeProtection(protection));
    job.Field("protection", json::Object({{"text", json::String(DescribeProtection(protection))},
                                          {"registers", RegistersJson(protection)},
                                          {"first", json::Number(protection.first)},
                                          {"end", json::Number(protection.end)},
                                          {"locked", json::Bool(protection.locked)}}));
    return kExitOk;
}

}  // namespace kestrel::engine

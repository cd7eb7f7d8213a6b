#include "engine/spi_job.h"

#include <algorithm>

#include "common/inputs.h"
#include "common/tck.h"
#include "flash/flash_clock.h"
#include "flash/flash_job.h"
#include "flash/flash_stop.h"
#include "flash/spi_ops.h"

namespace kestrel::engine {
namespace {

// The bounds of a job's numbers: the smallest erase any flash has, the largest flash and the
// largest address a job takes (ranges are then held to the flash's own size).
constexpr uint64_t kSectorBytes = 4096;
constexpr uint64_t kMaxFlashBytes = uint64_t{1} << 32;
constexpr uint64_t kMaxAddress = 0xFFFFFFFF;

bool Writes(const kestrel_spi_job& r) {
    return r.verb == KESTREL_SPI_WRITE || r.verb == KESTREL_SPI_ERASE;
}

// A number of the request outside its bounds, in words; empty when all are inside.
std::string NumberProblem(const kestrel_spi_job& r) {
    if (r.address > kMaxAddress) return "the address must be at most " + AddressText(kMaxAddress);
    if (r.size > kMaxInputBytes) return "the size must be at most " + SizeText(kMaxInputBytes);
    if (r.data_size > kMaxInputBytes) {
        return "the data must be at most " + SizeText(kMaxInputBytes);
    }
    if (r.flash_size && (r.flash_size < kSectorBytes || r.flash_size > kMaxFlashBytes ||
                         r.flash_size % kSectorBytes)) {
        return "the flash size must be a whole number of 4 KiB sectors up to 4 GiB";
    }
    if (r.clock_hz != 0 && !(r.clock_hz >= TckHz(kMaxDivisor) * (1 - 1e-9) &&
                             r.clock_hz <= kFastestTckHz * (1 + 1e-9))) {
        return "the clock must lie between " + RateText(TckHz(kMaxDivisor)) + " and " +
               RateText(kFastestTckHz);
    }
    if (r.divisor > kMaxDivisor) return "the divisor must be at most 65535";
    return "";
}

// How the job's end went: the protection it cleared put back (a line after a success, a warning
// after a failure), or what it left changed and how to undo it.
int FinishJob(const FlashJob& flashJob, bool putBack, const CallResult& after, int code, Job& job) {
    if (flashJob.clearSent) job.Field("protection_restored", json::Bool(putBack));
    const std::string outcome = EndOutcome(flashJob, putBack);
    if (putBack) {
        if (!outcome.empty() && code == kExitOk) {
            job.Line(outcome);
        } else {
            job.Warning(outcome);
        }
        return code;
    }
    const int failed = job.FailCall(outcome.empty() ? after : Explained(after, outcome),
                                    "putting the flash back failed");
    return code ? code : failed;
}

// The verb between the flash job's begin and end. The verb stops at a safe point when the caller
// or (a write or erase that handles them) a signal asks, and ends as interrupted once the job's
// end has put things back.
int RunFlashJob(const kestrel_spi_job& r, const uint8_t id[3], Flash& flash, const Target& t,
                Job& job) {
    const FlashGeometry& g = flash.geometry;
    // Every verb stops when the caller asks (a read between two groups), but only a write or
    // erase holds a signal back: a read has nothing to put back.
    std::optional<StopAtSafePoint> stop(std::in_place, Writes(r) && r.handle_signals != 0);
    if (job.StopAsked()) AskToStop();  // asked while the flash was probed: heard at once
    // The sectors a write or erase touches, checked against the protection before any of them.
    const uint64_t sector = g.eraseSize;
    const uint64_t first = r.chip ? 0 : t.address / sector * sector;
    const uint64_t end =
        r.chip ? g.size : std::min(g.size, (t.address + t.count + sector - 1) / sector * sector);
    FlashJob flashJob;
    CallResult result;
    int code =
        BeginFlashJob(flash, id, g.size, first, end, Writes(r), r.unprotect != 0, flashJob, result)
            ? RunSpiVerb(r, flash, t, job)
            : job.FailCall(result);
    CallResult after;
    const bool putBack = EndFlashJob(flash, flashJob, after);
    stop.reset();
    code = FinishJob(flashJob, putBack, after, code, job);
    return StopAsked() ? kExitInterrupted : code;
}

// The flash as the request and the part describe it: a flash that answers, and a size that the
// part does not contradict.
int SettleFlash(const kestrel_spi_job& r, const uint8_t id[3], FlashGeometry& g, Job& job) {
    if (NoFlashAnswered(id)) {
        if (r.verb == KESTREL_SPI_ID) job.Line(JedecIdText(id));
        return job.Fail(kExitUnavailable, NoAnswerText(id));
    }
    if (const std::string problem = SettleSize(r.flash_size, g); !problem.empty()) {
        return job.Fail(kExitUsage, problem);
    }
    job.Warning(SizeNote(g));
    job.Field("flash", json::Object({{"id", json::String(HexBytes(id, 3))},
                                     {"size", json::Number(g.size)},
                                     {"erase_size", json::Number(g.eraseSize)}}));
    return kExitOk;
}

// The flash's clock for the job (FTDI_SetClk after the open's own divisor, which the probe used):
// the one asked for or the fastest, refused when faster than the part's read allows. The flash
// field gains the rate and divisor.
int SetFlashClock(const kestrel_spi_job& r, const uint8_t id[3], const FlashGeometry& g,
                  uint32_t& divisor, Job& job) {
    ClockRequest request;
    if (r.divisor_given) request.divisor = r.divisor;
    if (r.clock_hz > 0) request.hz = r.clock_hz;
    std::string problem;
    divisor = ChooseDivisor(request, ReadClockLimitOf(id), problem);
    if (!problem.empty()) return job.Fail(kExitUsage, problem);
    CallResult result;
    if (divisor != r.divisor && !Check(FTDI_SetClk(divisor), "FTDI_SetClk", result)) {
        return job.FailCall(result, "setting the flash's clock failed");
    }
    job.Field("flash", json::Object({{"id", json::String(HexBytes(id, 3))},
                                     {"size", json::Number(g.size)},
                                     {"erase_size", json::Number(g.eraseSize)},
                                     {"clock", json::String(RateText(TckHz(divisor)))},
                                     {"divisor", json::Number(divisor)}}));
    return kExitOk;
}

// The range on the settled flash, then the clock and the job; the clock the cable was opened with
// is put back afterwards unless the caller closes the cable next.
int RunOnRange(const kestrel_spi_job& r, const uint8_t id[3], Flash& flash, Job& job) {
    const FlashGeometry& g = flash.geometry;
    std::string problem;
    if (r.flash_size % g.eraseSize != 0) {
        problem = "--flash-size " + std::to_string(r.flash_size) + " is not a whole number of " +
                  "the flash's " + SizeText(g.eraseSize) + " sectors";
    }
    const Target target = problem.empty() ? SpiRange(r, g, problem) : Target{};
    if (!problem.empty()) return job.Fail(kExitUsage, problem);
    uint32_t divisor = r.divisor;
    if (const int code = SetFlashClock(r, id, g, divisor, job)) return code;
    const int code = RunFlashJob(r, id, flash, target, job);
    CallResult result;
    if (!r.keep_clock && divisor != r.divisor &&
        !Check(FTDI_SetClk(r.divisor), "FTDI_SetClk", result)) {
        return code ? code : job.FailCall(result, "putting the cable's clock back failed");
    }
    return code;
}

}  // namespace

std::string DataName(const kestrel_spi_job& r) { return r.name ? r.name : "the data"; }

int CheckSpiJob(const kestrel_spi_job& r, Job& job) {
    if (r.verb < KESTREL_SPI_ID || r.verb > KESTREL_SPI_VERIFY) {
        return job.Fail(kExitUsage, "unknown flash job " + std::to_string(r.verb));
    }
    if (const std::string problem = NumberProblem(r); !problem.empty()) {
        return job.Fail(kExitUsage, problem);
    }
    const bool reads = r.verb == KESTREL_SPI_WRITE || r.verb == KESTREL_SPI_VERIFY;
    if (reads && (r.data_size == 0 || !r.data)) {
        return job.Fail(kExitUsage, DataName(r) + " is empty: nothing to " +
                                        (r.verb == KESTREL_SPI_WRITE ? "write" : "verify"));
    }
    if (r.verb == KESTREL_SPI_READ && !r.receive) {
        return job.Fail(kExitUsage, "a read needs somewhere for its bytes");
    }
    if (r.divisor_given && r.clock_hz > 0) {
        return job.Fail(kExitUsage, "give --clock or --divisor, not both");
    }
    if (r.verb == KESTREL_SPI_ERASE && !r.chip && r.size == 0) {
        return job.Fail(kExitUsage, "spi erase needs --size N with --address, or --chip");
    }
    if (r.verb == KESTREL_SPI_ERASE && r.chip && (r.address || r.size)) {
        return job.Fail(kExitUsage,
                        "spi erase --chip erases the whole flash: give it no "
                        "--address or --size, or give --size N with --address");
    }
    if (r.flash_size) {
        FlashGeometry given;
        given.size = r.flash_size;
        given.sizeSource = "--flash-size";
        std::string problem;
        SpiRange(r, given, problem);
        if (!problem.empty()) return job.Fail(kExitUsage, problem);
    }
    return kExitOk;
}

Target SpiRange(const kestrel_spi_job& r, const FlashGeometry& g, std::string& problem) {
    Target t{r.address, 0};
    switch (r.verb) {
        case KESTREL_SPI_READ:
            if (r.size == 0 && g.size > 0 && r.address >= g.size) {
                problem = "--address " + AddressText(r.address) + " is past the end of the " +
                          SizeText(g.size) + " flash (" + std::to_string(g.size) + " bytes, from " +
                          g.sizeSource + ")";
                return t;
            }
            t.count = r.size ? r.size : g.size - r.address;
            break;
        case KESTREL_SPI_WRITE:
        case KESTREL_SPI_VERIFY:
            t.count = r.data_size;
            if (g.size > 0 && r.data_size > g.size) {
                problem = DataName(r) + " (" + std::to_string(r.data_size) +
                          " bytes) is larger than the " + SizeText(g.size) + " flash (" +
                          std::to_string(g.size) + " bytes, from " + g.sizeSource + ")";
                return t;
            }
            break;
        case KESTREL_SPI_ERASE:
            if (r.chip) {
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
            t.count = r.size;
            break;
        default:
            return t;
    }
    problem = RangeProblem(t.address, t.count, g);
    return t;
}

int RunSpiJob(const kestrel_spi_job& r, Job& job) {
    if (const int code = CheckSpiJob(r, job)) return code;
    uint8_t id[3] = {0, 0, 0};
    std::optional<FlashGeometry> sfdp;
    FlashGeometry geometry;
    CallResult result;
    Flash flash;  // the job's flash and buffers; the probe reads through them
    if (!ProbeFlash(flash, id, sfdp, geometry, result)) {
        return job.FailCall(result, "identifying the flash failed");
    }
    if (const int code = SettleFlash(r, id, geometry, job)) return code;
    flash.geometry = geometry;
    if (r.verb == KESTREL_SPI_ID) return RunSpiId(flash, id, sfdp, job);
    return RunOnRange(r, id, flash, job);
}

}  // namespace kestrel::engine

#include "flash/flash_writer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "flash/flash_plan.h"
#include "flash/flash_stop.h"
#include "flash/page_pipeline.h"
#include "flash/spi_ops.h"

namespace kestrel {
namespace {

ProgressFn Phase(const PhaseProgressFn& progress, const char* phase, uint64_t total) {
    if (!progress) return {};
    return [progress, phase, total](uint32_t done) { progress(phase, done, total); };
}

// Bytes of [a, a + n) that also lie in [b, b + m).
uint64_t Overlap(uint64_t a, uint64_t n, uint64_t b, uint64_t m) {
    const uint64_t start = std::max(a, b);
    const uint64_t end = std::min(a + n, b + m);
    return end > start ? end - start : 0;
}

// What erase to use at `base` for plans[s] on: a block erase where a whole aligned block starts
// there and every sector of it must be erased, else the sector erase. Returns the bytes erased.
uint32_t EraseAt(const FlashGeometry& g, uint32_t base, uint32_t left,
                 const std::vector<SectorPlan>& plans, size_t s) {
    if (g.blockSize <= g.eraseSize || base % g.blockSize != 0 || left < g.blockSize) {
        return g.eraseSize;
    }
    const size_t sectors = g.blockSize / g.eraseSize;
    for (size_t i = s; i < s + sectors; ++i) {
        if (!plans[i].erase) return g.eraseSize;
    }
    return g.blockSize;
}

// Adds one sector's pages to the batch, which is programmed after the sector's erase (when the
// plan has one) has been done.
void PlanPrograms(uint32_t base, const uint8_t* current, const uint8_t* wanted,
                  const SectorPlan& plan, uint32_t rangeStart, uint32_t rangeCount,
                  PageBatch& batch, WriteReport& report) {
    if (!plan.erase && plan.programs.empty()) {
        ++report.untouchedSectors;
        return;
    }
    for (const PageProgram& program : plan.programs) {
        const std::vector<uint8_t> bytes = ProgramBytes(current, wanted, plan.erase, program);
        batch.Add(base + program.offset, bytes.data(), program.length);
        ++report.pagePrograms;
        report.programmedBytes += program.length;
        report.skippedBytes -=
            Overlap(base + program.offset, program.length, rangeStart, rangeCount);
    }
}

// The pages planned since the last erase, programmed together (page_pipeline.h) before the next
// erase, at the end, or when they hold kBatchBytes; "writing" progress counts up to the end of the
// last page programmed. Each batch moves the report's marks: the span up to the sectors it
// completes is done, and its pages were touched even when the batch fails.
struct Programmer {
    static constexpr size_t kBatchBytes = 1u << 20;

    Flash& flash;
    uint32_t first;  // the span's start
    uint32_t span;
    const PhaseProgressFn& progress;
    WriteReport& report;
    PageBatch batch;
    PipelineState pipeline;
    uint32_t planned = 0;  // the end of the sectors whose pages are in the batch, from `first`

    bool Flush(CallResult& r) {
        if (!batch.pages.empty()) {
            const PendingPage& last = batch.pages.back();
            report.touchedEnd = std::max<uint64_t>(report.touchedEnd, last.address + last.length);
            std::function<void(size_t)> told;
            if (progress) {
                told = [this](size_t done) {
                    const PendingPage& page = batch.pages[done - 1];
                    progress("writing", page.address + page.length - first, span);
                };
            }
            const bool ok = ProgramPages(flash, batch, pipeline, r, told);
            batch.Clear();
            if (!ok) return false;
        }
        report.doneEnd = uint64_t{first} + planned;
        report.touchedEnd = std::max(report.touchedEnd, report.doneEnd);
        return true;
    }
    // Progress up to `at`, or to the first batched page while pages wait.
    void Tell(uint32_t at) const {
        if (!progress) return;
        progress("writing", batch.pages.empty() ? at : batch.pages.front().address - first, span);
    }
};

// The sectors of the span, each planned from what it holds and what it must hold.
std::vector<SectorPlan> PlanSectors(const FlashGeometry& g, const std::vector<uint8_t>& current,
                                    const std::vector<uint8_t>& wanted, bool mayErase) {
    std::vector<SectorPlan> plans;
    const auto span = static_cast<uint32_t>(current.size());
    for (uint32_t at = 0; at < span; at += g.eraseSize) {
        const uint32_t size = std::min(g.eraseSize, span - at);
        plans.push_back(PlanSector(&current[at], &wanted[at], size, g.pageSize, mayErase));
    }
    return plans;
}

// One chip erase for a span that is the whole chip.
bool EraseWholeChip(Flash& flash, uint32_t span, size_t sectors, WriteReport& report,
                    CallResult& r) {
    report.touchedEnd = span;
    if (!KeepGoing(r) || !FlashChipErase(flash, r)) return false;
    report.erasedSectors += sectors;
    report.erasedBytes += span;
    return true;
}

// Erases and programs the span's sectors as planned, in address order: the largest erase that
// fits each stretch of sectors that must be erased, and the pages batched between erases (the
// pipeline sends many in one USB write).
bool EraseAndProgram(Flash& flash, uint32_t first, const std::vector<uint8_t>& current,
                     const std::vector<uint8_t>& wanted, const std::vector<SectorPlan>& plans,
                     uint32_t address, uint32_t count, WriteReport& report, CallResult& r,
                     const PhaseProgressFn& progress) {
    const FlashGeometry& g = flash.geometry;
    const auto span = static_cast<uint32_t>(current.size());
    // The whole chip to erase, where a chip erase erases exactly the span: one chip erase.
    const bool wholeChip =
        first == 0 && span == g.size && SizeIsThePart(g) &&
        std::all_of(plans.begin(), plans.end(), [](const SectorPlan& p) { return p.erase; });
    if (wholeChip && !EraseWholeChip(flash, span, plans.size(), report, r)) return false;
    uint64_t erasedUpTo = wholeChip ? span : 0;  // offsets below this are erased already
    Programmer programmer{flash, first, span, progress, report, {}, {}};
    for (uint32_t at = 0, s = 0; at < span; at += g.eraseSize, ++s) {
        const uint32_t size = std::min(g.eraseSize, span - at);
        if (plans[s].erase && at >= erasedUpTo) {
            if (!programmer.Flush(r) || !KeepGoing(r)) return false;
            const uint32_t bytes = EraseAt(g, first + at, span - at, plans, s);
            report.touchedEnd = std::max<uint64_t>(report.touchedEnd, first + at + bytes);
            const uint8_t opcode = bytes > g.eraseSize ? g.blockOpcode : g.eraseOpcode;
            if (!FlashErase(flash, opcode, first + at, r)) return false;
            report.erasedSectors += bytes / g.eraseSize;
            report.erasedBytes += bytes;
            erasedUpTo = at + bytes;
        }
        PlanPrograms(first + at, &current[at], &wanted[at], plans[s], address, count,
                     programmer.batch, report);
        programmer.planned = at + size;
        if (programmer.batch.data.size() >= Programmer::kBatchBytes &&
            (!programmer.Flush(r) || !KeepGoing(r))) {
            return false;
        }
        programmer.Tell(at + size);
    }
    return programmer.Flush(r);
}

// Makes the touched sectors of [address, address + count) hold `overlay` (or 0xFF when null)
// over the range, and what they hold elsewhere.
bool Rewrite(Flash& flash, uint32_t address, const uint8_t* overlay, uint32_t count,
             const WriteOptions& options, WriteReport& report, CallResult& r,
             const PhaseProgressFn& progress) {
    const FlashGeometry& g = flash.geometry;
    const uint32_t first = address - address % g.eraseSize;
    const uint64_t end = std::min<uint64_t>(
        (uint64_t{address} + count + g.eraseSize - 1) / g.eraseSize * g.eraseSize, g.size);
    report.spanStart = report.doneEnd = report.touchedEnd = first;
    report.spanEnd = end;
    const auto span = static_cast<uint32_t>(end - first);
    std::vector<uint8_t> current(span);
    if (!FlashRead(flash, first, current.data(), span, r, Phase(progress, "reading", span)))
        return false;
    std::vector<uint8_t> wanted = current;
    if (overlay) {
        std::copy_n(overlay, count, wanted.begin() + (address - first));
    } else {
        std::fill_n(wanted.begin() + (address - first), count, kErasedByte);
    }
    report.skippedBytes = count;
    const std::vector<SectorPlan> plans = PlanSectors(g, current, wanted, options.mayErase);
    if (!EraseAndProgram(flash, first, current, wanted, plans, address, count, report, r,
                         progress)) {
        return false;
    }
    if (progress) progress("writing", span, span);
    if (!options.verify) return true;
    if (!VerifyRange(flash, first, wanted.data(), span, r, progress)) return false;
    report.verifiedBytes = span;
    return true;
}

}  // namespace

bool WriteRange(Flash& flash, uint32_t address, const uint8_t* data, uint32_t count,
                const WriteOptions& options, WriteReport& report, CallResult& result,
                const PhaseProgressFn& progress) {
    return Rewrite(flash, address, data, count, options, report, result, progress);
}

bool EraseRange(Flash& flash, uint32_t address, uint32_t count, const WriteOptions& options,
                WriteReport& report, CallResult& result, const PhaseProgressFn& progress) {
    return Rewrite(flash, address, nullptr, count, options, report, result, progress);
}

bool EraseChip(Flash& flash, bool verify, WriteReport& report, CallResult& result,
               const PhaseProgressFn& progress) {
    report.spanEnd = report.touchedEnd = flash.geometry.size;
    if (!KeepGoing(result) || !FlashChipErase(flash, result)) return false;
    report.doneEnd = flash.geometry.size;
    report.erasedBytes = flash.geometry.size;
    if (!verify) return true;
    const std::vector<uint8_t> blank(flash.geometry.size, kErasedByte);
    if (!VerifyRange(flash, 0, blank.data(), static_cast<uint32_t>(flash.geometry.size), result,
                     progress)) {
        return false;
    }
    report.verifiedBytes = flash.geometry.size;
    return true;
}

std::string DescribeChanges(const WriteReport& r) {
    const uint64_t touched = std::max(r.touchedEnd, r.doneEnd);
    if (touched <= r.spanStart) {
        return "nothing was erased or programmed: " + RangeText(r.spanStart, r.spanEnd) +
               " is as it was";
    }
    std::string text;
    const auto add = [&text](const std::string& part) {
        text += (text.empty() ? "" : "; ") + part;
    };
    if (r.doneEnd > r.spanStart) {
        add(RangeText(r.spanStart, r.doneEnd) + " was rewritten as planned");
    }
    if (touched > r.doneEnd) {
        add(RangeText(r.doneEnd, touched) +
            " was being erased or programmed and may hold neither the old nor the new bytes");
    }
    if (r.spanEnd > touched) add(RangeText(touched, r.spanEnd) + " is as it was");
    return text;
}

bool VerifyRange(Flash& flash, uint32_t address, const uint8_t* expected, uint32_t count,
                 CallResult& result, const PhaseProgressFn& progress) {
    std::vector<uint8_t> back(count);
    if (!FlashRead(flash, address, back.data(), count, result,
                   Phase(progress, "verifying", count))) {
        return false;
    }
    const auto mismatch = std::mismatch(back.begin(), back.end(), expected);
    if (mismatch.first == back.end()) return true;
    const auto at = static_cast<uint32_t>(mismatch.first - back.begin());
    char text[96];
    std::snprintf(text, sizeof text, "verify failed at 0x%06X: expected %02X, read %02X",
                  address + at, expected[at], back[at]);
    return Reject(text, result);
}

}  // namespace kestrel

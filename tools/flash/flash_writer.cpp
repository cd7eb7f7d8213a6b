#include "flash/flash_writer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "flash/flash_plan.h"
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

// Writes one sector from what it holds to what it must hold.
bool WriteSector(const FlashGeometry& g, uint32_t base, const uint8_t* current,
                 const uint8_t* wanted, uint32_t size, const WriteOptions& options,
                 uint32_t rangeStart, uint32_t rangeCount, WriteReport& report, CallResult& r) {
    const SectorPlan plan = PlanSector(current, wanted, size, g.pageSize, options.mayErase);
    if (!plan.erase && plan.programs.empty()) {
        ++report.untouchedSectors;
        return true;
    }
    if (plan.erase) {
        if (!FlashErase(g.eraseOpcode, base, r)) return false;
        ++report.erasedSectors;
        report.erasedBytes += size;
    }
    for (const PageProgram& program : plan.programs) {
        const std::vector<uint8_t> bytes = ProgramBytes(current, wanted, plan.erase, program);
        if (!FlashProgram(base + program.offset, bytes.data(), program.length, r)) return false;
        ++report.pagePrograms;
        report.programmedBytes += program.length;
        report.skippedBytes -=
            Overlap(base + program.offset, program.length, rangeStart, rangeCount);
    }
    return true;
}

// Makes the touched sectors of [address, address + count) hold `overlay` (or 0xFF when null)
// over the range, and what they hold elsewhere.
bool Rewrite(const FlashGeometry& g, uint32_t address, const uint8_t* overlay, uint32_t count,
             const WriteOptions& options, WriteReport& report, CallResult& r,
             const PhaseProgressFn& progress) {
    const uint32_t first = address - address % g.eraseSize;
    const uint64_t end = std::min<uint64_t>(
        (uint64_t{address} + count + g.eraseSize - 1) / g.eraseSize * g.eraseSize, g.size);
    const auto span = static_cast<uint32_t>(end - first);
    std::vector<uint8_t> current(span);
    if (!FlashRead(first, current.data(), span, r, Phase(progress, "reading", span))) return false;
    std::vector<uint8_t> wanted = current;
    if (overlay) {
        std::copy_n(overlay, count, wanted.begin() + (address - first));
    } else {
        std::fill_n(wanted.begin() + (address - first), count, kErasedByte);
    }
    report.skippedBytes = count;
    for (uint32_t at = 0; at < span; at += g.eraseSize) {
        const uint32_t size = std::min(g.eraseSize, span - at);
        if (!WriteSector(g, first + at, &current[at], &wanted[at], size, options, address, count,
                         report, r)) {
            return false;
        }
        if (progress) progress("writing", at + size, span);
    }
    if (!options.verify) return true;
    if (!VerifyRange(first, wanted.data(), span, r, progress)) return false;
    report.verifiedBytes = span;
    return true;
}

}  // namespace

bool WriteRange(const FlashGeometry& geometry, uint32_t address, const uint8_t* data,
                uint32_t count, const WriteOptions& options, WriteReport& report,
                CallResult& result, const PhaseProgressFn& progress) {
    return Rewrite(geometry, address, data, count, options, report, result, progress);
}

bool EraseRange(const FlashGeometry& geometry, uint32_t address, uint32_t count,
                const WriteOptions& options, WriteReport& report, CallResult& result,
                const PhaseProgressFn& progress) {
    return Rewrite(geometry, address, nullptr, count, options, report, result, progress);
}

bool EraseChip(const FlashGeometry& geometry, bool verify, WriteReport& report, CallResult& result,
               const PhaseProgressFn& progress) {
    if (!FlashChipErase(result)) return false;
    report.erasedBytes = geometry.size;
    if (!verify) return true;
    const std::vector<uint8_t> blank(geometry.size, kErasedByte);
    if (!VerifyRange(0, blank.data(), static_cast<uint32_t>(geometry.size), result, progress)) {
        return false;
    }
    report.verifiedBytes = geometry.size;
    return true;
}

bool VerifyRange(uint32_t address, const uint8_t* expected, uint32_t count, CallResult& result,
                 const PhaseProgressFn& progress) {
    std::vector<uint8_t> back(count);
    if (!FlashRead(address, back.data(), count, result, Phase(progress, "verifying", count))) {
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

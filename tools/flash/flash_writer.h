// Writing, erasing and verifying ranges of the flash so that nothing outside the range is lost:
// every sector the range touches is read first, planned (flash_plan.h), erased and programmed
// only as far as it must be, and read back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/common.h"
#include "flash/flash.h"

namespace kestrel {

// Told the phase ("reading", "writing", "verifying"), the bytes done and the phase's total.
using PhaseProgressFn = std::function<void(const char* phase, uint64_t done, uint64_t total)>;

struct WriteOptions {
    bool mayErase = true;  // false: program over what the sectors hold (--no-erase)
    bool verify = true;
};

struct WriteReport {
    uint64_t erasedSectors = 0;
    uint64_t erasedBytes = 0;
    uint64_t pagePrograms = 0;
    uint64_t programmedBytes =
        0;                      // sent in page programs, restored bytes around the range included
    uint64_t skippedBytes = 0;  // bytes of the range no page program had to send
    uint64_t untouchedSectors = 0;  // sectors that already held what they must
    uint64_t verifiedBytes = 0;
    // How far the job got, for a job that ends part way: [spanStart, doneEnd) holds what it
    // should, [doneEnd, touchedEnd) had an erase or page program sent and may hold neither the
    // old nor the new bytes, [touchedEnd, spanEnd) is as it was.
    uint64_t spanStart = 0;
    uint64_t doneEnd = 0;
    uint64_t touchedEnd = 0;
    uint64_t spanEnd = 0;
};

// The three parts of a job that ended part way, in words: "0x000000 to 0x001FFF was rewritten as
// planned; 0x002000 to 0x002FFF ... may hold neither the old nor the new bytes; ... is as it was".
std::string DescribeChanges(const WriteReport& report);

// Makes [address, address + count) hold `data` and keeps the rest of every sector it touches.
// The range must lie inside the flash (RangeProblem is empty). A stop asked for (flash_stop.h) ends
// it before an erase, once the sectors before are programmed back, or between two page batches.
bool WriteRange(Flash& flash, uint32_t address, const uint8_t* data, uint32_t count,
                const WriteOptions& options, WriteReport& report, CallResult& result,
                const PhaseProgressFn& progress = {});

// Makes the range read 0xFF, keeping the rest of the sectors it touches.
bool EraseRange(Flash& flash, uint32_t address, uint32_t count, const WriteOptions& options,
                WriteReport& report, CallResult& result, const PhaseProgressFn& progress = {});

// Erases the whole flash at once; with verify, reads it back.
bool EraseChip(Flash& flash, bool verify, WriteReport& report, CallResult& result,
               const PhaseProgressFn& progress = {});

// Reads the range back and compares it with `expected`; a difference fails with "verify failed
// at 0x012345: expected 5A, read FF" (the first one).
bool VerifyRange(Flash& flash, uint32_t address, const uint8_t* expected, uint32_t count,
                 CallResult& result, const PhaseProgressFn& progress = {});

}  // namespace kestrel

// What surrounds a command's data commands on the flash (its geometry probed): a write or erase of
// a protected range is refused, naming the range, unless the job may clear the protection; then
// 4-byte mode is entered where the flash uses it. The job's end puts both back, after a failure
// too, wherever the cable still answers; where it does not, the job says which protection is left
// off and what puts it back.
#pragma once

#include <cstdint>
#include <string>

#include "common/common.h"
#include "flash/flash_protect.h"

namespace kestrel {

struct FlashJob {
    FlashProtection protection;  // as the job found it
    FlashProtection restored;    // read back after the job put the protection back
    bool clearSent = false;      // a status write that clears the protection was sent
    bool cleared = false;        // and the protection read back cleared
    bool entered = false;        // 4-byte mode
    bool restoreSent = false;    // a status write that puts the protection back was sent
    bool readBack = false;       // and `restored` read back after it
};

// Begins a job on the flash of `id` that touches [first, end): with `writes`, a range that
// overlaps the protected one is refused unless `unprotect`, which clears the protection (and
// sets the note a stopping signal prints, flash_stop.h).
bool BeginFlashJob(Flash& flash, const uint8_t id[3], uint64_t size, uint64_t first, uint64_t end,
                   bool writes, bool unprotect, FlashJob& job, CallResult& result);
// Waits for the flash, leaves 4-byte mode and puts the protection back, as far as the job changed
// them; the registers are read back and must hold what they held before. A library call that
// fails is tried again, twice.
bool EndFlashJob(Flash& flash, FlashJob& job, CallResult& result);

// What the job's end left, once EndFlashJob has run: "protection restored: ..." where it put
// back the protection it cleared (`putBack`); where it failed, which range it leaves unprotected
// and what protects it again, and whether the flash may still be in 4-byte mode; else empty.
std::string EndOutcome(const FlashJob& job, bool putBack);

}  // namespace kestrel

#include "flash/flash_job.h"

#include "flash/flash_geometry.h"
#include "flash/flash_stop.h"
#include "flash/spi_ops.h"

namespace kestrel {
namespace {

// "0xFC0000 to 0xFFFFFF (256 KiB)".
std::string ProtectedRange(const FlashProtection& p) {
    return RangeText(p.first, p.end) + " (" + SizeText(p.end - p.first) + ")";
}

// A failed library call often leaves the cable answering (one USB error): the job's end is tried
// again.
constexpr int kPutBackAttempts = 3;

// One attempt at the job's end: wait for the flash, leave 4-byte mode, write the registers back
// and read them back.
bool PutBack(Flash& flash, FlashJob& job, CallResult& result) {
    // A job that failed may have left an operation running (or queued, to go out with the next
    // command); the flash ignores what comes before it is done.
    if (!WaitReady(flash, flash.geometry.timeouts.chip, "the job's last operation", result))
        return false;
    if (job.entered && !LeaveAddressMode(flash, result)) return false;
    if (!job.clearSent) return true;
    const FlashProtection& before = job.protection;
    const uint8_t id[3] = {before.maker, 0, 0};
    job.restoreSent = true;
    job.readBack = false;
    if (!RestoreProtection(flash, before, result) ||
        !ReadProtection(flash, id, before.size, job.restored, result)) {
        return false;
    }
    job.readBack = true;
    if (job.restored.status[0] != before.status[0] || job.restored.first != before.first ||
        job.restored.end != before.end) {
        return Reject("the protection did not come back: " + DescribeProtection(job.restored),
                      result);
    }
    return true;
}

}  // namespace

bool BeginFlashJob(Flash& flash, const uint8_t id[3], uint64_t size, uint64_t first, uint64_t end,
                   bool writes, bool unprotect, FlashJob& job, CallResult& result) {
    job = FlashJob{};
    if (writes) {
        if (!ReadProtection(flash, id, size, job.protection, result)) return false;
        const FlashProtection& p = job.protection;
        if (p.Protects(first, end)) {
            if (!unprotect) {
                return Reject(RangeText(first, end) + " overlaps the protected range " +
                                  RangeText(p.first, p.end) + " (" + DescribeProtection(p) +
                                  "); give --unprotect to clear the protection for this job",
                              result);
            }
            // From the status write on, the job's end writes the registers back.
            job.clearSent = !p.locked;
            if (job.clearSent) {
                SetStopNote(
                    "kestrel: stopping at the next safe point, with no sector left half "
                    "written, to protect " +
                    ProtectedRange(p) +
                    " again; a second signal stops at once and leaves it unprotected: "
                    "then write " +
                    RestoreText(p) + " to protect it again\n");
            }
            if (!ClearProtection(flash, p, result)) return false;
            job.cleared = true;
        }
    }
    if (!EnterAddressMode(flash, result)) return false;
    job.entered = flash.geometry.addressing == Addressing::kFourByteMode;
    return true;
}

bool EndFlashJob(Flash& flash, FlashJob& job, CallResult& result) {
    if (!job.entered && !job.clearSent) return true;
    for (int attempt = 1;; ++attempt) {
        CallResult tried;
        if (PutBack(flash, job, tried)) return true;
        // A check that failed (a part still busy, registers that read back otherwise) would fail
        // again; a library call may not.
        if (attempt == kPutBackAttempts || tried.code == 0) {
            if (result.ok()) result = tried;
            return false;
        }
    }
}

std::string EndOutcome(const FlashJob& job, bool putBack) {
    if (putBack)
        return job.clearSent ? "protection restored: " + DescribeProtection(job.restored) : "";
    std::string text;
    if (job.clearSent) {
        // Off for certain where the flash said so: it read back cleared, and no status write that
        // puts it back went out since, or a read-back after one still shows it off.
        const bool off = job.readBack || (job.cleared && !job.restoreSent);
        const FlashProtection& p = job.protection;
        text = "the protection of " + ProtectedRange(p) + (off ? " is" : " may be") +
               " off: the job cleared it and could not put it back; to protect it again, write " +
               RestoreText(p);
    }
    if (job.entered) {
        text += std::string(text.empty() ? "" : "; ") +
                "the flash may still be in 4-byte mode, which 0xE9 or a power cycle leaves";
    }
    return text;
}

}  // namespace kestrel

// SVF playback as reference jobs: one SDR of 1 Mbit through the default chain at the fastest TCK
// (divisor 0), without a TDO check, with one on zeros shifted (one queued capture) and with one on
// a pattern (capturing shifts). The file is parsed while preparing; the job is the playback.
#include <string>

#include "job_tables.h"
#include "jtag/parsers.h"
#include "jtag/player.h"
#include "kestrellink.h"
#include "reference_jobs.h"
#include "vcable.h"

namespace bench {
namespace {

namespace jtag = kestrel::jtag;
using kl::jobs::ReferenceJob;

constexpr uint32_t kBits = 1u << 20;
constexpr uint32_t kChainBits = 64;  // the two IDCODE registers after Test-Logic-Reset
constexpr const char* kIdcodes = "1234567787654321";

jtag::Program& Job() {
    static jtag::Program program;
    return program;
}

// "SDR 1048576 TDI (...) [TDO (...)];" on a fresh cable opened at divisor 0, parsed.
bool PrepareSdr(bool check, bool pattern) {
    const std::string tdi = pattern ? std::string(kBits / 4, 'A') : "0";
    std::string svf = "SDR " + std::to_string(kBits) + " TDI (" + tdi + ")";
    if (check) {
        // The chain gives its IDCODEs first, then what went in, 64 bits late.
        const std::string late = pattern ? tdi.substr(kChainBits / 4) : "";
        svf += " TDO (" + late + kIdcodes + ")";
    }
    svf += ";";
    jtag::ParseError error;
    CloseDevice();
    vc_reset();
    return jtag::ParseSvf(svf, Job(), error) && LoadD2XXDLL() == 0 &&
           OpenDevice(u"ZV7300LNK", u"", 0) == 0;
}

bool PlayJob() {
    jtag::PlayOptions options;
    options.divisor = 0;
    jtag::PlayResult result;
    return jtag::Play(Job(), options, result) && result.mismatches == 0;
}

// Bytes the player queues for the scan: the five-one reset and the move to Shift-DR (3 each), two
// byte-mode commands for the 131071 whole bytes (3 + data each), 8 one-bit tail commands (the
// last with TMS), the move to Run-Test/Idle (3); then the closing pin read (1).
constexpr uint64_t kUncheckedBytes = 3 + 3 + (2 * 3 + kBits / 8 - 1) + 8 * 3 + 3 + 1;
// The queued capture: the two moves, two byte-mode reads, a 7-bit read (2 bytes), the TMS read,
// the move to Run-Test/Idle; then the pin read.
constexpr uint64_t kHeldBytes = 3 + 3 + 2 * 3 + 2 + 3 + 3 + 1;
// Capturing shifts in two pieces of 65535 whole bytes and 8 tail bits: per piece a 3-byte header,
// the data, the 8 tail commands (24 bytes) and the pin read that ends it (1); the moves around
// them and the closing pin read.
constexpr uint64_t kPieceBytes = 3 + 65535 + 24 + 1;
constexpr uint64_t kPatternBytes = 3 + 3 + 2 * kPieceBytes + 3 + 1;

}  // namespace

std::vector<ReferenceJob> SvfJobs() {
    return {
        {"SVF: SDR of 1 Mbit, no TDO check (divisor 0)",
         [] { return PrepareSdr(false, false); },
         PlayJob,
         {{"FT_Write", 4}, {"FT_GetQueueStatus", 1000}, {"FT_Read", 1}},
         kUncheckedBytes,
         "the 60000-byte rule sends the 6 bytes of moves before the 131072-byte data append, "
         "which streams through the command buffer (one full write); the rest goes with the "
         "send; the closing pin read: 1 write, 1000 polls, 1 read"},
        {"SVF: SDR of 1 Mbit, TDO checked, TDI zeros (divisor 0)",
         [] { return PrepareSdr(true, false); },
         PlayJob,
         {{"FT_Write", 3}, {"FT_GetQueueStatus", 1500}, {"FT_Read", 2}},
         kHeldBytes,
         "one queued capture with TDI held low: the 60000-byte rule sends the moves before the "
         "reads (their commands are small but count the bits they clock); the reads and the move "
         "out go in one send when the end of the file collects the reply, 500 polls and 1 read "
         "of the 131073 reply bytes; the closing pin read (1000 polls, 1 read)"},
        {"SVF: SDR of 1 Mbit, TDO checked, TDI pattern (divisor 0)",
         [] { return PrepareSdr(true, true); },
         PlayJob,
         {{"FT_Write", 11}, {"FT_GetQueueStatus", 5000}, {"FT_Read", 7}},
         kPatternBytes,
         "the moves sent before the first capturing shift; each of its two pieces writes its "
         "header, its data, its tail and a pin read (4 writes) and waits for each answer (500 + "
         "500 + 1000 polls, 3 reads); the move out and the closing pin read"},
    };
}

}  // namespace bench

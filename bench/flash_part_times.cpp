// Model-clock times of kestrel spi jobs on a real part (W25Q128JV, 16 MiB) at the fastest TCK
// (divisor 0): read, write over the part's pattern and erase, of 1 MiB and of the whole 16 MiB.
// Each row gives the time at full and at high speed, the physical limit (the job's commands and
// data clocked at the chip's fastest TCK, plus the part's typical busy time for the programs and
// erases it made; the status polls overlap the busy time and are not counted) and the ratio to
// it, as a Markdown table for docs/performance.md.
#include <cstdio>
#include <vector>

#include "flash/flash_geometry.h"
#include "flash/flash_writer.h"
#include "flash/spi_ops.h"
#include "kestrellink.h"
#include "vcable.h"
#include "vcable_clock.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace {

constexpr uint64_t kMiB = 1u << 20;
constexpr uint64_t kPart = 16 * kMiB;
// W25Q128JV typical busy times, in ns: page program, 64 KiB block erase, chip erase.
constexpr double kProgramNs = 0.4e6;
constexpr double kBlockNs = 150e6;
constexpr double kChipNs = 40e9;

enum class Job { kRead, kWrite, kErase };

bool Start(kestrel::Flash& flash) {
    CloseDevice();
    vc_reset();
    char error[256] = "";
    const char* scenario =
        "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\npart = \"W25Q128JV\"\n";
    if (vc_load_scenario_text(scenario, error, sizeof error) != 0) {
        std::fprintf(stderr, "%s\n", error);
        return false;
    }
    if (LoadD2XXDLL() != 0 || OpenDevice(u"ZV7300LNK", u"", 0) != 0) return false;
    uint8_t id[3];
    std::optional<kestrel::FlashGeometry> sfdp;
    kestrel::CallResult result;
    kestrel::FlashGeometry g;
    if (!kestrel::ProbeFlash(flash, id, sfdp, g, result)) return false;
    flash.geometry = g;
    vc_clock_reset();
    return true;
}

// Runs the job; `busyNs` gets the typical busy time of what it programmed and erased, `bits` the
// TCK cycles of its commands and data (reads with their 4 command bytes, write enables, program
// and erase commands with 4 address bytes, the programmed bytes).
bool Run(Job job, uint64_t bytes, kestrel::Flash& flash, double& busyNs, double& bits) {
    const kestrel::FlashGeometry& g = flash.geometry;
    kestrel::CallResult result;
    kestrel::WriteReport report;
    std::vector<uint8_t> data(bytes);
    for (uint64_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>((i * 7 + (i >> 9)) % 255);
    const auto count = static_cast<uint32_t>(bytes);
    bool ok = false;
    if (job == Job::kRead) {
        ok = kestrel::FlashRead(flash, 0, data.data(), count, result);
    } else if (job == Job::kWrite) {
        ok = kestrel::WriteRange(flash, 0, data.data(), count, {}, report, result);
    } else {
        ok = kestrel::EraseRange(flash, 0, count, {}, report, result);
    }
    const bool chip = bytes == g.size && job != Job::kRead;
    const uint64_t blocks = chip ? 0 : report.erasedBytes / 65536;
    busyNs = report.pagePrograms * kProgramNs +
             (chip ? kChipNs : static_cast<double>(blocks) * kBlockNs);
    const uint64_t read = job == Job::kRead ? 4 + bytes : 2 * 4 + bytes + report.verifiedBytes;
    bits = 8.0 * static_cast<double>(read + report.pagePrograms * 5 + report.programmedBytes +
                                     blocks * 5 + (chip ? 2 : 0));
    if (!ok) std::fprintf(stderr, "job failed: %s\n", result.Describe().c_str());
    return ok;
}

}  // namespace

int main() {
    const char* names[] = {"spi read", "spi write", "spi erase"};
    std::printf(
        "| job | full speed | high speed | limit (TCK + busy) at full speed | at high "
        "speed | ratio full | ratio high |\n|---|---|---|---|---|---|---|\n");
    for (uint64_t bytes : {kMiB, kPart}) {
        for (Job job : {Job::kRead, Job::kWrite, Job::kErase}) {
            kestrel::Flash flash;
            double busyNs = 0;
            double bits = 0;
            if (!Start(flash) || !Run(job, bytes, flash, busyNs, bits)) return 1;
            VcClockReading full{}, high{};
            vc_clock_read(VC_SPEED_FULL, &full);
            vc_clock_read(VC_SPEED_HIGH, &high);
            // The fastest TCK: 6 MHz at full speed, 30 MHz at high speed.
            const double limitFull = bits / 6e6 * 1e9 + busyNs;
            const double limitHigh = bits / 30e6 * 1e9 + busyNs;
            std::printf("| %s %llu MiB | %.3f s | %.3f s | %.3f s | %.3f s | %.2f | %.2f |\n",
                        names[static_cast<int>(job)], static_cast<unsigned long long>(bytes / kMiB),
                        full.elapsed_ns / 1e9, high.elapsed_ns / 1e9, limitFull / 1e9,
                        limitHigh / 1e9, full.elapsed_ns / limitFull, high.elapsed_ns / limitHigh);
            std::fflush(stdout);
        }
    }
    CloseDevice();
    return 0;
}

// Runs each reference job once on the virtual cable and prints two tables: the vendor calls it
// made against the minimum its algorithms need, and the time a real cable would take for it.
#include "job_tables.h"

#include <cstdio>
#include <map>
#include <string>

#include "reference_jobs.h"
#include "vcable.h"
#include "vcable_clock.h"

namespace bench {
namespace {

using kl::jobs::EntryCount;
using kl::jobs::ReferenceJob;

// The library's reference jobs, then the SVF playback and SPI flash jobs.
const std::vector<ReferenceJob>& AllJobs() {
    static const std::vector<ReferenceJob> jobs = [] {
        std::vector<ReferenceJob> all = kl::jobs::ReferenceJobs();
        for (ReferenceJob& job : SvfJobs()) all.push_back(std::move(job));
        for (ReferenceJob& job : SpiJobs()) all.push_back(std::move(job));
        return all;
    }();
    return jobs;
}

struct JobResult {
    bool ok = false;
    std::map<std::string, uint64_t> calls;  // by entry point, in name order
    uint64_t bytesWritten = 0;
    VcClockReading clock[2] = {};
    uint64_t usbElapsedNs = 0;  // full speed, with USB reply delivery
};

// The job's modelled time at full speed when the host sees replies as USB delivers them: its
// waits poll in frames until the packets are there.
uint64_t UsbElapsedNs(const ReferenceJob& job) {
    if (!job.prepare()) return 0;
    vc_set_reply_delivery(VC_DELIVERY_USB);
    vc_clock_reset();
    job.run();
    VcClockReading reading{};
    vc_clock_read(VC_SPEED_FULL, &reading);
    return reading.elapsed_ns;
}

JobResult RunJob(const ReferenceJob& job) {
    JobResult result;
    result.usbElapsedNs = UsbElapsedNs(job);
    if (!job.prepare()) return result;
    vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
    vc_log_clear();
    vc_clock_reset();
    result.ok = job.run();
    for (uint32_t i = 0; const char* name = vc_entry_name(i); ++i) {
        if (uint64_t n = vc_log_count_entry(name)) result.calls[name] = n;
    }
    for (uint32_t i = 0; i < vc_log_count(); ++i) {
        VcCall call{};
        if (vc_log_get(i, &call) == 0 && std::string(call.entry) == "FT_Write") {
            result.bytesWritten += call.transferred;
        }
    }
    vc_clock_read(VC_SPEED_FULL, &result.clock[0]);
    vc_clock_read(VC_SPEED_HIGH, &result.clock[1]);
    return result;
}

std::string CallList(const std::map<std::string, uint64_t>& calls) {
    std::string text;
    for (const auto& [entry, n] : calls) {
        text += (text.empty() ? "" : ", ") + entry.substr(3) + " " + std::to_string(n);
    }
    return text;
}

std::string Surplus(const JobResult& result, const ReferenceJob& job) {
    std::map<std::string, int64_t> over;
    for (const auto& [entry, n] : result.calls) over[entry] = static_cast<int64_t>(n);
    for (const EntryCount& m : job.minimumCalls) over[m.entry] -= static_cast<int64_t>(m.calls);
    std::string text;
    for (const auto& [entry, n] : over) {
        if (n != 0) text += (text.empty() ? "" : ", ") + entry.substr(3) + " " + std::to_string(n);
    }
    const int64_t bytes =
        static_cast<int64_t>(result.bytesWritten) - static_cast<int64_t>(job.minimumBytesWritten);
    if (bytes != 0) text += (text.empty() ? "" : ", ") + std::to_string(bytes) + " bytes";
    return text.empty() ? "none" : text;
}

std::string Ms(uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ns) / 1e6);
    return text;
}

}  // namespace

bool PrintJobTables() {
    std::vector<JobResult> results;
    for (const ReferenceJob& job : AllJobs()) results.push_back(RunJob(job));
    bool allOk = true;

    std::printf("\n### Vendor-call economy (virtual cable call log)\n\n");
    std::printf(
        "| job | vendor calls | bytes written | minimum calls | minimum bytes | surplus |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < results.size(); ++i) {
        const ReferenceJob& job = AllJobs()[i];
        const JobResult& r = results[i];
        std::map<std::string, uint64_t> minimum;
        for (const EntryCount& m : job.minimumCalls) minimum[m.entry] = m.calls;
        std::printf("| %s%s | %s | %llu | %s | %llu | %s |\n", job.name, r.ok ? "" : " (FAILED)",
                    CallList(r.calls).c_str(), static_cast<unsigned long long>(r.bytesWritten),
                    CallList(minimum).c_str(),
                    static_cast<unsigned long long>(job.minimumBytesWritten),
                    Surplus(r, job).c_str());
        allOk = allOk && r.ok;
    }
    std::printf("\nMinimum derivations:\n\n");
    for (const ReferenceJob& job : AllJobs()) std::printf("- %s: %s\n", job.name, job.derivation);

    std::printf("\n### Modelled wire time (ms)\n\n");
    std::printf(
        "| job | TCK cycles / UART bits | full speed (FT2232D) | full speed, USB delivery | "
        "high speed (H series) | limit at full speed | limit at high speed |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (size_t i = 0; i < results.size(); ++i) {
        const JobResult& r = results[i];
        const uint64_t clocked = r.clock[0].tck_cycles + r.clock[0].uart_bits;
        std::printf("| %s | %llu | %s | %s | %s | %s | %s |\n", AllJobs()[i].name,
                    static_cast<unsigned long long>(clocked), Ms(r.clock[0].elapsed_ns).c_str(),
                    Ms(r.usbElapsedNs).c_str(), Ms(r.clock[1].elapsed_ns).c_str(),
                    Ms(r.clock[0].limit_ns).c_str(), Ms(r.clock[1].limit_ns).c_str());
    }
    std::printf("\n");
    return allOk;
}

}  // namespace bench

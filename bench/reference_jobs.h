// The reference jobs whose vendor calls and wire time the benchmarks report, each with the
// vendor calls that the library's algorithms need for it at the least.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

struct EntryCount {
    const char* entry;
    uint64_t calls;
};

struct ReferenceJob {
    const char* name;
    // Brings library and virtual cable to the job's starting point; not counted.
    bool (*prepare)();
    // The job; true when every export returned 0 and the data came back right.
    bool (*run)();
    // The fewest vendor calls and written bytes the algorithms allow, and why.
    std::vector<EntryCount> minimumCalls;
    uint64_t minimumBytesWritten;
    const char* derivation;
};

const std::vector<ReferenceJob>& ReferenceJobs();
// The SVF playback jobs (the tool's player on the library), listed after the others.
std::vector<ReferenceJob> SvfJobs();

}  // namespace bench

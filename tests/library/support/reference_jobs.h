// The reference jobs: typical work for the cable, each with the vendor calls and bytes written
// that the library's algorithms need for it at the least. The call-economy test requires exactly
// these; the benchmark reports them beside what it measured, with the jobs' modelled wire time.
#pragma once

#include <cstdint>
#include <vector>

namespace kl::jobs {

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

}  // namespace kl::jobs

// The vendor-call economy and modelled wire time tables of the reference jobs.
#pragma once

#include <vector>

#include "reference_jobs.h"

namespace bench {

// Prints both tables (Markdown) to standard output; false when a job failed.
bool PrintJobTables();

// The SVF playback jobs (the tool's player on the library), tabled after the library's own.
std::vector<kl::jobs::ReferenceJob> SvfJobs();

// kestrel spi read and write (the tool's flash routines on the library), tabled after them.
std::vector<kl::jobs::ReferenceJob> SpiJobs();

}  // namespace bench

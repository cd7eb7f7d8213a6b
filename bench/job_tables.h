// The vendor-call economy and modelled wire time tables of the reference jobs.
#pragma once

namespace bench {

// Prints both tables (Markdown) to standard output; false when a job failed.
bool PrintJobTables();

}  // namespace bench

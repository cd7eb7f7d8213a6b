// The engine's JTAG jobs (kestrel_jtag_run): the chain's devices as `kestrel scan` and
// `kestrel jtag idcode` report them, and an SVF or XSVF file's playback.
#pragma once

#include "engine/job.h"
#include "jtag/program.h"

namespace kestrel::engine {

// The job's own numbers and, for a playback, its file parsed into `program`: 0, or the exit code
// (reported).
int CheckJtagJob(const kestrel_jtag_job& request, jtag::Program& program, Job& job);

// The chain's devices and IDCODEs (scan), with their instruction lengths (idcode).
int RunChainScan(const kestrel_jtag_job& request, Job& job);

// --dry-run: the parsed file's totals and the notes it raised, with nothing played.
int ReportParsed(const kestrel_jtag_job& request, const jtag::Program& program, Job& job);

// Plays the parsed file on the chain, comparing TDO wherever it gives an expected value.
int PlayJtagFile(const kestrel_jtag_job& request, const jtag::Program& program, Job& job);

// What the job's lines call the file: the caller's name for it, or "the data".
std::string FileName(const kestrel_jtag_job& request);

}  // namespace kestrel::engine

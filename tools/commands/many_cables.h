// Several cables at once: `--cables SERIAL,SERIAL,...` or `--all-cables` runs the command once per
// cable, each in a process of its own (the library holds one connection per process), all at the
// same time, and combines their results.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "common/inputs.h"
#include "session/session.h"

namespace kestrel {

struct ManyCablesOptions {
    std::string cables;  // --cables as given: serial numbers separated by commas
    bool cablesGiven = false;
    bool all = false;  // --all-cables
    bool asked() const { return all || cablesGiven; }
};

void AddManyCablesOptions(CLI::App& app, ManyCablesOptions& many);

// Runs the command line again for every cable, with --serial SERIAL and "{serial}" replaced in
// every argument, and returns the combined exit code: 0 when every cable succeeded, otherwise the
// largest exit code among them. `files` are the command's own. Standard input, when the command
// reads it, is read here once and every cable's process gets the same bytes. Stopped by a stop
// signal, the run passes it on, waits for every cable, reports each and ends by the signal.
int RunManyCables(const ManyCablesOptions& many, const GlobalOptions& global,
                  const CommandFiles& files, bool json, int argc, char** argv);

// In a cable's process of such a run: the process ends (as SIGTERM ends it) when the run's does.
void StopWithRun();

}  // namespace kestrel

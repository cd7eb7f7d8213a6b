// Several cables at once: `--cables SERIAL,SERIAL,...` or `--all-cables` runs the command once per
// cable, each in a process of its own (the library holds one connection per process), all at the
// same time, and combines their results.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

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
// largest exit code among them.
int RunManyCables(const ManyCablesOptions& many, const GlobalOptions& global, bool json, int argc,
                  char** argv);

}  // namespace kestrel

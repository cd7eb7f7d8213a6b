// What an engine job tells the tool (kestrel_engine.h's events), printed and recorded as the
// tool's own commands do: lines on standard output (standard error while the data goes there),
// notes and errors on standard error, a progress bar or JSON events per phase, and the fields,
// warnings, errors and failed library call of the --json document.
#pragma once

#include <memory>
#include <string>

#include "common/common.h"
#include "kestrel_engine.h"

namespace kestrel {

struct JobOutput {
    bool linesToStderr = false;
    const char* warningPrefix = "note: ";  // after "kestrel: " on standard error
    std::unique_ptr<Progress> bar;         // the phase under way, ended before the next line
    std::string phase;
    std::string unit;

    // Ends the phase's bar, so that what follows starts a line.
    void EndBar() { bar.reset(); }
};

// The engine's event callback; `context` is a JobOutput. Never asks the job to stop: the tool's
// stops come from signals.
int OnJobEvent(void* context, int kind, const char* json);

}  // namespace kestrel

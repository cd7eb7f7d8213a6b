// The processes of a run on several cables (--cables): started together, waited for, stopped
// together when the run is stopped, and reported cable by cable.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

enum class CableState {
    kNotStarted,   // the run was stopped before its process started: nothing was done on it
    kRunning,      // started, not yet ended
    kFinished,     // its process ended by itself, with its own exit code
    kInterrupted,  // its process ended by the stop signal the run passed on
    kUnknown,      // its process did not end after the stop signal and was killed
};

struct CableRun {
    std::string serial;
    std::vector<std::string> arguments;  // its process's command line (argv[1] on)
    long child = -1;
    CableState state = CableState::kNotStarted;
    int exitCode = 0;
    std::string out;  // the process's standard output: its document with --json
    std::string err;  // its messages for people
};

// Starts a process for each cable, its standard streams in files of `folder` and its standard
// input from `input` (the null device when empty), `variable` in its environment. Stops starting
// once a stop signal has been caught (os::CatchStopSignals).
void StartCables(std::vector<CableRun>& runs, const std::string& folder, const std::string& input,
                 const std::string& variable);

// Waits for every started process. On a stop signal, passes it on to those still running and
// waits for them a while longer, then kills any that is left. Returns the stop signal, or 0.
int WaitForCables(std::vector<CableRun>& runs);

// Takes each process's output from `folder` (removing its files), prints each cable's outcome
// and the summary, and returns the cables as the JSON array of the run's document.
std::string ReportCables(std::vector<CableRun>& runs, const std::string& folder, bool json,
                         int stopSignal);

}  // namespace kestrel

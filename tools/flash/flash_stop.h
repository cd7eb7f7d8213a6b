// Stopping a flash job where nothing is left half done. While a StopAtSafePoint lives, SIGINT and
// SIGTERM do not end the process at once: the first one asks the job to stop at its next safe
// point (before an erase, once every sector before it is programmed back; between two groups of a
// long read) and prints the note the job set; the job then puts back what it changed (the
// protection it cleared) and the command ends the process as the signal would. A second signal
// ends the process at once, through the handler that was there before. A job run for a caller that
// keeps its own signals (a script) handles none: the caller asks for the stop (AskToStop).
#pragma once

#include <string>

#include "common/common.h"

namespace kestrel {

class StopAtSafePoint {
  public:
    explicit StopAtSafePoint(bool handleSignals = true);
    ~StopAtSafePoint();
    StopAtSafePoint(const StopAtSafePoint&) = delete;
    StopAtSafePoint& operator=(const StopAtSafePoint&) = delete;
};

// The signal that asked for a stop since the last StopAtSafePoint began (also once it has ended),
// or 0 (none, or the caller asked).
int StopSignal();
// Whether a signal or the caller asked for a stop since the last StopAtSafePoint began.
bool StopAsked();
// The caller asks the job to stop at its next safe point.
void AskToStop();

// At a safe point: false, with "stopped by SIGINT at a safe point" (or "stopped at the caller's
// request at a safe point") in `result`, when a stop was
// asked for while a StopAtSafePoint lives.
bool KeepGoing(CallResult& result);

// The line (with "kestrel: " and its newline) the first signal prints; kept in fixed storage, so
// that the handler only copies bytes.
void SetStopNote(const std::string& line);

}  // namespace kestrel

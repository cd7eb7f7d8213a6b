// Files any host program can ask the virtual cable for through the environment, whichever face
// it loaded: VCABLE_STATE (a state file loaded when the cable is first used, if it exists, and
// saved when the program ends or unloads the cable), VCABLE_CLOCK_REPORT (the model clock of both
// speeds as JSON, written at the end), VCABLE_MODEL_ERRORS (the model errors, one a line,
// written at the end; empty when there were none), VCABLE_TRACE (the decoded MPSSE commands of
// every cable, as they run), VCABLE_CALL_LOG (the entry-point calls, one a line, written at
// the end: both faces' traffic, the USB face's under the entry points it runs) and VCABLE_VCD
// (a waveform of cable 0's channel A lines, vcd_file.h).
#pragma once

namespace vcable {

// Loads the state file, if one is named and exists, and arranges for the files to be written at
// the end. Runs once, after the initial scenario is in place.
void StartProgramFiles();

}  // namespace vcable

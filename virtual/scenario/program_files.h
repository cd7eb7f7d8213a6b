// Files any host program can ask the virtual cable for through the environment, whichever face
// it loaded: VCABLE_STATE (a state file loaded when the cable is first used, if it exists, and
// saved when the program ends or unloads the cable), VCABLE_CLOCK_REPORT (the model clock of both
// speeds as JSON, written at the end), VCABLE_MODEL_ERRORS (the model errors, one a line,
// written at the end; empty when there were none), VCABLE_TRACE (the decoded MPSSE commands of
// every cable, as they run), VCABLE_CALL_LOG (the entry-point calls, one a line, written at
// the end: both faces' traffic, the USB face's under the entry points it runs) and VCABLE_VCD
// (a waveform of cable 0's channel A lines, vcd_file.h).
//
// An empty variable counts as unset; a relative name is taken from the folder current when the
// cable is first used. Each file is written as output_file.h says (whole or not at all, never
// over anything but a regular file). A variable that names the same file as an earlier one in
// the order SCENARIO, STATE, TRACE, VCD, CALL_LOG, CLOCK_REPORT, MODEL_ERRORS is refused, as is
// one whose file cannot be written; a refusal is a line on standard error and a model error. The
// state file is locked (state_lock.h) from its load to its save; one that does not load, or no
// longer fits the devices at the end, is left as it is. A process forked from the program writes
// none of the files.
#pragma once

namespace vcable {

// Loads the state file, if one is named and exists, and arranges for the files to be written at
// the end. Runs once, after the initial scenario is in place.
void StartProgramFiles();

}  // namespace vcable

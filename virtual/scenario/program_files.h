// Files any host program can ask the virtual cable for through the environment, whichever face
// it loaded: VCABLE_STATE (a state file loaded when the cable is first used, if it exists, and
// saved when the program ends or unloads the cable), VCABLE_CLOCK_REPORT (the model clock of both
// speeds as JSON, written at the end) and VCABLE_MODEL_ERRORS (the model errors, one a line,
// written at the end; empty when there were none).
#pragma once

namespace vcable {

// Loads the state file, if one is named and exists, and arranges for the files to be written at
// the end. Runs once, after the initial scenario is in place.
void StartProgramFiles();

}  // namespace vcable

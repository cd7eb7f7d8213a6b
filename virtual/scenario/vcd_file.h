// VCABLE_VCD: a waveform of cable 0's channel A lines for any host program, whichever face it
// loaded, as value change dump (VCD) text that waveform viewers read. Times come from the MPSSE
// base clock (12 MHz ticks), so they are the model's wire times, not the host's.
#pragma once

namespace vcable {

// Opens the file and hooks cable 0's pins; false (with a message on standard error) when the
// file cannot be written or the cable has no MPSSE engine.
bool StartVcdFile(const char* path);
// Writes the last time stamp and closes the file.
void FinishVcdFile();

}  // namespace vcable

// VCABLE_VCD: a waveform of cable 0's channel A lines for any host program, whichever face it
// loaded, as value change dump (VCD) text that waveform viewers read. Times come from the MPSSE
// base clock (12 MHz ticks), so they are the model's wire times, not the host's.
#pragma once

#include <string>

namespace vcable {

// Starts the file (output_file.h) and hooks cable 0's pins; false with the reason when the file
// cannot be written or the cable has no MPSSE engine.
bool StartVcdFile(const std::string& path, std::string& why);
// Writes the last time stamp and puts the file in place; true when none was started.
bool FinishVcdFile(std::string& why);

}  // namespace vcable

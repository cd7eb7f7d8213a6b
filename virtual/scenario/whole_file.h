// Reading a whole input file (a scenario, a saved state) for the virtual cable, which runs inside
// its host's process: whatever the path names, the answer is the bytes or an error text, never
// an exception or an endless read.
#pragma once

#include <cstdint>
#include <string>

namespace vcable::scenario_file {

// The contents of a regular file of at most maxBytes. A directory, a device, a pipe, a missing
// or unreadable file, or a larger one gives false and, in why, the reason.
bool ReadWholeFile(const std::string& path, uintmax_t maxBytes, std::string& contents,
                   std::string& why);

}  // namespace vcable::scenario_file

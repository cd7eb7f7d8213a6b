// The two file formats, each turned into a Program before anything is clocked, within the
// limits of jtag/file_limits.h.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "jtag/file_limits.h"
#include "jtag/program.h"

namespace kestrel::jtag {

// SVF text. The chain is taken to start in Test-Logic-Reset, where the player puts it first.
bool ParseSvf(std::string_view text, Program& program, ParseError& error);

// XSVF bytes; errors carry the byte offset of the command in `line`.
bool ParseXsvf(const std::vector<uint8_t>& bytes, Program& program, ParseError& error);

}  // namespace kestrel::jtag

// The two file formats, each turned into a Program before anything is clocked.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "jtag/program.h"

namespace kestrel::jtag {

// Longest scan a file may ask for (header, command and trailer together).
constexpr uint32_t kMaxScanBits = 1u << 28;
// Longest wait a file may ask for, as a time or as TCK periods (over three hours at the fastest
// TCK): a longer one is a broken file, not a slow device, and would hold the cable for hours.
constexpr double kMaxRunSeconds = 3600;
constexpr uint64_t kMaxRunClocks = uint64_t{1} << 36;

// SVF text. The chain is taken to start in Test-Logic-Reset, where the player puts it first.
bool ParseSvf(std::string_view text, Program& program, ParseError& error);

// XSVF bytes; errors carry the byte offset of the command in `line`.
bool ParseXsvf(const std::vector<uint8_t>& bytes, Program& program, ParseError& error);

}  // namespace kestrel::jtag

// The texts the player reports: TCK rates and TDO mismatches.
#pragma once

#include <string>

#include "jtag/bits.h"
#include "jtag/program.h"

namespace kestrel::jtag {

// "2 MHz", "100 kHz", "10 Hz".
std::string RateText(double hz);

// "TDO mismatch ...: expected 0x.., actual 0x.., mask 0x.." for the part of the scan (header,
// the command's own bits, trailer) that holds the first difference.
std::string MismatchText(const ScanOp& scan, const Bits& actual, const Comparison& c);

}  // namespace kestrel::jtag

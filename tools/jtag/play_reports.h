// The texts the player reports: TDO mismatches (TCK rates: common/tck.h).
#pragma once

#include <string>

#include "common/tck.h"
#include "jtag/bits.h"
#include "jtag/program.h"

namespace kestrel::jtag {

// "TDO mismatch ...: expected 0x.., actual 0x.., mask 0x.." for the part of the scan (header,
// the command's own bits, trailer) that holds the first difference.
std::string MismatchText(const ScanOp& scan, const Bits& actual, const Comparison& c);

}  // namespace kestrel::jtag

// The MPSSE clock: the divisor command that the opens, FTDI_SetClk and JTAG_Clk send.
#pragma once

#include <cstdint>

#include "binding/d2xx.h"

namespace kl::mpsse {

// The largest divisor the command carries (16 bits), and the status SetClockDivisor gives for a
// larger one, without sending anything.
constexpr uint32_t kMaxDivisor = 0xFFFF;
constexpr FtStatus kDivisorOutOfRange = 2;

// Sends the divisor command at once; the clock becomes 12 MHz / ((1 + divisor) x 2). Status is
// the write's, or kDivisorOutOfRange for a divisor above kMaxDivisor.
void SetClockDivisor(uint32_t divisor, FtStatus& status);

}  // namespace kl::mpsse

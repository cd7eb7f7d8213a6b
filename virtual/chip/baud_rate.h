// The baud rates the dual-channel chip's UART can run: its 3 MHz clock divided by n + k/8 (n from
// 2 to 16383, k from 0 to 7), or the two special divisors that give 3 MBd and 2 MBd. A requested
// rate is accepted when some divisor comes within 3 % of it; the line then runs at the rate that
// divisor gives.
#pragma once

#include <cstdint>
#include <optional>

namespace vcable {

// The rate the chip runs for a request, or none when no divisor comes close enough.
std::optional<uint32_t> AchievedBaudRate(uint32_t requested);

}  // namespace vcable

// The baud rates the dual-channel chip's UART can run: its 3 MHz clock divided by n + k/8 (n from
// 2 to 16383, k from 0 to 7), or the two special divisors 0 and 1, without a fraction, that give
// 3 MBd and 2 MBd. The chip runs any such divisor a host sends it; the vendor library picks the
// divisor nearest a requested rate and refuses a rate that no divisor comes within 3 % of.
#pragma once

#include <cstdint>
#include <optional>

namespace vcable {

// The fastest rate, that of divisor 0.
constexpr uint32_t kMaxBaud = 3000000;

struct BaudDivisor {
    uint32_t whole = 0;    // n
    uint32_t eighths = 0;  // k, from 0 to 7
};

// The rule a divisor breaks, or null when the chip takes it.
const char* DivisorRule(BaudDivisor divisor);

// The rate a divisor the chip takes gives, rounded to the nearest baud.
uint32_t BaudOfDivisor(BaudDivisor divisor);

// The vendor library's choice for a requested rate: the divisor nearest to it, or none when no
// divisor comes within 3 %.
std::optional<BaudDivisor> DivisorForRate(uint32_t requested);

// The rate the chip runs for a request, or none when no divisor comes close enough.
std::optional<uint32_t> AchievedBaudRate(uint32_t requested);

// The rule the vendor library's rate refusal follows.
extern const char* const kRateRule;

}  // namespace vcable

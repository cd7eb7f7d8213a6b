// The cable's clock: TCK = 12 MHz / ((1 + divisor) x 2), 6 MHz at divisor 0 down to about
// 91.55 Hz at 0xFFFF. One place for the rule, so that JTAG playback and the SPI flash commands
// round a requested rate alike: to the fastest TCK not above it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

inline constexpr double kFastestTckHz = 6e6;
inline constexpr uint32_t kMaxDivisor = 0xFFFF;

// TCK at a clock divisor.
double TckHz(uint32_t divisor);
// The divisor of the fastest TCK not above `hz`: 0 above 6 MHz, 0xFFFF below the slowest TCK.
uint32_t DivisorFor(double hz);
// "2 MHz", "100 kHz", "10 Hz".
std::string RateText(double hz);

// A clock as the command line gives it: a decimal number of hertz with an optional k or M
// (kilo, mega) and an optional "Hz", one space before them at most: "6000000", "1.5M", "500kHz",
// "1.5 MHz". It must lie between the slowest
// and the fastest TCK, since a rate the cable cannot reach without going faster than asked, or
// that it cannot reach at all, is a mistake rather than a wish. False with a message otherwise.
bool ParseClock(const std::string& text, double& hz, std::string& error);

}  // namespace kestrel

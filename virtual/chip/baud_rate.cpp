// Choosing the UART divisor for a requested baud rate.
#include "chip/baud_rate.h"

#include <algorithm>
#include <cmath>

namespace vcable {
namespace {

constexpr double kUartClockHz = 3000000.0;
// Divisors in eighths: n + k/8 with n from 2 to 16383.
constexpr uint32_t kMinEighths = 2 * 8;
constexpr uint32_t kMaxEighths = 16383 * 8 + 7;
// The special divisors 0 and 1 give these rates.
constexpr uint32_t kSpecialRates[] = {3000000, 2000000};
constexpr double kTolerance = 0.03;

}  // namespace

std::optional<uint32_t> AchievedBaudRate(uint32_t requested) {
    if (requested == 0) return std::nullopt;
    double best = 0;
    auto consider = [&](double rate) {
        if (std::fabs(rate - requested) < std::fabs(best - requested)) best = rate;
    };
    for (uint32_t rate : kSpecialRates) consider(rate);
    const double eighths = kUartClockHz * 8 / requested;
    for (double candidate : {std::floor(eighths), std::ceil(eighths)}) {
        consider(kUartClockHz * 8 / std::clamp<double>(candidate, kMinEighths, kMaxEighths));
    }
    if (std::fabs(best - requested) > kTolerance * requested) return std::nullopt;
    return static_cast<uint32_t>(std::lround(best));
}

}  // namespace vcable

// The UART divisors: which the chip takes, and which the vendor library picks for a rate.
#include "chip/baud_rate.h"

#include <cmath>

namespace vcable {
namespace {

constexpr uint32_t kUartClockHz = kMaxBaud;
// The special divisors 0 and 1 give these rates.
constexpr uint32_t kSpecialRates[] = {kMaxBaud, 2000000};
// Divisors n + k/8 with n from 2 to 16383.
constexpr uint32_t kMinWhole = 2;
constexpr uint32_t kMaxWhole = 16383;
constexpr uint32_t kEighthsPerWhole = 8;
constexpr double kTolerance = 0.03;

double RateOf(BaudDivisor divisor) {
    if (divisor.whole < kMinWhole) return kSpecialRates[divisor.whole];
    const uint32_t eighths = divisor.whole * kEighthsPerWhole + divisor.eighths;
    return double{kUartClockHz} * kEighthsPerWhole / eighths;
}

BaudDivisor FromEighths(double eighths) {
    const double lowest = kMinWhole * kEighthsPerWhole;
    const double highest = kMaxWhole * kEighthsPerWhole + kEighthsPerWhole - 1;
    const auto clamped = static_cast<uint32_t>(eighths < lowest    ? lowest
                                               : eighths > highest ? highest
                                                                   : eighths);
    return {clamped / kEighthsPerWhole, clamped % kEighthsPerWhole};
}

}  // namespace

const char* const kRateRule =
    "the vendor library takes a rate within 3 % of one that a divisor of the chip gives";

const char* DivisorRule(BaudDivisor divisor) {
    if (divisor.eighths >= kEighthsPerWhole || divisor.whole > kMaxWhole) {
        return "the chip's divisor is n + k/8 with n up to 16383 and k up to 7";
    }
    if (divisor.whole < kMinWhole && divisor.eighths != 0) {
        return "the chip's divisors 0 and 1 (3 MBd and 2 MBd) take no fraction";
    }
    return nullptr;
}

uint32_t BaudOfDivisor(BaudDivisor divisor) {
    if (divisor.whole < kMinWhole) return kSpecialRates[divisor.whole];
    const uint32_t eighths = divisor.whole * kEighthsPerWhole + divisor.eighths;
    return static_cast<uint32_t>((uint64_t{kUartClockHz} * kEighthsPerWhole + eighths / 2) /
                                 eighths);
}

std::optional<BaudDivisor> DivisorForRate(uint32_t requested) {
    if (requested == 0) return std::nullopt;
    std::optional<BaudDivisor> best;
    auto consider = [&](BaudDivisor candidate) {
        if (!best ||
            std::fabs(RateOf(candidate) - requested) < std::fabs(RateOf(*best) - requested))
            best = candidate;
    };
    consider({0, 0});
    consider({1, 0});
    const double eighths = double{kUartClockHz} * kEighthsPerWhole / requested;
    consider(FromEighths(std::floor(eighths)));
    consider(FromEighths(std::ceil(eighths)));
    if (std::fabs(RateOf(*best) - requested) > kTolerance * requested) return std::nullopt;
    return best;
}

std::optional<uint32_t> AchievedBaudRate(uint32_t requested) {
    const std::optional<BaudDivisor> divisor = DivisorForRate(requested);
    if (!divisor) return std::nullopt;
    return BaudOfDivisor(*divisor);
}

}  // namespace vcable

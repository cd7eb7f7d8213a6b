#include "common/tck.h"

#include <cmath>
#include <cstdio>

#include "common/inputs.h"

namespace kestrel {
namespace {

// Rates are compared with this relative slack, so that 6 MHz / 7 asked for is divisor 6.
constexpr double kSlack = 1e-9;

// The text with its unit taken off, and the multiplier the unit stands for.
std::string WithoutUnit(const std::string& text, double& scale) {
    std::string rest = text;
    if (rest.size() > 2 && (rest.compare(rest.size() - 2, 2, "Hz") == 0 ||
                            rest.compare(rest.size() - 2, 2, "hz") == 0)) {
        rest.resize(rest.size() - 2);
    }
    scale = 1;
    if (!rest.empty() && (rest.back() == 'k' || rest.back() == 'K')) scale = 1e3;
    if (!rest.empty() && rest.back() == 'M') scale = 1e6;
    if (scale > 1) rest.pop_back();
    if (!rest.empty() && rest.back() == ' ') rest.pop_back();  // "1.5 MHz", as RateText writes
    return rest;
}

}  // namespace

double TckHz(uint32_t divisor) { return kFastestTckHz / (1.0 + divisor); }

uint32_t DivisorFor(double hz) {
    if (!(hz > 0)) return kMaxDivisor;  // no rate (zero, negative, NaN): the slowest there is
    const double ratio = std::ceil(kFastestTckHz / hz - kSlack);
    if (ratio <= 1) return 0;
    return ratio - 1 >= kMaxDivisor ? kMaxDivisor : static_cast<uint32_t>(ratio - 1);
}

std::string RateText(double hz) {
    char text[32];
    if (hz >= 1e6) {
        std::snprintf(text, sizeof text, "%.6g MHz", hz / 1e6);
    } else if (hz >= 1e3) {
        std::snprintf(text, sizeof text, "%.6g kHz", hz / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.6g Hz", hz);
    }
    return text;
}

bool ParseClock(const std::string& text, double& hz, std::string& error) {
    double scale = 1;
    const std::string number = WithoutUnit(text, scale);
    double value = 0;
    std::string ignored;
    // A plain decimal: no sign, exponent or hex, at most nine digits after the point.
    const bool isNumber = !number.empty() && ParseSeconds(number, 1e9, value, ignored);
    const double slowest = TckHz(kMaxDivisor);
    hz = value * scale;
    if (isNumber && hz >= slowest * (1 - kSlack) && hz <= kFastestTckHz * (1 + kSlack)) {
        return true;
    }
    error = "'" + text + "' is not a clock the cable can run: give hertz from " +
            RateText(slowest) + " to " + RateText(kFastestTckHz) + ", e.g. 6M, 1.5MHz or 500k";
    return false;
}

}  // namespace kestrel

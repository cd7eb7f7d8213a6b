// How every command declares its numeric options: checked by inputs.h while the command line is
// parsed, so that a negative, wrapping or out-of-range value stops the tool with exit code 2
// before anything else happens (CLI11 alone would read "-4096" into an unsigned option as
// 2^64 - 4096).
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>

#include "common/inputs.h"
#include "common/tck.h"

namespace kestrel {

// A whole number in [min, max] (a multiple of `multiple` when above 1), decimal or 0x hex; the
// option then receives it as decimal text.
inline CLI::Validator Number(uint64_t min, uint64_t max, uint64_t multiple = 1) {
    return CLI::Validator(
        [=](std::string& text) {
            uint64_t value = 0;
            std::string error;
            if (!ParseNumber(text, min, max, multiple, value, error)) return error;
            text = std::to_string(value);
            return std::string();
        },
        std::to_string(min) + ".." + std::to_string(max));
}

// Seconds in [0, max], a plain decimal.
inline CLI::Validator Seconds(double max) {
    return CLI::Validator(
        [=](std::string& text) {
            double value = 0;
            std::string error;
            return ParseSeconds(text, max, value, error) ? std::string() : error;
        },
        "0.." + std::to_string(static_cast<uint64_t>(max)) + " s");
}

// A clock rate the cable can run (common/tck.h); the option then receives it in hertz.
inline CLI::Validator Clock() {
    return CLI::Validator(
        [](std::string& text) {
            double hz = 0;
            std::string error;
            if (!ParseClock(text, hz, error)) return error;
            char plain[32];
            std::snprintf(plain, sizeof plain, "%.17g", hz);
            text = plain;
            return std::string();
        },
        "RATE");
}

}  // namespace kestrel

// The clock the flash commands run at: the fastest the cable reaches (6 MHz) unless --clock or
// --divisor asks for a slower one, and never faster than the part's read command allows. The
// cable is opened as every command opens it; this clock is set after the flash has answered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

// What the command line asked for; neither: the fastest.
struct ClockRequest {
    std::optional<uint32_t> divisor;  // --divisor N
    std::optional<double> hz;         // --clock RATE, already held to the cable's range
};

// The fastest clock the part's read (0x03) takes, in hertz, from the tool's table of parts whose
// read is slower than others' (0: none known, the cable's fastest is taken). The SFDP table
// announces no clock for that read.
struct ReadClockLimit {
    double hz = 0;
    std::string part;
};
ReadClockLimit ReadClockLimitOf(const uint8_t id[3]);

// The divisor for the request on a part with `limit`: the one asked for (a rate rounded to the
// fastest TCK not above it), or the fastest the part allows. A request faster than the part's
// read allows is refused: `problem` says why and what to give instead.
uint32_t ChooseDivisor(const ClockRequest& request, const ReadClockLimit& limit,
                       std::string& problem);

}  // namespace kestrel

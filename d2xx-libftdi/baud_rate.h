// The baud-rate request of the FT2232C/D: a divisor of the chip's 3 MHz serial clock in eighths,
// with the channel's port number in the low byte of the request's index as the kernel's serial
// driver sends it. libftdi1's request for this chip leaves the port out, so it cannot set
// channel B's rate on its own; this library sends its own.
#pragma once

#include <cstdint>
#include <optional>

namespace ftl {

struct BaudRequest {
    uint16_t value;
    uint16_t index;   // without the port: the caller adds it to the low byte
    uint32_t actual;  // the rate the divisor gives
};

// The request for a rate, or null when no divisor comes within 3 % of it.
std::optional<BaudRequest> EncodeBaud(uint32_t baud);

}  // namespace ftl

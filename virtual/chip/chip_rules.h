// What the dual-channel chip takes for the settings a host sends it, from its datasheet: each rule
// written once, for both faces. A check gives null when the chip takes the value, or the rule it
// breaks. Whatever is refused is a model error that names the value and the rule (Refused), so a
// host that would fail on the desk fails loudly here. The vendor library's own narrower rules
// belong to the vendor face (entry_points/); the baud divisor's are in chip/baud_rate.h.
#pragma once

#include <cstdint>

#include "record/call_log.h"
#include "vendor_api/ft_types.h"

namespace vcable::rule {

// The latency timer, in ms.
const char* Latency(uint32_t ms);

// The UART's data characteristics, in the vendor's codes (which the USB request shares): word
// length in bits, stop bits 0 (one) or 2 (two), parity 0 to 4 (none, odd, even, mark, space).
const char* Line(uint32_t wordLength, uint32_t stopBits, uint32_t parity);

// The handshake, in the vendor's codes (the USB request's index high byte, shifted by 8).
const char* Flow(uint32_t handshake);

// A bit mode on a channel: channel A of the dual-channel chip has the MPSSE and the MCU host bus
// emulation, the other channels only the modes both share.
const char* BitMode(uint32_t mode, bool channelA);

// Whether the model acts out a bit mode (on a channel that has it). Writes, reads and polls in the
// others fail with a model error rather than pass silently.
bool Modelled(uint8_t mode);

// The name of a bit mode for messages ("MCU host bus emulation").
const char* BitModeName(uint8_t mode);

}  // namespace vcable::rule

namespace vcable {

// Records a refused request as the model error "<what>: <rule>" and gives `status`. `what`
// names the call or request and its value (printf format).
FtStatus Refused(FtStatus status, const char* rule, const char* what, ...) VC_PRINTF_FORMAT(3, 4);

}  // namespace vcable

// The model clock: what the host's calls would have cost on a real cable, kept for a full-speed
// and a high-speed chip side by side. Writes go out in USB (micro)frames and the engine clocks
// their bits at the divisor's TCK rate (or the UART's baud rate); replies reach the host in full
// packets at once and in a last partial packet when the latency timer runs out; settings and opens
// cost one control transfer each. The host's own processing time and pauses are not modelled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vendor_api/entry_list.h"

namespace vcable {

constexpr int kWireSpeeds = 2;  // 0 full speed, 1 high speed

// When the replies queued on a channel reach the host, per speed (picoseconds of model time).
struct WireReadiness {
    uint64_t readyPs[kWireSpeeds] = {0, 0};
};

// What one FT_Write did behind the USB link.
struct WireWrite {
    uint32_t bytes = 0;
    uint64_t tckCycles = 0;   // MPSSE: TCK cycles clocked
    uint64_t baseTicks = 0;   // MPSSE: their length in periods of the clock base (divisor applied)
    uint64_t uartBits = 0;    // UART: bits sent on the line
    uint32_t baudRate = 0;    // UART
    uint32_t replyBytes = 0;  // bytes the write put into the receive queue
    uint8_t latencyMs = 16;   // the channel's latency timer
};

void ClockWrite(WireReadiness& channel, const WireWrite& write);
// A poll that found pending bytes, and a read that returned some, wait until they are there.
void ClockPoll(const WireReadiness& channel, size_t pending);
void ClockRead(const WireReadiness& channel, uint32_t bytes);
// Every successful entry-point call: those that need the chip (opens, settings, EEPROM) cost a
// control transfer; the data calls are charged by the functions above.
void ClockCall(Entry entry);
void ResetWireClock();

struct WireClockTotals {
    uint64_t elapsedPs, wirePs, limitPs, tckCycles, uartBits, writes, reads, controlRequests,
        replyWaitPs;
};
WireClockTotals ReadWireClock(int speed);

}  // namespace vcable

// The model clock: what the host's calls would have cost on a real cable, kept for a full-speed
// and a high-speed chip side by side. Writes go out in USB (micro)frames and the engine clocks
// their bits at the divisor's TCK rate (or the UART's baud rate, or the bit-bang pace); settings
// and opens cost one control transfer each. How replies come back in packets is the receive path's
// business (chip/usb_delivery.h): it waits on this clock with WaitUntil and Elapse. The host's own
// processing time is not modelled; its pauses only when it reports them (HostWait).
#pragma once

#include <cstddef>
#include <cstdint>

#include "vendor_api/entry_list.h"

namespace vcable {

constexpr int kWireSpeeds = 2;  // 0 full speed, 1 high speed
constexpr int kFullSpeed = 0;

// The USB side of one speed as the chip's replies use it.
struct WireSpeed {
    uint64_t framePs;        // frame (full speed) or microframe (high speed)
    uint32_t inPacketBytes;  // payload of one IN packet (the chip adds 2 status bytes)
    uint32_t inPacketsPerFrame;
};
const WireSpeed& SpeedOf(int speed);

// What one FT_Write did behind the USB link.
struct WireWrite {
    uint32_t bytes = 0;
    uint64_t tckCycles = 0;  // MPSSE: TCK cycles clocked
    uint64_t baseTicks = 0;  // MPSSE: their length in periods of the clock base (divisor applied)
    uint64_t uartBits = 0;   // UART: bits sent on the line
    uint32_t baudRate = 0;   // UART: the rate the chip achieved
    uint64_t pinSteps = 0;   // bit-bang: updates of the lines
    uint64_t pinRateHz = 0;  // bit-bang: their rate, and the fastest the chip can run them
    uint64_t pinLimitHz = 0;
};

void ClockWrite(const WireWrite& write);
// Every successful entry-point call: those that need the chip (opens, settings, EEPROM) cost a
// control transfer; the data calls are charged by the functions above and below.
void ClockCall(Entry entry);
void ResetWireClock();

// Model time of one speed, in picoseconds from the last reset.
uint64_t NowPs(int speed);
// A poll or read that waits for replies: to a moment, or for a stretch; counted as reply wait.
void WaitUntil(int speed, uint64_t ps);
void Elapse(int speed, uint64_t ps);
// The host waits for `ns`: every speed's clock moves on by that much, up to half its range.
void HostWait(uint64_t ns);
// A read that returned bytes.
void CountRead(int speed);

struct WireClockTotals {
    uint64_t elapsedPs, wirePs, limitPs, tckCycles, uartBits, writes, reads, controlRequests,
        replyWaitPs, hostWaitPs;
};
WireClockTotals ReadWireClock(int speed);

}  // namespace vcable

// The model clock's arithmetic and state.
#include "record/wire_clock.h"

#include <algorithm>

namespace vcable {
namespace {

constexpr uint64_t kPsPerSecond = 1000000000000ull;

// One USB speed and the chip that runs at it.
struct Speed {
    WireSpeed in;               // the reply direction
    uint32_t outBytesPerFrame;  // bulk OUT: packets per frame times 64 or 512 bytes
    uint64_t baseClockHz;       // MPSSE clock base: TCK = base / ((1 + divisor) * 2)
    uint64_t maxTckHz;
    uint64_t maxBaud;
};
constexpr Speed kSpeeds[kWireSpeeds] = {
    {{1000000000ull, 62, 19}, 19 * 64, 12000000, 6000000, 3000000},     // FT2232D
    {{125000000ull, 510, 13}, 13 * 512, 60000000, 30000000, 12000000},  // FT2232H
};

uint64_t PsFor(uint64_t count, uint64_t hz) {
    if (hz == 0) return 0;
    return static_cast<uint64_t>(static_cast<unsigned __int128>(count) * kPsPerSecond / hz);
}

uint64_t Frames(uint64_t bytes, uint32_t perFrame) { return (bytes + perFrame - 1) / perFrame; }

// Owned by this file; advanced by the entry points, reset by the control API and the scenario.
struct WireClock {
    WireClockTotals speeds[kWireSpeeds];
};
WireClock clock{};

uint64_t NextFrame(uint64_t ps, uint64_t framePs) { return (ps + framePs - 1) / framePs * framePs; }

bool IsControlRequest(Entry entry) {
    switch (entry) {
        case Entry::FT_Open:
        case Entry::FT_OpenEx:
        case Entry::FT_Close:
        case Entry::FT_ResetDevice:
        case Entry::FT_ResetPort:
        case Entry::FT_CyclePort:
        case Entry::FT_SetBaudRate:
        case Entry::FT_SetChars:
        case Entry::FT_Purge:
        case Entry::FT_SetBreakOn:
        case Entry::FT_SetBreakOff:
        case Entry::FT_GetBitMode:
        case Entry::FT_SetBitMode:
        case Entry::FT_SetLatencyTimer:
        case Entry::FT_GetLatencyTimer:
        case Entry::FT_EraseEE:
        case Entry::FT_EE_Program:
        case Entry::FT_EE_Read:
        case Entry::FT_EE_UASize:
        case Entry::FT_EE_UARead:
        case Entry::FT_EE_UAWrite:
        case Entry::FT_SetDataCharacteristics:
        case Entry::FT_SetFlowControl:
        case Entry::FT_SetDtr:
        case Entry::FT_ClrDtr:
            return true;
        default:
            // Lists, rescans and versions are the driver's own business; data calls are charged
            // by what they move.
            return false;
    }
}

}  // namespace

const WireSpeed& SpeedOf(int speed) { return kSpeeds[speed].in; }

void ClockWrite(const WireWrite& write) {
    if (write.bytes == 0) return;
    for (int s = 0; s < kWireSpeeds; ++s) {
        const Speed& speed = kSpeeds[s];
        const uint64_t framePs = speed.in.framePs;
        WireClockTotals& t = clock.speeds[s];
        const uint64_t start = NextFrame(t.elapsedPs, framePs);
        const uint64_t usb = Frames(write.bytes, speed.outBytesPerFrame) * framePs;
        const uint64_t wire = PsFor(write.baseTicks, speed.baseClockHz) +
                              PsFor(write.uartBits, write.baudRate) +
                              PsFor(write.pinSteps, write.pinRateHz);
        // The chip takes the data as fast as the slower of the link and its own clocking.
        t.elapsedPs = start + std::max(usb, wire);
        t.wirePs += wire;
        t.limitPs += PsFor(write.tckCycles, speed.maxTckHz) + PsFor(write.uartBits, speed.maxBaud) +
                     PsFor(write.pinSteps, write.pinLimitHz);
        t.tckCycles += write.tckCycles;
        t.uartBits += write.uartBits;
        ++t.writes;
    }
}

void ClockCall(Entry entry) {
    if (!IsControlRequest(entry)) return;
    for (int s = 0; s < kWireSpeeds; ++s) {
        WireClockTotals& t = clock.speeds[s];
        const uint64_t framePs = kSpeeds[s].in.framePs;
        t.elapsedPs = NextFrame(t.elapsedPs, framePs) + framePs;
        ++t.controlRequests;
    }
}

void ResetWireClock() { clock = WireClock{}; }

uint64_t NowPs(int speed) { return clock.speeds[speed].elapsedPs; }

void WaitUntil(int speed, uint64_t ps) {
    WireClockTotals& t = clock.speeds[speed];
    if (ps <= t.elapsedPs) return;
    t.replyWaitPs += ps - t.elapsedPs;
    t.elapsedPs = ps;
}

void Elapse(int speed, uint64_t ps) { WaitUntil(speed, clock.speeds[speed].elapsedPs + ps); }

void HostWait(uint64_t ns) {
    constexpr uint64_t kPsPerNs = 1000;
    // Waits stop at half the clock's range (about 106 days), so that the frames and wire time
    // that follow them cannot wrap it back to the start.
    constexpr uint64_t kLastWaitPs = UINT64_MAX / 2;
    const uint64_t ps = ns > UINT64_MAX / kPsPerNs ? UINT64_MAX : ns * kPsPerNs;
    for (WireClockTotals& t : clock.speeds) {
        const uint64_t step = std::min(ps, kLastWaitPs - std::min(t.elapsedPs, kLastWaitPs));
        t.elapsedPs += step;
        t.hostWaitPs += step;
    }
}

void CountRead(int speed) { ++clock.speeds[speed].reads; }

WireClockTotals ReadWireClock(int speed) { return clock.speeds[speed]; }

}  // namespace vcable

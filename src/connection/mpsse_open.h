// The MPSSE bring-up of channel A and the one open sequence that OpenDevice and its variants are
// parameterised forms of.
#pragma once

#include <cstdint>

#include "binding/d2xx.h"
#include "platform/platform.h"

namespace kl::connection {

// The pins the bring-up sets on channel A, sent as one command: the low byte, the high byte when
// setsHighByte, then loopback off. InitialPinCommand serves OpenDevice and most variants; the
// EDP opens' form also drives GPIOL0 and GPIOH2. The levels and directions become the stored pin
// state (a high byte that is not set keeps its stored direction).
struct PinCommand {
    uint8_t lowLevels;
    uint8_t lowDirections;
    bool setsHighByte;
    uint8_t highLevels;
    uint8_t highDirections;
};
const PinCommand& InitialPinCommand();
const PinCommand& EdpPinCommand();

// The stages of the bring-up of channel A, in order, each named for what it does; a failed
// bring-up returns the stage that failed. Each value is OpenDevice's result code for a failure
// there; the other opens and provisioning map the stages to codes and reports of their own.
enum class BringUpStep : int {
    Done = 0,
    Reset = 10,
    FirstPoll = 11,
    LatencyTimer = 12,
    BitModeReset = 13,
    MpsseMode = 14,
    Sync = 15,
    PinCommand = 16,
    ClockDivisor = 17,
    FinalPoll = 18,
};

// Hooks that let provisioning log progress during the bring-up without a second copy of it.
struct BringUpHooks {
    void (*afterReset)() = nullptr;           // channel A reset succeeded
    void (*afterConnectionOpen)() = nullptr;  // ConnectionOpen was just set
};

struct BringUpOptions {
    uint32_t divisor = 0;
    bool storeDivisor = true;                // provisioning runs at divisor 5 without storing it
    const PinCommand* pinCommand = nullptr;  // null: InitialPinCommand
    BringUpHooks hooks{};
};

// Brings the current channel (channel A) up as a synchronised MPSSE engine, stage by stage: reset,
// first queue poll, after which the connection counts as open, latency timer 2 ms, bit mode reset,
// MPSSE mode, sync, pin command, clock divisor, and a final poll that must find nothing waiting.
// Returns the stage that failed, or Done.
BringUpStep BringUpMpsse(const BringUpOptions& options);

// Empties the receive queue (in ReadBuffer-sized blocks, counting RxQueueBytes down), sends the
// bad command and looks for its echo. 1 when the engine answered in step, else 0.
int SyncMpsse();

// OpenDevice's open sequence with the variants' differences as data. The sequence: empty the
// queue, close a stale channel, rescan the bus, list and pair the devices, open channel A and
// make it current, bring it up, then open channel B and end on channel A.
struct OpenSequence {
    bool rescan = true;                      // rescan the bus before listing the devices
    bool openChannelB = true;                // open channel B once channel A is up
    const PinCommand* pinCommand = nullptr;  // the bring-up's pins; null: InitialPinCommand
    // Runs once channel A is up, before channel B is opened (OpenDevice_EDP2 reads the user area).
    void (*afterBringUp)(void* context) = nullptr;
    void* context = nullptr;
};

// Results of the open's own calls (the discovery's are in channel_pair.h, the bring-up's are the
// BringUpStep values).
enum : int {
    kOpenRescanFailed = 2,
    kOpenChannelAFailed = 9,
    kOpenChannelBFailed = 21,
};

// The open sequence as selected: 0, or the result code of the call that failed. Ends with
// channel A current whenever channel A was opened.
int RunMpsseOpen(const WChar* descriptionPart, const WChar* serialPart, uint32_t divisor,
                 const OpenSequence& sequence);

}  // namespace kl::connection

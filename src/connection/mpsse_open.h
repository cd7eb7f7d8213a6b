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

// Where the bring-up of channel A failed (steps 8 to 17 of OpenDevice). The opens map each to
// their own result code and report.
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

// Steps 8 to 17 on the current handle (channel A): reset, first poll, ConnectionOpen := 1,
// latency timer 2 ms, bit mode reset, MPSSE mode, sync, pin command, clock divisor, final poll.
// Returns the step that failed (its value is OpenDevice's result code for it), or Done.
BringUpStep BringUpMpsse(const BringUpOptions& options);

// Empties the receive queue (in ReadBuffer-sized blocks, counting RxQueueBytes down), sends the
// bad command and looks for its echo. 1 when the engine answered in step, else 0.
int SyncMpsse();

}  // namespace kl::connection

namespace kl::connection {

// The open sequence of OpenDevice (steps 1 to 18) with the variants' differences as data.
struct OpenSequence {
    bool rescan = true;                      // step 3
    bool openChannelB = true;                // step 18
    const PinCommand* pinCommand = nullptr;  // step 15; null: InitialPinCommand
    // Runs between steps 17 and 18 (OpenDevice_EDP2 reads the user area there).
    void (*afterBringUp)(void* context) = nullptr;
    void* context = nullptr;
};

// Results of the open steps outside discovery and bring-up (see channel_pair.h for 1, 3 to 6
// and 19, BringUpStep for 10 to 18).
enum : int {
    kOpenRescanFailed = 2,
    kOpenChannelAFailed = 9,
    kOpenChannelBFailed = 21,
};

// Steps 1 to 18 of OpenDevice as the sequence selects them: 0, or the result code of the step
// that failed. Ends with channel A current whenever channel A was opened.
int RunMpsseOpen(const WChar* descriptionPart, const WChar* serialPart, uint32_t divisor,
                 const OpenSequence& sequence);

}  // namespace kl::connection

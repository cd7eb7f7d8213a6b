// Taking an opened channel A to a synchronised MPSSE engine: the bring-up shared by every MPSSE
// open, the provisioning procedure and CheckDeviceTalkable.
#include "connection/channel_pair.h"
#include "connection/mpsse_open.h"
#include "mpsse/clock.h"
#include "mpsse/commands.h"
#include "mpsse/pins.h"
#include "mpsse/stream.h"

namespace kl::connection {
namespace {

using namespace kl::mpsse;

constexpr uint8_t kLatencyTimerMs = 2;

constexpr PinCommand kInitialPinCommand{kDefaultLowLevels, kOpenLowDirections, false, 0, 0};
constexpr PinCommand kEdpPinCommand{kDefaultLowLevels, kEdpLowDirections, true, kDefaultHighLevels,
                                    kEdpHighDirections};

// The echo of the bad command takes two bytes; the wait polls 10 times, 20 ms apart.
constexpr uint32_t kEchoBytes = 2;
constexpr uint32_t kEchoPolls = 10;
constexpr uint32_t kEchoPauseMs = 20;

void RunHook(void (*hook)()) {
    if (hook) hook();
}

// One poll of the receive queue; false when it failed.
bool PollOnce(FtStatus& status) {
    WaitRxAtLeast(status, 0, 1);
    return status == kFtOk;
}

// Reads and drops everything the last poll found queued, in ReadBuffer-sized blocks, without
// polling again between blocks. Read failures are reported by ReadRxBytes and not tested here.
void PurgeReceiveQueue() {
    FtStatus status = kFtOk;
    uint32_t pending = binding::RxQueueBytes();
    if (pending == 0) return;
    while (pending > kBufferSize) {
        ReadRxBytes(kBufferSize, ReadBuffer(), status, kBufferSize);
        binding::SetRxQueueBytes(binding::RxQueueBytes() - kBufferSize);
        pending = binding::RxQueueBytes();
    }
    ReadRxBytes(pending, ReadBuffer(), status, kBufferSize);
}

}  // namespace

const PinCommand& InitialPinCommand() { return kInitialPinCommand; }
const PinCommand& EdpPinCommand() { return kEdpPinCommand; }

int SyncMpsse() {
    FtStatus status = kFtOk;
    if (!PollOnce(status)) return 0;
    PurgeReceiveQueue();
    SendImmediate({BadCommand()}, status);
    if (status != kFtOk) return 0;
    WaitRxWithPause(status, kEchoBytes, kEchoPolls, kEchoPauseMs);
    if (status != kFtOk) return 0;
    const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), ReadBuffer(), status, kBufferSize);
    for (uint32_t i = 0; i < got; ++i) {
        if (ReadBuffer()[i] == kBadCommand) return 1;
    }
    return 0;
}

BringUpStep BringUpMpsse(const BringUpOptions& options) {
    FtStatus status = kFtOk;
    if (ft::FT_ResetDevice() != kFtOk) return BringUpStep::Reset;
    RunHook(options.hooks.afterReset);
    if (!PollOnce(status)) return BringUpStep::FirstPoll;
    SetConnectionOpen(true);
    RunHook(options.hooks.afterConnectionOpen);
    if (ft::FT_SetLatencyTimer(kLatencyTimerMs, status) != kFtOk) return BringUpStep::LatencyTimer;
    if (ft::FT_SetBitMode(kFtBitMaskAllInputs, kFtBitModeReset, status) != kFtOk) {
        return BringUpStep::BitModeReset;
    }
    if (ft::FT_SetBitMode(kFtBitMaskAllInputs, kFtBitModeMpsse, status) != kFtOk) {
        return BringUpStep::MpsseMode;
    }
    if (SyncMpsse() == 0) return BringUpStep::Sync;

    const PinCommand& pins = options.pinCommand ? *options.pinCommand : kInitialPinCommand;
    Pins().lowDirection = pins.lowDirections;
    Pins().lowValue = pins.lowLevels;
    CommandList pinCommand{SetLowBits(pins.lowLevels, pins.lowDirections)};
    if (pins.setsHighByte) {
        Pins().highDirection = pins.highDirections;
        pinCommand.Add(SetHighBits(pins.highLevels, pins.highDirections));
    }
    pinCommand.Add(LoopbackOff());
    SendImmediate(pinCommand, status);
    if (status != kFtOk) return BringUpStep::PinCommand;

    if (options.storeDivisor) Pins().clockDivisor = options.divisor;
    SetClockDivisor(options.divisor, status);
    if (status != kFtOk) return BringUpStep::ClockDivisor;

    if (!PollOnce(status) || binding::RxQueueBytes() > 0) return BringUpStep::FinalPoll;
    return BringUpStep::Done;
}

}  // namespace kl::connection

// The immediate JTAG pin operations: reading the low pin byte and the GPIOL1 reset pulse.
#include "kestrellink.h"
#include "mpsse/commands.h"
#include "mpsse/jtag.h"
#include "mpsse/pins.h"
#include "mpsse/stream.h"
#include "platform/platform.h"

namespace kl::mpsse {

int ReadLowPort(uint8_t& value) {
    FtStatus status = kFtOk;
    SendImmediate({ReadLowBits()}, status);
    if (status != kFtOk) return kJtagTransferFailed;
    // The wait's status is kept: when it failed and nothing is queued, no read happens and the
    // failed status decides the result.
    WaitRxAtLeast(status, 1, kPortReadMinPolls);
    const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), &value, status, 1);
    return got == 0 || status != kFtOk ? kJtagTransferFailed : kJtagOk;
}

}  // namespace kl::mpsse

namespace kl::exports {

using namespace mpsse;

int JTAG_ReadPort(kl_u8* value) {
    if (!value) return kJtagTransferFailed;
    return ReadLowPort(*value);
}

// Pulses GPIOL1 low for assertMs (driving it as an output meanwhile), then releases it to its
// stored direction at level 1. Write failures are not reported.
void ResetXilinx(kl_u32 assertMs, kl_u32 releaseMs) {
    PinState& pins = Pins();
    pins.lowValue = kDefaultLowLevels;
    FtStatus status = kFtOk;
    SendImmediate({SetLowBits(kDefaultLowLevels & ~kPinGpioL1, pins.lowDirection | kPinGpioL1)},
                  status);
    platform::SleepMs(assertMs);
    SendImmediate({SetLowBits(pins.lowValue, pins.lowDirection)}, status);
    platform::SleepMs(releaseMs);
}

}  // namespace kl::exports

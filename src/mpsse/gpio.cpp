// The GPIO line operations and the GPIOH1 test.
#include "kestrellink.h"
#include "mpsse/commands.h"
#include "mpsse/pins.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

constexpr int kPinOk = 0;
constexpr int kPinWriteFailed = 4;
constexpr int kGpioH1NotLow = 8;

constexpr uint32_t kPinReadMinPolls = 500;
constexpr uint32_t kPinReadScratch = 8;

// The default levels with one GPIOL line lowered.
constexpr uint8_t LevelsWithLow(uint8_t line) {
    return static_cast<uint8_t>(kDefaultLowLevels & ~line);
}

// Sets the low byte to levels with LowPinDirection. LowPinValue becomes levels on success and the
// default levels when the write failed.
int SetLowLevels(uint8_t levels) {
    FtStatus status = kFtOk;
    SendImmediate({SetLowBits(levels, Pins().lowDirection)}, status);
    Pins().lowValue = status == kFtOk ? levels : kDefaultLowLevels;
    return status == kFtOk ? kPinOk : kPinWriteFailed;
}

// Sets the high byte with GPIOH2's level taken from bit 2 of LowPinValue, which records it.
int SetGpioH2(bool high) {
    const uint8_t levels = high ? static_cast<uint8_t>(Pins().lowValue | kPinGpioH2)
                                : static_cast<uint8_t>(Pins().lowValue & ~kPinGpioH2);
    FtStatus status = kFtOk;
    SendImmediate({SetHighBits(levels, Pins().highDirection)}, status);
    if (status != kFtOk) return kPinWriteFailed;
    Pins().lowValue = levels;
    return kPinOk;
}

}  // namespace
}  // namespace kl::mpsse

namespace kl::exports {

using namespace mpsse;

int Disable_AllTalk() { return SetLowLevels(kDefaultLowLevels); }
int GPIOL_low() { return SetLowLevels(LevelsWithLow(kPinGpioL0)); }
int GPIO2_low2() { return SetLowLevels(LevelsWithLow(kPinGpioL2)); }
int GPIO3_low() { return SetLowLevels(LevelsWithLow(kPinGpioL3)); }

// GPIOL2 low and every high-byte line made an input; HighPinDirection stays as it was.
int GPIO2_low() {
    constexpr uint8_t levels = LevelsWithLow(kPinGpioL2);
    FtStatus status = kFtOk;
    SendImmediate(
        {SetLowBits(levels, Pins().lowDirection), SetHighBits(kDefaultHighLevels, kAllInputs)},
        status);
    Pins().lowValue = levels;
    return status == kFtOk ? kPinOk : kPinWriteFailed;
}

int GPIOH2_high() { return SetGpioH2(true); }
int GPIOH2_low() { return SetGpioH2(false); }

// Tests GPIOH1 once: 0 when exactly one reply byte came and its bit 1 is clear.
int Wait_GPIOH1_Low() {
    FtStatus status = kFtOk;
    SendImmediate({ReadHighBits()}, status);
    if (status != kFtOk) return kPinWriteFailed;
    WaitRxAtLeast(status, 1, kPinReadMinPolls);
    if (status != kFtOk) return kPinWriteFailed;
    uint8_t scratch[kPinReadScratch];
    const uint32_t got = ReadRxBytes(binding::RxQueueBytes(), scratch, status, kPinReadScratch);
    return got == 1 && (scratch[0] & kPinGpioH1) == 0 ? kPinOk : kGpioH1NotLow;
}

}  // namespace kl::exports

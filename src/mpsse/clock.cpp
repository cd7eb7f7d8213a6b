// The clock divisor: the command every open ends its bring-up with, and FTDI_SetClk.
#include "mpsse/clock.h"

#include "kestrellink.h"
#include "mpsse/opcodes.h"
#include "mpsse/stream.h"

namespace kl::mpsse {
namespace {

constexpr int kClockSet = 0;
constexpr int kClockNotSet = 17;

}  // namespace

void SetClockDivisor(uint32_t divisor, FtStatus& status) {
    if (divisor > kMaxDivisor) {
        status = kDivisorOutOfRange;
        return;
    }
    SendImmediate({kSetDivisor, static_cast<uint8_t>(divisor), static_cast<uint8_t>(divisor >> 8)},
                  status);
}

}  // namespace kl::mpsse

// ClockDivisor takes the new value even when it cannot be set, so that JTAG_Clk restores it.
extern "C" int FTDI_SetClk(kl_u32 divisor) {
    kl::mpsse::Pins().clockDivisor = divisor;
    kl::FtStatus status = kl::kFtOk;
    kl::mpsse::SetClockDivisor(divisor, status);
    return status == kl::kFtOk ? kl::mpsse::kClockSet : kl::mpsse::kClockNotSet;
}

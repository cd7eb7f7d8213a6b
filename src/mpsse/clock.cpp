// The clock divisor: the command every open ends its bring-up with, and FTDI_SetClk.
#include "mpsse/clock.h"

#include "kestrellink.h"
#include "mpsse/commands.h"
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
    SendImmediate({SetDivisor(divisor)}, status);
}

}  // namespace kl::mpsse

namespace kl::exports {

// ClockDivisor takes the new value even when it cannot be set, so that JTAG_Clk restores it.
int FTDI_SetClk(kl_u32 divisor) {
    mpsse::Pins().clockDivisor = divisor;
    FtStatus status = kFtOk;
    mpsse::SetClockDivisor(divisor, status);
    return status == kFtOk ? mpsse::kClockSet : mpsse::kClockNotSet;
}

}  // namespace kl::exports

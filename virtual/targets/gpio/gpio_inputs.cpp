#include "targets/gpio/gpio_inputs.h"

#include "targets/bit_stream.h"

namespace vcable {

void GpioInputs::Set(int line, int level) {
    if (line < 0 || line >= pin::kCount) return;
    const uint16_t bit = static_cast<uint16_t>(1u << line);
    if (level == 0 || level == 1) {
        mask_ |= bit;
        levels_ = static_cast<uint16_t>(level ? (levels_ | bit) : (levels_ & ~bit));
    } else {
        mask_ &= static_cast<uint16_t>(~bit);
        levels_ &= static_cast<uint16_t>(~bit);
    }
}

void GpioInputs::Schedule(int line, int level, uint32_t afterPolls) {
    pending_.push_back({line, level, afterPolls});
}

void GpioInputs::OnPoll() {
    // Changes fire in the order they were scheduled.
    for (size_t i = 0; i < pending_.size();) {
        ScheduledDrive& change = pending_[i];
        if (change.afterPolls <= 1) {
            Set(change.line, change.level);
            pending_.erase(pending_.begin() + static_cast<long>(i));
        } else {
            --change.afterPolls;
            ++i;
        }
    }
}

std::unique_ptr<PinTarget> BuildTarget(const GpioSetup& setup, TargetEvents&) {
    return std::make_unique<GpioInputs>(setup);
}

void GpioInputs::RunFast(const ClockRun& run, uint8_t* tdo) {
    const uint16_t tdoBit = 1u << pin::kTdo;
    bits::Fill(tdo, 0, run.periods, !(mask_ & tdoBit) || (levels_ & tdoBit));
}

}  // namespace vcable

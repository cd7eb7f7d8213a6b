#include "engine/pin_bus.h"

#include <algorithm>

#include "targets/bit_stream.h"

namespace vcable {
namespace {
// Enough rounds for a target that answers a change of another target's output; more would mean
// two targets feeding each other, which no wiring here does.
constexpr int kSettleRounds = 4;
}  // namespace

void PinBus::Attach(PinTarget* target) {
    targets_.push_back(target);
    if (everNotified_) {
        target->OnPins(seen_);
        Settle();
    }
}

void PinBus::SetLowByte(uint8_t value, uint8_t direction) {
    outputs_ = static_cast<uint16_t>((outputs_ & 0xFF00) | value);
    directions_ = static_cast<uint16_t>((directions_ & 0xFF00) | direction);
    Settle();
}

void PinBus::SetHighByte(uint8_t value, uint8_t direction) {
    // Only GPIOH0 to GPIOH3 exist: the other bits stay undriven inputs.
    constexpr uint8_t kExisting = (1u << (pin::kLineCount - 8)) - 1;
    outputs_ = static_cast<uint16_t>((outputs_ & 0x00FF) | (value << 8));
    directions_ = static_cast<uint16_t>((directions_ & 0x00FF) | ((direction & kExisting) << 8));
    Settle();
}

void PinBus::SetOutputBit(int line, bool level) {
    const uint16_t bit = static_cast<uint16_t>(1u << line);
    const uint16_t next = static_cast<uint16_t>(level ? (outputs_ | bit) : (outputs_ & ~bit));
    if (next == outputs_) return;
    outputs_ = next;
    if (directions_ & bit) Settle();
}

void PinBus::AllInputs() {
    directions_ = 0;
    Settle();
}

uint16_t PinBus::Compute() const {
    uint16_t low = 0;
    for (const PinTarget* target : targets_) {
        const uint16_t mask = target->DriveMask();
        low |= static_cast<uint16_t>(mask & ~target->DriveLevels());
    }
    const uint16_t inputs = static_cast<uint16_t>(~low);
    return static_cast<uint16_t>((outputs_ & directions_) | (inputs & ~directions_));
}

void PinBus::Settle() {
    for (int round = 0; round < kSettleRounds; ++round) {
        const uint16_t now = Compute();
        if (now == seen_ && everNotified_) return;
        seen_ = now;
        everNotified_ = true;
        if (hook_) hook_(hookUser_, time_, now);
        for (PinTarget* target : targets_) target->OnPins(now);
    }
}

void PinBus::Poll() {
    for (PinTarget* target : targets_) target->OnPoll();
    Settle();
}

bool PinBus::RunFast(const ClockRun& run, uint8_t* tdo) {
    if (!everNotified_) return false;
    for (const PinTarget* target : targets_) {
        if (!target->CanRunFast(run)) return false;
    }
    const uint32_t bytes = bits::StreamBytes(run.periods);
    if (scratch_.size() < bytes) scratch_.resize(bytes);
    std::fill_n(tdo, bytes, 0xFF);
    for (PinTarget* target : targets_) {
        target->RunFast(run, scratch_.data());
        for (uint32_t k = 0; k < bytes; ++k) tdo[k] &= scratch_[k];
    }
    return true;
}

}  // namespace vcable

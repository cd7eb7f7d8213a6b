// Clocking: every bit is one full TCK period started from the clock line's idle level. The data
// bit is on DO (and the TMS bit on TMS) before the period's first edge and stays until the next
// bit, so a target that samples on either edge sees it; DI is sampled at the chosen edge before
// the targets react to that edge.
#include "engine/mpsse_engine.h"
#include "engine/opcodes.h"

namespace vcable {

using namespace mpsse;

bool MpsseEngine::ReadDi() const {
    if (loopback_) return ((pins_.Outputs() >> pin::kTdi) & 1) != 0;
    return LineHigh(pins_.Levels(), pin::kTdo);
}

bool MpsseEngine::ClockBit(int tdi, int tms, bool inOnFalling) {
    const uint64_t halfPeriod = 1ull + divisor_;
    pins_.SetTime(baseTicks_);
    if (tdi >= 0) pins_.SetOutputBit(pin::kTdi, tdi != 0);
    if (tms >= 0) pins_.SetOutputBit(pin::kTms, tms != 0);
    const bool idle = ((pins_.Outputs() >> pin::kTck) & 1) != 0;
    bool sampled = false;
    uint64_t edgeTime = baseTicks_;
    for (bool level : {!idle, idle}) {
        const bool falling = !level;
        if (falling == inOnFalling) sampled = ReadDi();
        edgeTime += halfPeriod;
        pins_.SetTime(edgeTime);
        pins_.SetOutputBit(pin::kTck, level);
    }
    ++tckCycles_;
    baseTicks_ = edgeTime;
    return sampled;
}

// Captured bits enter the reply byte the way the chip shifts them in: LSB first from the top (the
// last bit ends in bit 7), MSB first from the bottom (the last bit ends in bit 0).
uint8_t MpsseEngine::ShiftBits(uint8_t op, uint8_t data, int bits) {
    const bool lsb = (op & kLsbFirst) != 0;
    const bool write = (op & kWriteTdi) != 0;
    const bool inFalling = (op & kInOnFallingEdge) != 0;
    uint8_t in = 0;
    for (int i = 0; i < bits; ++i) {
        const int out = write ? ((lsb ? data >> i : data >> (7 - i)) & 1) : -1;
        const uint8_t bit = ClockBit(out, -1, inFalling) ? 1 : 0;
        in = lsb ? static_cast<uint8_t>((in >> 1) | (bit << 7))
                 : static_cast<uint8_t>((in << 1) | bit);
    }
    return in;
}

// TMS commands: bits 0 to 6 of the data byte go out on TMS, bit 0 first; bit 7 is put on TDI
// before the first clock and held there. TDO is captured like an LSB-first bit read.
uint8_t MpsseEngine::ShiftTms(uint8_t op, uint8_t data, int bits) {
    const bool inFalling = (op & kInOnFallingEdge) != 0;
    const int tdi = (data & kTmsTdiBit) ? 1 : 0;
    uint8_t in = 0;
    for (int i = 0; i < bits; ++i) {
        const uint8_t bit = ClockBit(tdi, (data >> i) & 1, inFalling) ? 1 : 0;
        in = static_cast<uint8_t>((in >> 1) | (bit << 7));
    }
    return in;
}

void MpsseEngine::ShiftDataByte(uint8_t byte, std::vector<uint8_t>& rx) {
    const uint8_t in = ShiftBits(op_, byte, 8);
    if (Tracing() && (op_ & kWriteTdi)) TraceData("data", byte);
    if (op_ & kReadTdo) {
        rx.push_back(in);
        if (Tracing()) TraceData("reply", in);
    }
}

void MpsseEngine::ShiftDataBytes(const uint8_t* data, uint32_t count, std::vector<uint8_t>& rx) {
    if (count == 0 || FastShift(data, 8 * count, true, rx)) return;
    for (uint32_t i = 0; i < count; ++i) ShiftDataByte(data ? data[i] : 0, rx);
}

// Bit-bang: each update takes 12 MHz / rate base ticks; what falls short of a whole tick is
// carried to the next, so the lines keep the pace of the chip's baud-rate generator exactly.
void MpsseEngine::BitBang(const uint8_t* data, size_t count, uint8_t direction, uint64_t rateHz,
                          uint8_t* samples) {
    constexpr uint64_t kBaseClockHz = 12000000;
    writeStartTicks_ = baseTicks_;
    for (size_t i = 0; i < count; ++i) {
        if (samples != nullptr) samples[i] = LowPinLevels();
        pins_.SetTime(baseTicks_);
        pins_.SetLowByte(data[i], direction);
        if (rateHz == 0) continue;
        bitBangCarry_ += kBaseClockHz;
        baseTicks_ += bitBangCarry_ / rateHz;
        bitBangCarry_ %= rateHz;
    }
}

}  // namespace vcable

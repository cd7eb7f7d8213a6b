// The fast path of the data-shifting commands: instead of moving the pins edge by edge (two
// settles of the whole bus per bit), the command's periods go to the targets as one run that
// they act out on their registers, and the engine assembles the replies from the TDO stream
// they return. It applies where the edge-by-edge clocking is simple: TCK an output resting low,
// DI an input, and every target able to take the run; everything else takes the slow path.
#include "engine/mpsse_engine.h"
#include "engine/opcodes.h"
#include "targets/bit_stream.h"

namespace vcable {

using namespace mpsse;

namespace {

// The last bit a write puts on DO, where the chip leaves the line after the command.
bool LastWrittenBit(const uint8_t* data, uint32_t periods, bool byteMode, bool lsb) {
    if (byteMode) {
        const uint8_t last = data[periods / 8 - 1];
        return lsb ? (last >> 7) != 0 : (last & 1) != 0;
    }
    return ((lsb ? data[0] >> (periods - 1) : data[0] >> (8 - periods)) & 1) != 0;
}

}  // namespace

bool MpsseEngine::FastShift(const uint8_t* data, uint32_t periods, bool byteMode,
                            std::vector<uint8_t>& rx) {
    // A pin hook wants every edge with its time, which only the edge-by-edge path gives.
    if (!fastPaths_ || pinHookFn_ || periods == 0) return false;
    const uint16_t tckBit = 1u << pin::kTck;
    const uint16_t tdiBit = 1u << pin::kTdi;
    const uint16_t tdoBit = 1u << pin::kTdo;
    const uint16_t outputs = pins_.Outputs();
    const uint16_t directions = pins_.Directions();
    if (!(directions & tckBit) || (outputs & tckBit) || (directions & tdoBit)) return false;
    const bool writes = data != nullptr;
    const bool tdiDriven = writes && (directions & tdiBit);
    // With loopback, DI reads what is written to DO even when DO is not an output: rare, slow.
    if (loopback_ && writes && !tdiDriven) return false;

    const bool lsb = (op_ & kLsbFirst) != 0;
    const uint32_t bytes = bits::StreamBytes(periods);
    if (tdiStream_.size() < bytes) {
        tdiStream_.resize(bytes);
        tdoStream_.resize(bytes);
    }
    uint8_t* tdi = tdiStream_.data();
    if (tdiDriven) {
        const uint32_t dataBytes = byteMode ? periods / 8 : 1;
        for (uint32_t k = 0; k < dataBytes; ++k) tdi[k] = lsb ? data[k] : bits::Reverse(data[k]);
    } else {
        // DO keeps its level; with loopback DI reads the output register's bit.
        const uint16_t source = loopback_ ? outputs : pins_.Levels();
        bits::Fill(tdi, 0, periods, (source & tdiBit) != 0);
    }

    const ClockRun run{pins_.Levels(), tdi, periods, (op_ & kInOnFallingEdge) != 0};
    uint8_t* tdo = tdoStream_.data();
    if (!pins_.RunFast(run, tdo)) return false;
    if (loopback_) tdo = tdi;

    uint16_t after = outputs;
    if (writes) {
        const bool last = LastWrittenBit(data, periods, byteMode, lsb);
        after = static_cast<uint16_t>(last ? (after | tdiBit) : (after & ~tdiBit));
    }
    pins_.FinishRun(after);
    tckCycles_ += periods;
    fastCycles_ += periods;
    baseTicks_ += 2ull * (1ull + divisor_) * periods;

    const size_t firstReply = rx.size();
    if (op_ & kReadTdo) {
        if (byteMode) {
            rx.resize(firstReply + periods / 8);
            for (uint32_t k = 0; k < periods / 8; ++k) {
                rx[firstReply + k] = lsb ? tdo[k] : bits::Reverse(tdo[k]);
            }
        } else {
            // As the chip shifts captures in: LSB first from the top, MSB first from the bottom.
            const auto s = static_cast<uint8_t>(tdo[0] & ((1u << periods) - 1));
            rx.push_back(
                static_cast<uint8_t>(lsb ? s << (8 - periods) : bits::Reverse(s) >> (8 - periods)));
        }
    }
    if (Tracing()) {
        if (writes) {
            for (uint32_t k = 0; k < (byteMode ? periods / 8 : 1); ++k) TraceData("data", data[k]);
        }
        for (size_t k = firstReply; k < rx.size(); ++k) TraceData("reply", rx[k]);
    }
    return true;
}

}  // namespace vcable

// The chip's rules for its settings, and the model error of a refusal.
#include "chip/chip_rules.h"

#include <cstdarg>
#include <cstdio>

namespace vcable::rule {
namespace {

constexpr uint32_t kMinLatencyMs = 1;
constexpr uint32_t kMaxLatencyMs = 255;

struct ModeRow {
    uint8_t mode;
    const char* name;
    bool channelAOnly;
    bool onThisChip;
    bool modelled;
};
// Every mode value the vendor documents, and where the dual-channel chip has it.
constexpr ModeRow kModes[] = {
    {kBitModeReset, "reset (UART)", false, true, true},
    {kBitModeAsyncBitBang, "asynchronous bit-bang", false, true, true},
    {kBitModeMpsse, "MPSSE", true, true, true},
    {kBitModeSyncBitBang, "synchronous bit-bang", false, true, true},
    {kBitModeMcuHost, "MCU host bus emulation", true, true, false},
    {kBitModeFastSerial, "fast opto-isolated serial", false, true, false},
    {kBitModeCbusBitBang, "CBUS bit-bang", false, false, false},
    {kBitModeSyncFifo, "single-channel synchronous FIFO", false, false, false},
};

const ModeRow* FindMode(uint32_t mode) {
    for (const ModeRow& row : kModes) {
        if (row.mode == mode) return &row;
    }
    return nullptr;
}

}  // namespace

const char* Latency(uint32_t ms) {
    if (ms < kMinLatencyMs || ms > kMaxLatencyMs)
        return "the chip's latency timer takes 1 to 255 ms";
    return nullptr;
}

const char* Line(uint32_t wordLength, uint32_t stopBits, uint32_t parity) {
    if (wordLength != kBits7 && wordLength != kBits8)
        return "the chip's UART sends 7 or 8 data bits";
    if (stopBits != kStopBits1 && stopBits != kStopBits2) {
        return "the chip's UART sends 1 or 2 stop bits (codes 0 and 2; no 1.5)";
    }
    if (parity > kParityMax) return "the chip's parity is none, odd, even, mark or space (0 to 4)";
    return nullptr;
}

const char* Flow(uint32_t handshake) {
    if (handshake == kFlowNone || handshake == kFlowRtsCts || handshake == kFlowDtrDsr ||
        handshake == kFlowXonXoff) {
        return nullptr;
    }
    return "the chip's handshake is none, RTS/CTS, DTR/DSR or XON/XOFF, one at a time";
}

const char* BitMode(uint32_t mode, bool channelA) {
    const ModeRow* row = FindMode(mode);
    if (row == nullptr) {
        return "the bit mode is one of 0x00, 0x01, 0x02, 0x04, 0x08 and 0x10 on this chip, one at "
               "a time";
    }
    if (!row->onThisChip) return "the dual-channel D chip has no such mode (other chips have it)";
    if (row->channelAOnly && !channelA) return "only channel A of the dual-channel chip has it";
    return nullptr;
}

bool Modelled(uint8_t mode) {
    const ModeRow* row = FindMode(mode);
    return row != nullptr && row->modelled;
}

const char* BitModeName(uint8_t mode) {
    const ModeRow* row = FindMode(mode);
    return row != nullptr ? row->name : "unknown";
}

}  // namespace vcable::rule

namespace vcable {

FtStatus Refused(FtStatus status, const char* rule, const char* what, ...) {
    char text[160];
    va_list args;
    va_start(args, what);
    std::vsnprintf(text, sizeof text, what, args);
    va_end(args);
    RecordModelError("%s refused: %s", text, rule);
    return status;
}

}  // namespace vcable

// Builders of the MPSSE commands the library sends. Each returns one complete command as the
// engine reads it (opcode, then its length or operands; the data bytes of a byte shift follow it
// separately), encoding lengths as the engine counts them (n - 1); nothing else in the library
// writes a command byte by hand. Commands go into the queue (stream.h: AppendCommand,
// StreamCommand) or, gathered in a CommandList, into one immediate send (SendImmediate).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "mpsse/opcodes.h"

namespace kl::mpsse {

struct Command {
    uint8_t bytes[3];
    uint8_t size;
};

// Pins and clock.
constexpr Command SetLowBits(uint8_t levels, uint8_t directions) {
    return {{kSetLowBits, levels, directions}, 3};
}
constexpr Command SetHighBits(uint8_t levels, uint8_t directions) {
    return {{kSetHighBits, levels, directions}, 3};
}
constexpr Command ReadLowBits() { return {{kReadLowBits}, 1}; }
constexpr Command ReadHighBits() { return {{kReadHighBits}, 1}; }
constexpr Command LoopbackOff() { return {{kLoopbackOff}, 1}; }
// The clock divisor's low 16 bits (callers check the range where a larger one is an error).
constexpr Command SetDivisor(uint32_t divisor) {
    return {{kSetDivisor, static_cast<uint8_t>(divisor), static_cast<uint8_t>(divisor >> 8)}, 3};
}
// An opcode the engine does not know; it answers with an error byte and the opcode itself.
constexpr Command BadCommand() { return {{kBadCommand}, 1}; }

// Opcodes of the data shifts from the caller's option byte (edges and bit order) and what the
// shift moves (kWriteTdi, kReadTdo or both): byte mode with the bit-mode bit cleared, bit mode
// with it set.
constexpr uint8_t ByteShiftOpcode(uint8_t options, uint8_t moves) {
    return static_cast<uint8_t>((options | moves) & ~kBitMode);
}
constexpr uint8_t BitShiftOpcode(uint8_t options, uint8_t moves) {
    return static_cast<uint8_t>(options | moves | kBitMode);
}

// The head of a byte-mode shift of 1 to kMaxBytesPerCommand bytes; a writing shift's bytes
// follow it. SplitByteShift cuts longer shifts.
constexpr Command ShiftBytes(uint8_t opcode, uint32_t byteCount) {
    const uint32_t length = byteCount - 1;
    return {{opcode, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)}, 3};
}
// A bit-mode shift of 1 to 8 bits out of data (bit 0 first when least significant bit first).
constexpr Command ShiftBits(uint8_t opcode, uint32_t bitCount, uint8_t data) {
    return {{opcode, static_cast<uint8_t>(bitCount - 1), data}, 3};
}
// A bit-mode read of 1 to 8 bits: nothing goes out, one reply byte comes back.
constexpr Command ReadBits(uint8_t opcode, uint32_t bitCount) {
    return {{opcode, static_cast<uint8_t>(bitCount - 1)}, 2};
}
// 1 to 7 TMS bits out of tms, bit 0 first, with TDI held high meanwhile when holdTdiHigh is set
// (otherwise at the level bit 7 of tms gives).
constexpr Command ClockTms(uint8_t opcode, uint32_t bitCount, uint8_t tms, bool holdTdiHigh) {
    const uint8_t data = holdTdiHigh ? static_cast<uint8_t>(tms | kTmsHoldTdiHigh) : tms;
    return {{opcode, static_cast<uint8_t>(bitCount - 1), data}, 3};
}

// Writes a command into a caller's destination (queue space it claimed); returns the position
// after it.
inline uint8_t* PutCommand(uint8_t* at, const Command& command) {
    for (uint8_t i = 0; i < command.size; ++i) *at++ = command.bytes[i];
    return at;
}

// Cuts a byte shift of count bytes into commands of at most maxPiece bytes (the engine's
// kMaxBytesPerCommand, or a caller's smaller block) and hands each to
// emit(head, offset, pieceBytes) in order. The first non-zero result of emit ends the shift and
// is returned; 0 when every piece was emitted.
template <typename Emit>
int SplitByteShift(uint8_t opcode, uint32_t count, uint32_t maxPiece, Emit emit) {
    if (maxPiece > kMaxBytesPerCommand) maxPiece = kMaxBytesPerCommand;
    for (uint32_t offset = 0; offset < count;) {
        const uint32_t piece = count - offset < maxPiece ? count - offset : maxPiece;
        if (int result = emit(ShiftBytes(opcode, piece), offset, piece); result != 0) return result;
        offset += piece;
    }
    return 0;
}

// The commands of one immediate send, in order: at most kLongestImmediate bytes (the eight
// one-bit commands of a capturing shift's tail).
class CommandList {
  public:
    static constexpr uint32_t kLongestImmediate = 24;

    CommandList() = default;
    CommandList(std::initializer_list<Command> commands) {
        for (const Command& command : commands) Add(command);
    }
    // A command that would not fit is left out; no caller composes that many.
    void Add(const Command& command) {
        if (size_ + command.size > kLongestImmediate) return;
        for (uint8_t i = 0; i < command.size; ++i) bytes_[size_++] = command.bytes[i];
    }
    const uint8_t* data() const { return bytes_; }
    uint32_t size() const { return size_; }

  private:
    uint8_t bytes_[kLongestImmediate] = {};
    uint32_t size_ = 0;
};

}  // namespace kl::mpsse

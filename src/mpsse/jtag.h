// Pieces the JTAG exports share: result codes, the whole-byte / tail-bit split of a shift, and
// the queued byte-mode commands that split shifts longer than one command can carry.
#pragma once

#include <cstdint>

namespace kl::mpsse {

// Results of the JTAG operations.
constexpr int kJtagOk = 0;
constexpr int kJtagTransferFailed = 4;  // flush, write, poll or read failed; count out of range
constexpr int kJtagNoBits = 5;          // a bit count of 0

// Bits of LowPinValue the JTAG operations keep: the level TDI is held at, and the last TMS bit.
constexpr uint8_t kHeldTdiBit = 0x02;
constexpr uint8_t kLastTmsBit = 0x01;

// Minimum polls of the reply waits.
constexpr uint32_t kPortReadMinPolls = 1000;
constexpr uint32_t kRxMinPolls = 500;

// A shift of n bits (n at least 1) as whole bytes for one byte-mode command and 1 to 8 tail bits,
// so that the last bit is always a tail bit that can go out together with TMS.
struct ShiftSplit {
    uint32_t wholeBytes;
    uint32_t tailBits;
};
constexpr ShiftSplit SplitShift(uint32_t bitCount) {
    uint32_t whole = bitCount / 8;
    uint32_t tail = bitCount % 8;
    if (tail == 0) {
        whole -= 1;
        tail = 8;
    }
    return {whole, tail};
}

// Queues a byte shift of byteCount bytes as commands of at most 65536 bytes; data (when not null)
// follows each command's head. 0, or 4 when a flush for room failed. Called inside the caller's
// QueuedOperation (stream.h), which decides what stays queued after such a failure.
int QueueByteShift(uint8_t opcode, const uint8_t* data, uint32_t byteCount);

// Reads the low pin byte with the minimum polls of JTAG_ReadPort: 0, or 4.
int ReadLowPort(uint8_t& value);

}  // namespace kl::mpsse

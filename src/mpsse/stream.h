// Channel A's MPSSE byte stream on the host side: the static command queue, the pin and clock
// state, and the transfer primitives every MPSSE, UART and open operation is built from.
//
// The queue's contract:
// - Queued operations append complete commands at the cursor; nothing is sent until
//   FlushCommands (JTAG_Send2FTDI), a flush forced by the 60000-byte rule, or an append that would
//   run past the buffer's end (which flushes first).
// - Immediate operations compose a short command (at most 24 bytes) in the scratch area and send
//   it at once. If commands are queued they are flushed first, so order is kept and the scratch
//   area never overwrites queued bytes.
// - The receive queue holds only the replies of commands already sent; every read takes all of it
//   (bounded by the destination, the surplus drained).
// - No allocation on any of these paths.
#pragma once

#include <cstdint>

#include "binding/d2xx.h"

namespace kl::mpsse {

constexpr uint32_t kBufferSize = 131072;     // CommandBuffer, ReadBuffer, StagingBuffer
constexpr uint32_t kQueueThreshold = 60000;  // a data append that would pass it flushes first

// The pin and clock state of the connection.
struct PinState {
    uint8_t lowValue = 0;       // LowPinValue
    uint8_t lowDirection = 0;   // LowPinDirection
    uint8_t highDirection = 0;  // HighPinDirection
    uint32_t clockDivisor = 0;  // ClockDivisor
};
PinState& Pins();

uint8_t* CommandBuffer();
uint8_t* ReadBuffer();
uint8_t* StagingBuffer();

// Queued byte count (QueueCursor minus the buffer's start).
uint32_t QueuedBytes();
void ResetQueueCursor();

// Appends bytes at the cursor; when they would not fit, flushes the queue first. 0, or 4 when
// that flush failed (nothing appended).
int Append(const uint8_t* bytes, uint32_t count);
int AppendByte(uint8_t byte);

// Flushes the queue when data bytes would carry it past the 60000-byte threshold. 0 or 4.
int FlushIfOver(uint32_t extraDataBytes);

// 0 sent (or nothing to send); 4 the write failed (the cursor stays).
int FlushCommands(uint32_t count);

// Writes count bytes, continuing after partial writes with the unsent tail. Gives up with
// status 4 after kNoProgressLimitMs without progress.
void WriteAllBytes(uint32_t count, const uint8_t* source, FtStatus& status);

// Sends a short immediate command: flushes queued commands first (status 4 when that fails), then
// WriteAllBytes of the bytes.
void SendImmediate(const uint8_t* bytes, uint32_t count, FtStatus& status);

// Polls until at least minBytes are queued and at least minPolls polls were made. Ends early on a
// failed poll, or after kNoProgressLimitMs in which the count did not grow (status then 4).
void WaitRxAtLeast(FtStatus& status, uint32_t minBytes, uint32_t minPolls);

// Polls, sleeping pauseMs after each poll, until minBytes are queued or maxPolls were made.
void WaitRxWithPause(FtStatus& status, uint32_t minBytes, uint32_t maxPolls, uint32_t pauseMs);

// Reads count bytes into destination (capacity bytes at most; the rest is read and dropped).
// A failed read shows the "FT_Read" status message. Returns the bytes stored.
uint32_t ReadRxBytes(uint32_t count, uint8_t* destination, FtStatus& status,
                     uint32_t capacity = kBufferSize);

// The bound on waits and writes that make no progress (5 s); tests shorten it.
uint32_t NoProgressLimitMs();
void SetNoProgressLimitMsForTests(uint32_t ms);

void ResetStreamForTests();

}  // namespace kl::mpsse

// Channel A's MPSSE byte stream on the host side: the static command queue, the pin and clock
// state, and the transfer primitives every MPSSE, UART and open operation is built from.
//
// The queue's contract:
// - Queued operations append complete commands at the cursor; nothing is sent until
//   FlushCommands (JTAG_Send2FTDI), a flush forced by the 60000-byte rule, or an append that would
//   run past the buffer's end (which flushes first). A failed flush leaves the queue as it was.
// - A shift longer than the buffer streams through it: each full buffer is sent as it fills, so
//   a command may be split across two writes. Such an operation runs inside a QueuedOperation,
//   which keeps the queue made of complete commands when one of its flushes fails. If none of
//   its bytes went out, the queue is as it was before the operation, so a retry sends exactly
//   that. If some went out, the queue keeps only the bytes that finish the command the engine is
//   in the middle of, and the next SendQueue sends them and reports 4: the shift did not go out
//   whole. Either way the engine never takes later commands as data.
// - Immediate operations compose their commands (commands.h) in a CommandList of at most 24
//   bytes and send it at once from the start of CommandBuffer (SendImmediate). If commands are
//   queued they are flushed first, so order is kept and the scratch area never overwrites queued
//   bytes.
// - Reply bytes become readable once the engine has run the command and the channel's latency
//   timer has passed; the waits poll for them. The receive queue holds only the replies of
//   commands already sent; every read takes all of it (bounded by the destination, the surplus
//   read and dropped).
// - No allocation on any of these paths.
#pragma once

#include <cstdint>

#include "binding/d2xx.h"
#include "kestrellink.h"
#include "mpsse/commands.h"

namespace kl::mpsse {

// The queue's two sizes are public (kestrellink.h): callers keep TMS runs within them.
constexpr uint32_t kBufferSize = KL_JTAG_QUEUE_BUFFER;  // CommandBuffer, ReadBuffer, StagingBuffer
constexpr uint32_t kQueueThreshold = KL_JTAG_QUEUE_THRESHOLD;  // a data append past it flushes
constexpr uint32_t kNoProgressLimitMs = 5000;  // bound on waits and writes that make no progress

// Result of the stream operations that fail: the transfer-failure result of every MPSSE
// operation, also stored as the FT status when a wait or write gives up (FT_IO_ERROR).
constexpr int kTransferFailed = 4;

// The pin and clock state of the connection. Written by the opens, the pin operations, the JTAG
// operations that track TDI/TMS levels and FTDI_SetClk.
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
// Empties the queue, forgetting any unfinished shift it ended with (the opens start here).
void ResetQueueCursor();

// Room for count more bytes at the cursor (count at most kBufferSize); the cursor moves past
// them and the caller fills them. When they would not fit behind the queued bytes, the queue is
// flushed first. Null when that flush failed (nothing claimed).
uint8_t* ClaimQueueSpace(uint32_t count);

// Appends one complete command at the cursor, as ClaimQueueSpace places it. 0, or 4 when the
// flush for room failed (nothing appended).
int AppendCommand(const Command& command);

// One queued operation whose appends may flush the queue on the way (a streamed shift and the
// commands after it). While it lives, a failed flush for room abandons the operation: its
// commands that did not go out are dropped, as the contract above says.
class QueuedOperation {
  public:
    QueuedOperation();
    ~QueuedOperation();
    QueuedOperation(const QueuedOperation&) = delete;
    QueuedOperation& operator=(const QueuedOperation&) = delete;
};

// Appends one command, its head and then count data bytes, sending the whole buffer each time it
// is full, so that a long data command costs one write per 131072 bytes; the command may end up
// split across two writes, which the engine takes as one stream (as with a capturing shift's
// header and data). 0, or 4 when a send failed.
int StreamCommand(const Command& head, const uint8_t* data, uint32_t count);

// Flushes the queue when the queued count plus extraDataBytes is above the 60000-byte threshold.
// 0, or 4 when that flush failed.
int FlushIfOver(uint32_t extraDataBytes);

// 0 sent (or count 0: nothing sent, cursor untouched); 4 the write failed (the cursor stays).
// On success the cursor returns to the start of CommandBuffer.
int FlushCommands(uint32_t count);

// Sends the whole queue (JTAG_Send2FTDI): 0; 4 when the write failed (the queue stays), or, once,
// after an operation was abandoned with part of its shift sent (whichever flush sent the rest).
int SendQueue();

// Writes count bytes, continuing after partial writes with the unsent tail. Status is that of
// the last FT_Write (0 for count 0, without a vendor call), or 4 after kNoProgressLimitMs of
// successful writes that accepted nothing.
void WriteAllBytes(uint32_t count, const uint8_t* source, FtStatus& status);

// Immediate send: flushes queued commands first (status 4 when that fails, nothing sent), copies
// the commands to the start of CommandBuffer and sends them with WriteAllBytes.
void SendImmediate(const CommandList& commands, FtStatus& status);

// Polls the receive queue (status-recording FT_GetQueueStatus into RxQueueBytes) until at least
// minBytes are queued and at least minPolls polls were made (always at least one). Ends early on a
// failed poll (status holds it), or with status 4 after kNoProgressLimitMs in which the count
// stayed below minBytes without growing.
void WaitRxAtLeast(FtStatus& status, uint32_t minBytes, uint32_t minPolls);

// Polls, sleeping pauseMs after each poll, until minBytes are queued or maxPolls polls were made
// (at least one poll and one pause). Status is that of the last poll.
void WaitRxWithPause(FtStatus& status, uint32_t minBytes, uint32_t maxPolls, uint32_t pauseMs);

// Reads count bytes into destination, storing at most capacity of them; a surplus is read and
// dropped so the receive queue is emptied. count 0: returns 0, no vendor call, status untouched.
// A failed read shows the "FT_Read" status message and returns 0. Returns the bytes stored.
uint32_t ReadRxBytes(uint32_t count, uint8_t* destination, FtStatus& status,
                     uint32_t capacity = UINT32_MAX);

// The bound on waits and writes that make no progress; tests shorten it.
uint32_t NoProgressLimitMs();
void SetNoProgressLimitMsForTests(uint32_t ms);

// Empty queue, zeroed buffers and pin state, default no-progress limit.
void ResetStreamForTests();

}  // namespace kl::mpsse

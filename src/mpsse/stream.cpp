// The command queue, the scratch area and the transfer primitives of channel A's byte stream.
#include "mpsse/stream.h"

#include <cstring>

#include "binding/binding.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace kl::mpsse {
namespace {

// Size of the scratch into which a read drops the bytes that do not fit its destination.
constexpr uint32_t kDrainChunk = 4096;

// Owned by this file. The queue (buffer and cursor) is written by the queued operations and the
// flushes; the start of the command buffer also by the immediate operations (only while the
// queue is empty). Pins are written by the opens and the pin and JTAG operations.
struct StreamState {
    uint8_t commandBuffer[kBufferSize];
    uint8_t readBuffer[kBufferSize];
    uint8_t stagingBuffer[kBufferSize];
    uint8_t drain[kDrainChunk];
    uint32_t cursor;  // QueueCursor as an offset into commandBuffer
    PinState pins;
    uint32_t noProgressLimitMs;
    // The QueuedOperation in progress: from which offset its bytes that did not go out begin (the
    // queue falls back there when it fails), and whether some of its bytes went out already.
    bool operationActive;
    uint32_t operationFallback;
    bool operationPartlySent;
    // The queue ends a shift that was abandoned after part of it went out.
    bool unfinishedShift;
};
StreamState state{{}, {}, {}, {}, 0, {}, kNoProgressLimitMs, false, 0, false, false};

bool TimedOut(uint64_t since) { return platform::MonotonicMs() - since >= state.noProgressLimitMs; }

}  // namespace

PinState& Pins() { return state.pins; }
uint8_t* CommandBuffer() { return state.commandBuffer; }
uint8_t* ReadBuffer() { return state.readBuffer; }
uint8_t* StagingBuffer() { return state.stagingBuffer; }
uint32_t QueuedBytes() { return state.cursor; }
void ResetQueueCursor() {
    state.cursor = 0;
    state.unfinishedShift = false;
}
uint32_t NoProgressLimitMs() { return state.noProgressLimitMs; }
void SetNoProgressLimitMsForTests(uint32_t ms) { state.noProgressLimitMs = ms; }

void ResetStreamForTests() {
    memset(state.commandBuffer, 0, kBufferSize);
    memset(state.readBuffer, 0, kBufferSize);
    memset(state.stagingBuffer, 0, kBufferSize);
    ResetQueueCursor();
    state.pins = PinState{};
    state.noProgressLimitMs = kNoProgressLimitMs;
    state.operationActive = false;
}

QueuedOperation::QueuedOperation() {
    state.operationActive = true;
    state.operationFallback = state.cursor;
    state.operationPartlySent = false;
}

QueuedOperation::~QueuedOperation() { state.operationActive = false; }

namespace {

// Sends the whole queue to make room. carried is how many bytes of a command already in the
// queue are still to come: they go to the start of the emptied buffer and finish that command.
// Inside a QueuedOperation, a failure drops the operation's bytes that did not go out, keeping
// those that finish a command the engine has partly received.
bool FlushForRoom(uint32_t carried) {
    const uint32_t queued = state.cursor;
    if (FlushCommands(queued) != 0) {
        if (state.operationActive) {
            state.cursor = state.operationFallback;
            if (state.operationPartlySent) state.unfinishedShift = true;
        }
        return false;
    }
    if (state.operationActive) {
        state.operationPartlySent = state.operationPartlySent || queued > state.operationFallback;
        state.operationFallback = carried;
    }
    return true;
}

}  // namespace

uint8_t* ClaimQueueSpace(uint32_t count) {
    if (count > kBufferSize) return nullptr;
    if (state.cursor + count > kBufferSize && !FlushForRoom(0)) return nullptr;
    uint8_t* space = state.commandBuffer + state.cursor;
    state.cursor += count;
    return space;
}

int AppendCommand(const Command& command) {
    uint8_t* space = ClaimQueueSpace(command.size);
    if (!space) return kTransferFailed;
    memcpy(space, command.bytes, command.size);
    return 0;
}

int StreamCommand(const Command& head, const uint8_t* data, uint32_t count) {
    uint32_t left = head.size + count;  // bytes of the command not yet in the queue
    auto put = [&left](const uint8_t* bytes, uint32_t n) {
        while (n > 0) {
            if (state.cursor == kBufferSize && !FlushForRoom(left)) return false;
            const uint32_t room = kBufferSize - state.cursor;
            const uint32_t piece = n < room ? n : room;
            memcpy(state.commandBuffer + state.cursor, bytes, piece);
            state.cursor += piece;
            bytes += piece;
            n -= piece;
            left -= piece;
        }
        return true;
    };
    return put(head.bytes, head.size) && put(data, count) ? 0 : kTransferFailed;
}

int FlushIfOver(uint32_t extraDataBytes) {
    if (static_cast<uint64_t>(state.cursor) + extraDataBytes <= kQueueThreshold) return 0;
    return FlushCommands(state.cursor);
}

int FlushCommands(uint32_t count) {
    if (count == 0) return 0;
    FtStatus status = kFtOk;
    WriteAllBytes(count, state.commandBuffer, status);
    if (status != kFtOk) return kTransferFailed;
    state.cursor = 0;
    return 0;
}

int SendQueue() {
    const bool unfinished = state.unfinishedShift;
    if (FlushCommands(state.cursor) != 0) return kTransferFailed;
    state.unfinishedShift = false;
    return unfinished ? kTransferFailed : 0;
}

void WriteAllBytes(uint32_t count, const uint8_t* source, FtStatus& status) {
    status = kFtOk;
    uint32_t remaining = count;
    uint64_t lastProgress = platform::MonotonicMs();
    while (remaining > 0) {
        uint32_t written = 0;
        if (ft::FT_Write(source, remaining, &written, status) != kFtOk) return;
        if (written >= remaining) return;
        if (written > 0) {
            remaining -= written;
            source += written;
            lastProgress = platform::MonotonicMs();
        } else if (TimedOut(lastProgress)) {
            status = kFtIoError;
            return;
        }
    }
}

void SendImmediate(const CommandList& commands, FtStatus& status) {
    if (FlushCommands(state.cursor) != 0) {
        status = kFtIoError;
        return;
    }
    memcpy(state.commandBuffer, commands.data(), commands.size());
    WriteAllBytes(commands.size(), state.commandBuffer, status);
}

void WaitRxAtLeast(FtStatus& status, uint32_t minBytes, uint32_t minPolls) {
    uint32_t polls = 0;
    uint32_t bestCount = 0;
    uint64_t lastGrowth = platform::MonotonicMs();
    for (;;) {
        if (binding::PollRxQueue(status) != kFtOk) return;
        ++polls;
        const uint32_t queued = binding::RxQueueBytes();
        if (queued >= minBytes) {
            if (polls >= minPolls) return;
            continue;  // enough bytes: only the minimum poll count is left to make
        }
        if (queued > bestCount || polls == 1) {
            bestCount = queued;
            lastGrowth = platform::MonotonicMs();
        } else if (TimedOut(lastGrowth)) {
            status = kFtIoError;
            return;
        }
    }
}

void WaitRxWithPause(FtStatus& status, uint32_t minBytes, uint32_t maxPolls, uint32_t pauseMs) {
    uint32_t polls = 0;
    do {
        binding::PollRxQueue(status);
        platform::SleepMs(pauseMs);
        ++polls;
    } while (polls < maxPolls && binding::RxQueueBytes() < minBytes);
}

uint32_t ReadRxBytes(uint32_t count, uint8_t* destination, FtStatus& status, uint32_t capacity) {
    if (count == 0) return 0;
    const uint32_t stored = count < capacity ? count : capacity;
    uint32_t got = 0;
    if (stored > 0 && ft::FT_Read(destination, stored, &got, status) != kFtOk) {
        binding::ReportFtStatus(KL_W("FT_Read"), status);
        return 0;
    }
    // The replies that do not fit are read and dropped, so the queue holds nothing stale.
    for (uint32_t surplus = count - stored; surplus > 0;) {
        const uint32_t chunk = surplus < kDrainChunk ? surplus : kDrainChunk;
        uint32_t drained = 0;
        if (ft::FT_Read(state.drain, chunk, &drained, status) != kFtOk) {
            binding::ReportFtStatus(KL_W("FT_Read"), status);
            return 0;
        }
        if (drained == 0) break;
        surplus -= drained < surplus ? drained : surplus;
    }
    return got;
}

}  // namespace kl::mpsse

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
};
StreamState state{{}, {}, {}, {}, 0, {}, kNoProgressLimitMs};

bool TimedOut(uint64_t since) { return platform::MonotonicMs() - since >= state.noProgressLimitMs; }

}  // namespace

PinState& Pins() { return state.pins; }
uint8_t* CommandBuffer() { return state.commandBuffer; }
uint8_t* ReadBuffer() { return state.readBuffer; }
uint8_t* StagingBuffer() { return state.stagingBuffer; }
uint32_t QueuedBytes() { return state.cursor; }
void ResetQueueCursor() { state.cursor = 0; }
uint32_t NoProgressLimitMs() { return state.noProgressLimitMs; }
void SetNoProgressLimitMsForTests(uint32_t ms) { state.noProgressLimitMs = ms; }

void ResetStreamForTests() {
    memset(state.commandBuffer, 0, kBufferSize);
    memset(state.readBuffer, 0, kBufferSize);
    memset(state.stagingBuffer, 0, kBufferSize);
    state.cursor = 0;
    state.pins = PinState{};
    state.noProgressLimitMs = kNoProgressLimitMs;
}

uint8_t* ClaimQueueSpace(uint32_t count) {
    if (count > kBufferSize) return nullptr;
    if (state.cursor + count > kBufferSize && FlushCommands(state.cursor) != 0) return nullptr;
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

int StreamIntoQueue(const uint8_t* bytes, uint32_t count) {
    while (count > 0) {
        if (state.cursor == kBufferSize && FlushCommands(kBufferSize) != 0) return kTransferFailed;
        const uint32_t room = kBufferSize - state.cursor;
        const uint32_t n = count < room ? count : room;
        memcpy(state.commandBuffer + state.cursor, bytes, n);
        state.cursor += n;
        bytes += n;
        count -= n;
    }
    return 0;
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

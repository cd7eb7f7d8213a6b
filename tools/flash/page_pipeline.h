// Page programs pipelined through raw command streams (wire/carrier.h): many pages go in one
// USB write, each as write enable, page program, a wait of N bytes clocked with chip select high,
// and one status read, so a page costs its bus bytes and busy time instead of a USB write (a
// frame at full speed) per transaction.
//
// The tool does not know the TCK rate, so N is measured: the first page of a job is programmed in a
// stream followed by short status reads behind equal gaps, and the first one that finds the flash
// ready gives its program time in bytes of TCK; N is that with a margin. A page whose status byte
// still shows busy may have made the next page's write enable (and so its program) be ignored:
// after waiting for ready with the polled WaitReady, that next page is programmed again with the
// polled FlashProgram (an ignored NOR page program changed nothing, and programming the same bytes
// twice changes nothing either), and N grows.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/common.h"
#include "wire/carrier.h"

namespace kestrel {

struct Flash;

// One page program: `length` bytes at `address`, within one page.
struct PendingPage {
    uint32_t address;
    uint32_t length;
    uint32_t dataOffset;  // in the batch's data
};

struct PageBatch {
    std::vector<PendingPage> pages;
    std::vector<uint8_t> data;

    void Add(uint32_t address, const uint8_t* bytes, uint32_t length);
    void Clear() {
        pages.clear();
        data.clear();
    }
};

// The measurement's first gap between status reads, in bytes of TCK: 64 us at 6 MHz.
constexpr uint32_t kFirstGapBytes = 48;

// What a job learns about the flash and keeps from one batch to the next.
struct PipelineState {
    uint32_t waitBytes = 0;              // the wait after each page program; 0: not measured yet
    uint32_t gapBytes = kFirstGapBytes;  // the measurement's gap between status reads
    bool polledOnly = false;     // the measurement gave up: every page takes the polled path
    uint64_t streamedPages = 0;  // pages that went in streams
    uint64_t redonePages = 0;    // of those, programmed again on the polled path
};

// Stream bytes of a pipelined page's pieces, from the costs of the stream's own commands: the
// pipeline sizes its streams by them, and the benchmarks count a job's bytes by them.
// Write enable: chip select low, the command, chip select high.
constexpr uint32_t kWriteEnableCost = 2 * CommandStream::PinsCost() + CommandStream::OutCost(1);
// A status read: the command and one byte in, selected.
constexpr uint32_t kStatusReadCost =
    2 * CommandStream::PinsCost() + CommandStream::OutCost(1) + CommandStream::InCost();
// A page program: its command of `addressCommand` bytes and `length` data bytes, selected.
constexpr uint32_t ProgramCost(uint32_t addressCommand, uint32_t length) {
    return 2 * CommandStream::PinsCost() + CommandStream::OutCost(addressCommand) +
           CommandStream::OutCost(length);
}
// A wait of `waitBytes` bytes clocked with chip select high, in shifts of at most 64 KiB.
constexpr uint32_t WaitCost(uint32_t waitBytes) {
    return waitBytes + wire::kCommandBytes * ((waitBytes + wire::kMaxBytesPerCommand - 1) /
                                              wire::kMaxBytesPerCommand);
}
// A page in a stream: write enable, program, wait and status read.
constexpr uint32_t StreamPageCost(uint32_t addressCommand, uint32_t length, uint32_t waitBytes) {
    return kWriteEnableCost + ProgramCost(addressCommand, length) + WaitCost(waitBytes) +
           kStatusReadCost;
}

// The measurement: at most this many status reads behind gaps of `gapBytes` bytes of TCK, as many
// as fit behind the measured page's `programmed` stream bytes.
constexpr uint32_t kMaxProbes = 200;
constexpr uint32_t ProbeCost(uint32_t gapBytes) {
    return CommandStream::OutCost(gapBytes) + kStatusReadCost;
}
constexpr uint32_t MeasureProbes(uint32_t programmed, uint32_t gapBytes) {
    const uint32_t fit =
        (CommandStream::kCapacity - programmed - CommandStream::SendImmediateCost()) /
        ProbeCost(gapBytes);
    return fit < kMaxProbes ? fit : kMaxProbes;
}
// The wait after each page once status read `readyAt` (from 0) of the measurement found the flash
// ready: the busy time in bytes of TCK (gaps and reads of two bytes before), with a margin.
constexpr uint32_t kMinWaitBytes = 16;
constexpr uint32_t kMaxWaitBytes = 32768;  // short enough that a page always fits a stream
constexpr uint32_t MeasuredWait(uint32_t readyAt, uint32_t gapBytes) {
    const uint32_t busy = (readyAt + 1) * (gapBytes + 2);
    const uint32_t wait = busy + busy / 4 + kMinWaitBytes;
    return wait < kMaxWaitBytes ? wait : kMaxWaitBytes;
}

// A stream's replies: every status read in it costs at least kStatusReadCost stream bytes.
constexpr uint32_t kMaxStreamReplies = CommandStream::kCapacity / kStatusReadCost + 1;

// The buffers of the pipeline's streams, one of each for a job (flash.h).
struct StreamBuffers {
    CommandStream stream;
    std::array<uint8_t, kMaxStreamReplies> replies;
};

// Batches shorter than this take the polled path while the wait is not measured yet (the
// measurement costs a long stream).
constexpr size_t kMinPipelinedPages = 8;

// Programs the batch's pages (the flash ready, their sectors erased as needed) and leaves the flash
// ready. `progress` is told how many pages are done after each stream.
bool ProgramPages(Flash& flash, const PageBatch& batch, PipelineState& state, CallResult& result,
                  const std::function<void(size_t pagesDone)>& progress = {});

}  // namespace kestrel

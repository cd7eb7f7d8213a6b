// Page programs pipelined through raw command streams (command_stream.h): many pages go in one
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

#include <cstdint>
#include <functional>
#include <vector>

#include "common/common.h"

namespace kestrel {

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

// Batches shorter than this take the polled path while the wait is not measured yet (the
// measurement costs a long stream).
constexpr size_t kMinPipelinedPages = 8;

// Programs the batch's pages (the flash ready, their sectors erased as needed) and leaves the flash
// ready. `progress` is told how many pages are done after each stream.
bool ProgramPages(const PageBatch& batch, PipelineState& state, CallResult& result,
                  const std::function<void(size_t pagesDone)>& progress = {});

}  // namespace kestrel

#include "flash/page_pipeline.h"

#include <algorithm>
#include <string>

#include "flash/spi_ops.h"
#include "kestrellink.h"
#include "wire/collect.h"

namespace kestrel {
namespace {

// The measurement: kMaxProbes status reads (10000 bytes of TCK with the first gap: 13 ms at
// 6 MHz, 2.7 ms at 30 MHz, beyond a typical page program), and this many tries, each with twice
// the gap of the one before, before every page takes the polled path.
constexpr uint32_t kMeasureTries = 3;
bool Wait(CommandStream& s, uint32_t bytes) {
    for (uint32_t left = bytes; left > 0;) {
        const uint32_t piece = std::min(left, wire::kMaxBytesPerCommand);
        if (!s.OutFill(0xFF, piece)) return false;
        left -= piece;
    }
    return true;
}

bool StatusRead(CommandStream& s) {
    const uint8_t command = flash_cmd::kReadStatus;
    return s.Select() && s.Out(&command, 1) && s.In(1) && s.Deselect();
}

// Write enable and the page program, chip select high after each.
bool ProgramInStream(const Flash& flash, CommandStream& s, const PageBatch& batch,
                     const PendingPage& page) {
    const uint8_t enable = flash_cmd::kWriteEnable;
    uint8_t command[kMaxAddressCommand];
    const uint32_t length =
        PutAddressCommand(flash, flash_cmd::kPageProgram, page.address, command);
    return s.Select() && s.Out(&enable, 1) && s.Deselect() && s.Select() &&
           s.Out(command, length) && s.Out(&batch.data[page.dataOffset], page.length) &&
           s.Deselect();
}

// Sends the stream and collects its replies (one status byte per read).
bool Run(StreamBuffers& b, CallResult& r) {
    CommandStream& s = b.stream;
    return s.SendImmediate() && SendStream(s, r) &&
           wire::CollectReplies(s.replyBytes, b.replies.data(), r);
}

bool Polled(Flash& flash, const PageBatch& batch, const PendingPage& page, CallResult& r) {
    return FlashProgram(flash, page.address, &batch.data[page.dataOffset], page.length, r);
}

bool WaitProgram(Flash& flash, CallResult& r) {
    return WaitReady(flash, flash.geometry.timeouts.program, "a page program", r);
}

// Programs `page` with status reads behind equal gaps after it; the first that finds the flash
// ready sets the wait. When none does, the flash is waited for and the next measurement uses a
// longer gap, until the tries are spent and the polled path takes over.
bool Measure(Flash& flash, const PageBatch& batch, const PendingPage& page, PipelineState& state,
             CallResult& r) {
    const auto& replies = flash.streams->replies;
    CommandStream& s = flash.streams->stream;
    s.Clear();
    if (!ProgramInStream(flash, s, batch, page)) return Reject("a page does not fit a stream", r);
    const uint32_t probes = MeasureProbes(s.size, state.gapBytes);
    for (uint32_t i = 0; i < probes; ++i) {
        if (!s.OutFill(0xFF, state.gapBytes) || !StatusRead(s)) break;
    }
    if (!Run(*flash.streams, r)) return false;
    ++state.streamedPages;
    for (uint32_t i = 0; i < s.replyBytes; ++i) {
        if (replies[i] & kStatusBusy) continue;
        state.waitBytes = MeasuredWait(i, state.gapBytes);
        return true;
    }
    if (!WaitProgram(flash, r)) return false;
    state.gapBytes *= 2;
    if (state.gapBytes > (kFirstGapBytes << (kMeasureTries - 1))) state.polledOnly = true;
    return true;
}

// Programs the pages from `first` on that fit one stream; `count` says how many did.
bool RunChunk(Flash& flash, const PageBatch& batch, size_t first, PipelineState& state,
              size_t& count, CallResult& r) {
    const auto& statuses = flash.streams->replies;
    CommandStream& s = flash.streams->stream;
    s.Clear();
    count = 0;
    for (size_t i = first; i < batch.pages.size(); ++i) {
        const PendingPage& page = batch.pages[i];
        if (s.Room() < StreamPageCost(kMaxAddressCommand, page.length, state.waitBytes) +
                           CommandStream::SendImmediateCost()) {
            break;
        }
        if (!ProgramInStream(flash, s, batch, page) || !Wait(s, state.waitBytes) ||
            !StatusRead(s)) {
            return Reject("a page does not fit a stream", r);
        }
        ++count;
    }
    if (count == 0) return Reject("a page does not fit a stream", r);
    if (!Run(*flash.streams, r)) return false;
    state.streamedPages += count;
    // A page still busy at its status read may have had the next one's write enable ignored:
    // wait for ready, and program the next one again on the polled path.
    bool late = false;
    for (size_t i = 0; i < count; ++i) {
        if (!(statuses[i] & kStatusBusy)) continue;
        late = true;
        if (!WaitProgram(flash, r)) return false;
        if (i + 1 == count) break;
        if (!Polled(flash, batch, batch.pages[first + i + 1], r)) return false;
        ++state.redonePages;
    }
    if (late) state.waitBytes = std::min(kMaxWaitBytes, state.waitBytes + state.waitBytes / 2 + 1);
    return true;
}

}  // namespace

void PageBatch::Add(uint32_t address, const uint8_t* bytes, uint32_t length) {
    pages.push_back({address, length, static_cast<uint32_t>(data.size())});
    data.insert(data.end(), bytes, bytes + length);
}

bool ProgramPages(Flash& flash, const PageBatch& batch, PipelineState& state, CallResult& result,
                  const std::function<void(size_t pagesDone)>& progress) {
    const size_t total = batch.pages.size();
    // Once the wait is known, a stream pays even for a few pages.
    const bool pipelined = total >= kMinPipelinedPages || state.waitBytes != 0;
    for (size_t next = 0; next < total;) {
        const PendingPage& page = batch.pages[next];
        if (!pipelined || state.polledOnly) {
            if (!Polled(flash, batch, page, result)) return false;
            ++next;
        } else if (state.waitBytes == 0) {
            if (!Measure(flash, batch, page, state, result)) return false;
            ++next;
        } else {
            size_t count = 0;
            if (!RunChunk(flash, batch, next, state, count, result)) return false;
            next += count;
        }
        if (progress) progress(next);
    }
    return true;
}

}  // namespace kestrel

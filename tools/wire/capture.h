// The tool's queued captures and their one collect. A capture is queued (JTAG_ReadTDO2 here, or
// another reading export whose reply size its caller knows) and left in the receive queue; the
// queue counts the reply bytes of each, says when the next would not fit its reply buffer, and
// collects them all with one JTAG_RxFTDI, after which each capture finds its bytes at the offset
// it was given. The reply buffer is allocated once, before any transfer.
#pragma once

#include <cstdint>
#include <vector>

#include "common/common.h"
#include "kestrellink.h"

namespace kestrel::wire {

class CaptureQueue {
  public:
    // A queue whose captures bring back at most `room` reply bytes between two collects.
    explicit CaptureQueue(uint32_t room) : reply_(room) {}

    uint32_t ReplyBytes() const { return replyBytes_; }
    bool Empty() const { return replyBytes_ == 0; }
    // Whether a capture of `replyBytes` more would pass the reply buffer behind those queued.
    bool Overflows(uint32_t replyBytes) const { return replyBytes > Room(); }
    uint32_t Room() const { return static_cast<uint32_t>(reply_.size()) - replyBytes_; }
    // Makes room for `bytes` reply bytes between two collects (an allocation only when the
    // buffer grows: not on a transfer path of a queue sized for its longest batch).
    void Reserve(uint32_t bytes) {
        if (bytes > reply_.size()) reply_.resize(bytes);
    }

    // Queues JTAG_ReadTDO2 of `bits` bits in `mode`; `offset` is where its reply will be.
    bool ReadTdo(kl_u8 mode, uint32_t bits, uint32_t& offset, CallResult& result);
    // Counts a capture another reading export queued, of `replyBytes` reply bytes; returns its
    // offset. False, counting nothing, when they would overflow the buffer.
    bool Count(uint32_t replyBytes, uint32_t& offset);
    // Collects every queued capture's reply with one JTAG_RxFTDI (nothing when none is queued)
    // and empties the queue; the queue must have been sent.
    bool Collect(CallResult& result);
    // The reply bytes of the capture at `offset` of the last collect.
    const uint8_t* Reply(uint32_t offset) const { return reply_.data() + offset; }

  private:
    std::vector<uint8_t> reply_;
    uint32_t replyBytes_ = 0;
};

}  // namespace kestrel::wire

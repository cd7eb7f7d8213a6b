#include "wire/capture.h"

#include <string>

#include "wire/collect.h"
#include "wire/read_tdo.h"

namespace kestrel::wire {

bool CaptureQueue::Count(uint32_t replyBytes, uint32_t& offset) {
    if (Overflows(replyBytes)) return false;
    offset = replyBytes_;
    replyBytes_ += replyBytes;
    return true;
}

bool CaptureQueue::ReadTdo(kl_u8 mode, uint32_t bits, uint32_t& offset, CallResult& result) {
    const uint32_t bytes = ReadTdoReplyBytes(bits);
    if (Overflows(bytes)) {
        return Reject("a capture's " + std::to_string(bytes) + " reply bytes overflow the " +
                          std::to_string(Room()) + " left of its reply buffer",
                      result);
    }
    return Check(JTAG_ReadTDO2(mode, bits), "JTAG_ReadTDO2", result) && Count(bytes, offset);
}

bool CaptureQueue::Collect(CallResult& result) {
    const uint32_t bytes = replyBytes_;
    replyBytes_ = 0;
    return CollectReplies(bytes, reply_.data(), result);
}

}  // namespace kestrel::wire

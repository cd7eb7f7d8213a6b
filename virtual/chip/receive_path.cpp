// The receive queue of a channel, and the polls and reads that take from it.
#include "chip/receive_path.h"

#include <algorithm>
#include <cstring>

namespace vcable {

void RxQueue::Append(const uint8_t* data, size_t count) {
    std::vector<uint8_t>& tail = Tail();
    tail.insert(tail.end(), data, data + count);
}

std::vector<uint8_t>& RxQueue::Tail() {
    if (head_ == bytes_.size()) {
        Clear();
    } else if (head_ >= (64u << 10) && head_ * 2 >= bytes_.size()) {
        // Drop a large drained prefix so a queue that is never fully read does not grow forever.
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(head_));
        head_ = 0;
    }
    return bytes_;
}

void RxQueue::Clear() {
    bytes_.clear();
    head_ = 0;
}

uint32_t RxQueue::Poll() {
    const auto pending = static_cast<uint32_t>(Pending());
    ClockPoll(readiness_, pending);
    return pending;
}

uint32_t RxQueue::Read(uint8_t* out, uint32_t count) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(count, Pending()));
    if (n > 0) std::memcpy(out, bytes_.data() + head_, n);
    head_ += n;
    ClockRead(readiness_, n);
    return n;
}

}  // namespace vcable

// The receive queue of a channel, and the polls and reads that take from it.
#include "chip/receive_path.h"

#include <algorithm>
#include <cstring>

#include "chip/model_options.h"
#include "record/call_log.h"

namespace vcable {
namespace {

constexpr uint64_t kPsPerMs = 1000000000ull;

bool UsbDelivery() { return CurrentReplyDelivery() == ReplyDelivery::kUsb; }

}  // namespace

RxQueue::RxQueue() {
    for (int s = 0; s < kWireSpeeds; ++s) links_.emplace_back(s);
}

void RxQueue::Append(const uint8_t* data, size_t count) {
    std::vector<uint8_t>& tail = Tail();
    Produced();
    tail.insert(tail.end(), data, data + count);
    // They join the host's queue behind any replies still on their way.
    for (int s = 0; s < kWireSpeeds; ++s) links_[s].Deliver(EndPosition(), NowPs(s));
}

std::vector<uint8_t>& RxQueue::Tail() {
    if (head_ == bytes_.size()) {
        base_ += head_;
        bytes_.clear();
        head_ = 0;
    } else if (head_ >= (64u << 10) && head_ * 2 >= bytes_.size()) {
        // Drop a large drained prefix so a queue that is never fully read does not grow forever.
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(head_));
        base_ += head_;
        head_ = 0;
    }
    return bytes_;
}

void RxQueue::Produced(std::optional<size_t> flushAt) {
    for (int s = 0; s < kWireSpeeds; ++s) {
        if (flushAt) links_[s].Produce(std::min(base_ + *flushAt, EndPosition()), true, NowPs(s));
        links_[s].Produce(EndPosition(), false, NowPs(s));
    }
}

void RxQueue::Clear() {
    base_ = EndPosition();
    bytes_.clear();
    head_ = 0;
    gateEnd_.reset();
    gatePolls_ = 0;
    SettleAll();
}

void RxQueue::SetLatency(uint32_t ms) {
    for (int s = 0; s < kWireSpeeds; ++s) links_[s].SetLatency(ms, NowPs(s));
}

void RxQueue::SettleAll() {
    for (int s = 0; s < kWireSpeeds; ++s) links_[s].Settle(EndPosition(), NowPs(s));
}

void RxQueue::Gate(uint32_t bytes, uint32_t polls) {
    gateEnd_ = HeadPosition() + bytes;
    gatePolls_ = polls;
}

uint32_t RxQueue::VisibleNow() {
    uint64_t end = UsbDelivery() ? links_[kFullSpeed].Arrived(NowPs(kFullSpeed)) : EndPosition();
    if (gateEnd_) end = std::min(end, *gateEnd_);
    return static_cast<uint32_t>(end > HeadPosition() ? end - HeadPosition() : 0);
}

void RxQueue::WaitForArrival(uint64_t end) {
    for (int s = 0; s < kWireSpeeds; ++s) WaitUntil(s, links_[s].ArrivalOf(end, NowPs(s)));
}

uint32_t RxQueue::Poll() {
    if (gateEnd_ && gatePolls_ == 0) gateEnd_.reset();
    const uint32_t visible = VisibleNow();
    if (gatePolls_ > 0) --gatePolls_;
    // Immediate delivery: the host sees everything, and a poll that finds bytes waits until they
    // are there.
    WaitForArrival(HeadPosition() + visible);
    if (!UsbDelivery()) return visible;
    // A host polling for replies still on their way polls again no sooner than the next frame.
    for (int s = 0; s < kWireSpeeds; ++s) {
        if (links_[s].InFlight(NowPs(s))) Elapse(s, SpeedOf(s).framePs);
    }
    return visible;
}

void RxQueue::AwaitAny(uint32_t timeoutMs) {
    if (!UsbDelivery() || VisibleNow() > 0) return;
    const uint64_t deadline = NowPs(kFullSpeed) + timeoutMs * kPsPerMs;
    const std::optional<uint64_t> next = links_[kFullSpeed].NextArrival(NowPs(kFullSpeed));
    WaitUntil(kFullSpeed, next && *next <= deadline ? *next : deadline);
}

uint32_t RxQueue::Read(uint8_t* out, uint32_t count, uint32_t timeoutMs) {
    uint32_t available = std::min(count, VisibleNow());
    if (UsbDelivery()) {
        PacketLink& link = links_[kFullSpeed];
        const uint64_t deadline =
            timeoutMs > 0 ? NowPs(kFullSpeed) + timeoutMs * kPsPerMs : UINT64_MAX;
        uint32_t visible = VisibleNow();
        while (visible < count) {
            const std::optional<uint64_t> next = link.NextArrival(NowPs(kFullSpeed));
            if (!next || *next > deadline) break;
            if (gateEnd_ && HeadPosition() + visible >= *gateEnd_) break;
            WaitUntil(kFullSpeed, *next);
            visible = VisibleNow();
        }
        if (visible < count && timeoutMs > 0) {
            WaitUntil(kFullSpeed, deadline);
        } else if (visible < count) {
            RecordModelError(
                "FT_Read of %u bytes without a read time-out found %u and nothing more on its "
                "way: on a real cable it would wait forever; it returned what it had",
                count, visible);
        }
        available = std::min(count, visible);
    }
    if (available > 0) {
        std::memcpy(out, bytes_.data() + head_, available);
        WaitForArrival(HeadPosition() + available);
        for (int s = 0; s < kWireSpeeds; ++s) CountRead(s);
    }
    head_ += available;
    return available;
}

}  // namespace vcable

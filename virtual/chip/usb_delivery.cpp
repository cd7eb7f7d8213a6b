// The packets of one USB speed: the chip's buffer, its latency timer and the link.
#include "chip/usb_delivery.h"

#include <algorithm>

#include "record/wire_clock.h"

namespace vcable {
namespace {

constexpr uint64_t kPsPerMs = 1000000000ull;
// The chip's latency timer after an open, until the host sets another.
constexpr uint32_t kDefaultLatencyMs = 16;

}  // namespace

PacketLink::PacketLink(int speed)
    : payload_(SpeedOf(speed).inPacketBytes),
      packetPs_(SpeedOf(speed).framePs / SpeedOf(speed).inPacketsPerFrame),
      latencyPs_(kDefaultLatencyMs * kPsPerMs) {}

void PacketLink::SetLatency(uint32_t ms, uint64_t nowPs) {
    Advance(nowPs);
    latencyPs_ = std::max<uint64_t>(ms, 1) * kPsPerMs;
    timerStartPs_ = std::max(timerStartPs_, nowPs);
}

void PacketLink::Send(uint64_t end, uint64_t atPs) {
    const uint64_t arrival = std::max(atPs, linkFreePs_);
    linkFreePs_ = arrival + packetPs_;
    travelling_.push_back({end, arrival});
    sent_ = end;
    // Sending data restarts the timer.
    timerStartPs_ = std::max(timerStartPs_, arrival);
}

void PacketLink::Advance(uint64_t nowPs) {
    for (;;) {
        while (!travelling_.empty() && travelling_.front().arrivalPs <= nowPs) {
            arrived_ = travelling_.front().end;
            travelling_.pop_front();
        }
        const uint64_t expiry = NextExpiry();
        if (expiry > nowPs) return;
        if (produced_ > sent_) {
            // The timer ran out with a short packet waiting: it goes now.
            Send(produced_, expiry);
            continue;
        }
        // Nothing waiting: every expiry up to now sent status bytes only, and restarted the timer.
        timerStartPs_ += (nowPs - timerStartPs_) / latencyPs_ * latencyPs_;
    }
}

void PacketLink::Produce(uint64_t end, bool flush, uint64_t nowPs) {
    Advance(nowPs);
    produced_ = std::max(produced_, end);
    while (produced_ - sent_ >= payload_) Send(sent_ + payload_, nowPs);
    if (flush && produced_ > sent_) Send(produced_, nowPs);
    Advance(nowPs);
}

void PacketLink::Deliver(uint64_t end, uint64_t nowPs) {
    Advance(nowPs);
    if (end <= produced_) return;
    const uint64_t after = travelling_.empty() ? nowPs : travelling_.back().arrivalPs;
    // Behind the chip's own bytes, which therefore count as sent with it.
    travelling_.push_back({end, std::max(nowPs, after)});
    produced_ = sent_ = end;
    Advance(nowPs);
}

void PacketLink::Settle(uint64_t end, uint64_t nowPs) {
    Advance(nowPs);
    travelling_.clear();
    arrived_ = sent_ = produced_ = std::max(produced_, end);
    // Nothing sent is on the link any more; after a clock reset the timer starts again now.
    linkFreePs_ = std::min(linkFreePs_, nowPs);
    timerStartPs_ = std::min(timerStartPs_, nowPs);
}

uint64_t PacketLink::Arrived(uint64_t nowPs) {
    Advance(nowPs);
    return arrived_;
}

uint64_t PacketLink::ArrivalOf(uint64_t end, uint64_t nowPs) {
    Advance(nowPs);
    if (end <= arrived_) return nowPs;
    for (const Packet& packet : travelling_) {
        if (end <= packet.end) return packet.arrivalPs;
    }
    // In the chip's buffer: it goes with the next expiry, after the packets before it.
    return std::max(NextExpiry(), linkFreePs_);
}

std::optional<uint64_t> PacketLink::NextArrival(uint64_t nowPs) {
    Advance(nowPs);
    if (!travelling_.empty()) return travelling_.front().arrivalPs;
    if (produced_ > sent_) return std::max(NextExpiry(), linkFreePs_);
    return std::nullopt;
}

bool PacketLink::InFlight(uint64_t nowPs) {
    Advance(nowPs);
    return produced_ > arrived_;
}

}  // namespace vcable

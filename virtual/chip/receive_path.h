// The receive path of a channel: the bytes on their way to the host and waiting for it. The MPSSE
// engine and the UART peers produce replies as the host's writes and polls run (through Tail and
// Produced); fault rules and the control API put bytes straight into the host's queue (Append).
// Each speed of the model clock has its PacketLink (chip/usb_delivery.h) that says when the
// replies reach the host. With immediate delivery the host sees every byte at once and a poll or
// read that finds bytes waits on the model clock until they are there; with USB delivery the host
// sees only what has arrived on the full-speed link, a poll that leaves replies on their way takes
// one frame, and FT_Read waits on the model clock for its count or its time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "chip/usb_delivery.h"
#include "record/wire_clock.h"

namespace vcable {

// Readers advance a head offset; the storage is reused once drained, so steady traffic does not
// allocate.
class RxQueue {
  public:
    RxQueue();

    // Bytes not read yet, whether or not they have reached the host.
    size_t Pending() const { return bytes_.size() - head_; }
    // Bytes that are in the host's queue at once.
    void Append(const uint8_t* data, size_t count);
    // Storage for producers that append directly (engine, peers); drained bytes are dropped first.
    std::vector<uint8_t>& Tail();
    // The bytes appended to Tail since the last call were produced now; a send-immediate at
    // position `flushAt` of Tail sends everything before it at once.
    void Produced(std::optional<size_t> flushAt = std::nullopt);
    // Drops every byte, on its way or waiting.
    void Clear();
    // The latency timer of the chip's side of this channel (restarts it).
    void SetLatency(uint32_t ms);
    // Everything produced counts as arrived (the model clock was reset).
    void SettleAll();
    // A shape a test asks for (fault rules): the next `polls` polls, and the reads until the poll
    // after them, see at most `bytes` beyond what the host has read so far.
    void Gate(uint32_t bytes, uint32_t polls);

    // What a receive-queue poll (FT_GetQueueStatus, FT_GetStatus) reports.
    uint32_t Poll();
    // FT_Read: takes up to `count` bytes, waiting (with USB delivery) for them until the read
    // time-out passes; 0 is no time-out. Returns the bytes taken.
    uint32_t Read(uint8_t* out, uint32_t count, uint32_t timeoutMs);
    // With USB delivery, when nothing has reached the host: waits on the model clock for the
    // next bytes to arrive, at most `timeoutMs` (a USB IN transfer, which ends with the first
    // packet that carries data or with the latency timer's status-only packet).
    void AwaitAny(uint32_t timeoutMs);

  private:
    uint64_t HeadPosition() const { return base_ + head_; }
    uint64_t EndPosition() const { return base_ + bytes_.size(); }
    // Bytes the host can see now on the full-speed link (or all, with immediate delivery), within
    // the gate.
    uint32_t VisibleNow();
    // Every speed's clock waits until the bytes up to `end` are at the host.
    void WaitForArrival(uint64_t end);

    std::vector<uint8_t> bytes_;
    size_t head_ = 0;
    uint64_t base_ = 0;  // stream position of bytes_[0]
    std::vector<PacketLink> links_;
    std::optional<uint64_t> gateEnd_;  // stream position the host sees no further than
    uint32_t gatePolls_ = 0;
};

}  // namespace vcable

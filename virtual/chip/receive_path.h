// The receive path of a channel: the bytes waiting for the host and when they would have reached
// it. The MPSSE engine and the UART peers append as the host's writes and polls run (through
// Tail), fault rules and the control API append directly; a write's replies are stamped on the
// model clock (Readiness, see record/wire_clock.h), and the host's polls and reads that find them
// wait on that clock until they are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "record/wire_clock.h"

namespace vcable {

// Readers advance a head offset; the storage is reused once drained, so steady traffic does not
// allocate.
class RxQueue {
  public:
    size_t Pending() const { return bytes_.size() - head_; }
    void Append(const uint8_t* data, size_t count);
    // Storage for producers that append directly (engine, peers); drained bytes are dropped first.
    std::vector<uint8_t>& Tail();
    void Clear();

    // What a receive-queue poll (FT_GetQueueStatus, FT_GetStatus) reports: the bytes waiting.
    uint32_t Poll();
    // FT_Read: takes up to `count` waiting bytes. Whatever has arrived is returned at once, as
    // after a read timeout: the model is synchronous, so nothing more arrives while a host waits.
    uint32_t Read(uint8_t* out, uint32_t count);

    // When the queued replies reach the host; ClockWrite moves it on with every write.
    WireReadiness& Readiness() { return readiness_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t head_ = 0;
    WireReadiness readiness_;
};

}  // namespace vcable

// The library's JTAG exports as the player drives them. Everything that needs no answer is only
// queued (JTAG_WriteTMS2, queued JTAG_WriteTDI, JTAG_ReadTDO2) and leaves in as few writes as the
// library's 60000-byte rule allows; the queue is sent (JTAG_Send2FTDI) only where TDO must be
// read, a pause must start after the clocks before it, or the clock rate changes.
//
// All shifts use mode 0x09: TDI out on the falling edge, TDO in on the rising edge, least
// significant bit first, so bit 0 of a vector is the first bit on the wire.
#pragma once

#include <cstdint>
#include <vector>

#include "common/common.h"
#include "jtag/bits.h"

namespace kestrel::jtag {

class JtagCable {
  public:
    // Failures are recorded in `result` (the first export that did not return 0).
    explicit JtagCable(CallResult& result) : result_(result) {}

    // TMS bits, first bit first, with TDI held at `tdiHigh` while they are clocked and after.
    bool Tms(const std::vector<bool>& bits, bool tdiHigh = true);
    // Shifts `tdi` in the shift state; the last bit is clocked with TMS 1 when `leaveShift`.
    bool Shift(const Bits& tdi, bool leaveShift);
    // `count` clocks with TMS held where it is and TDI low.
    bool Clocks(uint64_t count);
    // Shifts `bits` bits with TDI held at its present level and the last bit low, leaving the
    // shift state, and reads TDO: queued, then sent and collected.
    bool ReadWhileHeld(uint32_t bits, Bits& captured);
    // Shifts `tdi` and reads TDO at once (capturing JTAG_WriteTDI2), staying in the shift state
    // unless `leaveShift`.
    bool ShiftAndCapture(const Bits& tdi, bool leaveShift, Bits& captured);
    // Sends the queue.
    bool Send();
    // Sends the queue and waits for a pin read's answer: every command before it has been
    // carried out by then.
    bool Fence();
    bool SetDivisor(uint32_t divisor);

  private:
    // The library's queued byte count, followed here so that TMS runs keep to the 60000-byte
    // rule like the data appends do: the library flushes before a data append that would pass
    // the threshold, streams long data through its 131072-byte buffer (sending it when full) and
    // flushes before a command that would not fit behind the queued bytes.
    void DataAppend(uint32_t wholeBytes) {
        if (queued_ + wholeBytes > kQueueThreshold) queued_ = 0;
    }
    void Claim(uint32_t count) {
        queued_ = queued_ + count > kQueueBuffer ? count : queued_ + count;
    }
    void Stream(uint64_t count);

    static constexpr uint32_t kQueueThreshold = 60000;
    static constexpr uint32_t kQueueBuffer = 131072;

    CallResult& result_;
    uint32_t queued_ = 0;
    std::vector<uint8_t> reply_;
};

}  // namespace kestrel::jtag

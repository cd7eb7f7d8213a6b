// The library's JTAG exports as the player drives them. Everything that needs no answer is only
// queued (JTAG_WriteTMS2, queued JTAG_WriteTDI, JTAG_ReadTDO2) and leaves in as few writes as the
// library's queue threshold (wire::kQueueThreshold) allows; the queue is sent (JTAG_Send2FTDI)
// only where TDO must be read, a pause must start after the clocks before it, or the clock rate
// changes.
//
// All shifts use mode wire::kModeOut (0x09): TDI out on the falling edge, TDO in on the rising
// edge, least significant bit first, so bit 0 of a vector is the first bit on the wire.
#pragma once

#include <cstdint>
#include <vector>

#include "common/common.h"
#include "jtag/bits.h"
#include "wire/capture.h"
#include "wire/mpsse.h"

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
    // How a queued capture clocks its bits. kHeldLow: JTAG_ReadTDO2, which shifts with TDI where
    // the move into the shift state left it and clocks the last bit low, leaving the shift state.
    // kTmsReads: reading TMS commands of up to 6 bits each, TDI at `tdiHigh` throughout, TMS 0
    // but on a leaving last bit; any uniform TDI, and staying in the shift state. kPattern: the
    // queued JTAG_WriteTDI2 with the read bit in its mode, which shifts `tdi` in whole bytes and
    // one-bit commands that read TDO (the last bit with a reading TMS command when leaving).
    enum class CaptureForm { kHeldLow, kTmsReads, kPattern };
    struct Capture {
        CaptureForm form = CaptureForm::kHeldLow;
        uint32_t bits = 0;
        bool tdiHigh = false;
        bool leaveShift = true;
        const Bits* tdi = nullptr;  // kPattern: the bits shifted in (read when it is queued)
    };
    // Reply bytes the capture adds to the receive queue.
    static uint32_t ReplyBytes(const Capture& capture);
    // Queues the capture; its reply waits in the receive queue until Collect, and is then at
    // Reply(offset).
    bool QueueCapture(const Capture& capture, uint32_t& offset);
    // Sends the queue and collects every queued capture's reply since the last collect.
    bool Collect();
    const uint8_t* Reply(uint32_t offset) const { return captures_.Reply(offset); }
    // The captured bits, bit 0 first, from the capture's reply bytes.
    static Bits Unpack(const Capture& capture, const uint8_t* reply);
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
    // The library's queued byte count, followed from the queue's published behaviour so that TMS
    // runs keep to the threshold like the data appends do: a data append that would pass the
    // threshold sends the queue first, long data streams through the buffer (sent when full),
    // and a command that would not fit behind the queued bytes sends them first.
    void DataAppend(uint32_t wholeBytes) {
        if (queued_ + wholeBytes > wire::kQueueThreshold) queued_ = 0;
    }
    void Claim(uint32_t count) {
        queued_ = queued_ + count > wire::kQueueBuffer ? count : queued_ + count;
    }
    void Stream(uint64_t count);
    // A queued JTAG_WriteTDI, or with `read` the queued JTAG_WriteTDI2 that reads TDO.
    bool QueueShift(const Bits& tdi, bool leaveShift, bool read);

    CallResult& result_;
    uint32_t queued_ = 0;
    // Room for the replies of a capturing shift's most; a longer capture grows it.
    wire::CaptureQueue captures_{wire::kMaxBytesPerCommand};
};

}  // namespace kestrel::jtag

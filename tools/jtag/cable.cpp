#include "jtag/cable.h"

#include <algorithm>

#include "kestrellink.h"
#include "wire/read_tdo.h"

namespace kestrel::jtag {
namespace {

using wire::kCommandBytes;
using wire::kQueueBuffer;
using wire::kQueueThreshold;
using wire::kTmsBitsPerCommand;
using wire::kTmsHoldTdiHigh;
using wire::ShiftSplit;
using wire::SplitShift;

// A capturing shift takes at most 65535 whole bytes and its tail; whole-byte pieces keep every
// piece but the last byte-aligned in the vector.
constexpr uint32_t kCapturePieceBits = 8 * wire::kMaxBytesPerCommand;
constexpr uint32_t kClockPieceBits = 8 * wire::kMaxBytesPerCommand;

}  // namespace

void JtagCable::Stream(uint64_t count) {
    while (count > 0) {
        if (queued_ == kQueueBuffer) queued_ = 0;
        const uint64_t n = std::min<uint64_t>(count, kQueueBuffer - queued_);
        queued_ += static_cast<uint32_t>(n);
        count -= n;
    }
}

bool JtagCable::Tms(const std::vector<bool>& bits, bool tdiHigh) {
    for (size_t first = 0; first < bits.size(); first += kTmsBitsPerCommand) {
        const size_t count = std::min<size_t>(kTmsBitsPerCommand, bits.size() - first);
        kl_u8 data = tdiHigh ? kTmsHoldTdiHigh : 0;
        for (size_t i = 0; i < count; ++i) data |= static_cast<kl_u8>(bits[first + i] << i);
        if (queued_ + kCommandBytes > kQueueThreshold && !Send()) return false;
        if (!Check(JTAG_WriteTMS2(wire::kTmsOut, static_cast<kl_u8>(count - 1), &data),
                   "JTAG_WriteTMS2", result_)) {
            return false;
        }
        Claim(kCommandBytes);
    }
    return true;
}

bool JtagCable::Shift(const Bits& tdi, bool leaveShift) {
    return QueueShift(tdi, leaveShift, false);
}

bool JtagCable::QueueShift(const Bits& tdi, bool leaveShift, bool read) {
    const auto bits = static_cast<uint32_t>(tdi.size());
    const kl_u32 last = leaveShift ? 1 : 0;
    kl_u32 done = 0;
    DataAppend(bits / 8);
    const bool queued =
        read ? Check(JTAG_WriteTDI2(wire::kModeOutRead, bits, tdi.data(), nullptr, &done, last),
                     "JTAG_WriteTDI2", result_)
             : Check(JTAG_WriteTDI(wire::kModeOut, bits, tdi.data(), nullptr, &done, last),
                     "JTAG_WriteTDI", result_);
    if (!queued) return false;
    // Its byte-mode commands with their data stream through the buffer; each tail command is
    // placed on its own.
    const uint32_t tail = SplitShift(bits).tail;
    Stream(wire::QueuedShiftBytes(bits) - uint64_t{tail} * kCommandBytes);
    for (uint32_t i = 0; i < tail; ++i) Claim(kCommandBytes);
    return true;
}

bool JtagCable::Clocks(uint64_t count) {
    while (count > 0) {
        const auto bits = static_cast<uint32_t>(std::min<uint64_t>(count, kClockPieceBits));
        if (!Shift(Bits(bits), false)) return false;
        count -= bits;
    }
    return true;
}

uint32_t JtagCable::ReplyBytes(const Capture& capture) {
    if (capture.form == CaptureForm::kHeldLow) return ReadTdoReplyBytes(capture.bits);
    if (capture.form == CaptureForm::kPattern) {
        const ShiftSplit split = SplitShift(capture.bits);  // a byte each whole byte and tail bit
        return split.whole + split.tail;
    }
    return (capture.bits + kTmsBitsPerCommand - 1) / kTmsBitsPerCommand;
}

bool JtagCable::QueueCapture(const Capture& capture, uint32_t& offset) {
    const uint32_t bits = capture.bits;
    captures_.Reserve(captures_.ReplyBytes() + ReplyBytes(capture));
    if (capture.form == CaptureForm::kHeldLow) {
        // Its commands carry no data, and all fit behind a queue the data append left below the
        // threshold.
        DataAppend(bits / 8);
        if (!captures_.ReadTdo(wire::kModeOut, bits, offset, result_)) return false;
        Claim(ReadTdoQueuedBytes(bits));
        return true;
    }
    if (capture.form == CaptureForm::kPattern) {
        return QueueShift(*capture.tdi, capture.leaveShift, true) &&
               captures_.Count(ReplyBytes(capture), offset);
    }
    // Reading TMS commands.
    for (uint32_t first = 0; first < bits; first += kTmsBitsPerCommand) {
        const uint32_t count = std::min<uint32_t>(kTmsBitsPerCommand, bits - first);
        kl_u8 data = capture.tdiHigh ? kTmsHoldTdiHigh : 0;
        if (capture.leaveShift && first + count == bits) data |= 1u << (count - 1);
        if (queued_ + kCommandBytes > kQueueThreshold && !Send()) return false;
        if (!Check(JTAG_WriteTMS2(wire::kTmsRead, static_cast<kl_u8>(count - 1), &data),
                   "JTAG_WriteTMS2", result_)) {
            return false;
        }
        Claim(kCommandBytes);
    }
    return captures_.Count(ReplyBytes(capture), offset);
}

bool JtagCable::Collect() { return Send() && captures_.Collect(result_); }

Bits JtagCable::Unpack(const Capture& capture, const uint8_t* reply) {
    Bits captured(capture.bits);
    if (capture.form == CaptureForm::kHeldLow) {
        UnpackReadTdo(reply, capture.bits, captured.data());
        return captured;
    }
    if (capture.form == CaptureForm::kPattern) {
        // The whole bytes as they were shifted, then one byte per tail bit, the bit in bit 7.
        const ShiftSplit split = SplitShift(capture.bits);
        for (uint32_t k = 0; k < split.whole; ++k) captured.data()[k] = reply[k];
        for (uint32_t i = 0; i < split.tail; ++i) {
            captured.Set(8 * split.whole + i, (reply[split.whole + i] >> 7) & 1);
        }
        return captured;
    }
    // A reading command's k bits fill its reply byte from the top: the first in bit 8 - k.
    for (uint32_t first = 0; first < capture.bits; first += kTmsBitsPerCommand) {
        const uint32_t count = std::min<uint32_t>(kTmsBitsPerCommand, capture.bits - first);
        const uint8_t byte = reply[first / kTmsBitsPerCommand];
        for (uint32_t i = 0; i < count; ++i) captured.Set(first + i, (byte >> (8 - count + i)) & 1);
    }
    return captured;
}

bool JtagCable::ShiftAndCapture(const Bits& tdi, bool leaveShift, Bits& captured) {
    const auto bits = static_cast<uint32_t>(tdi.size());
    captured = Bits(bits);
    queued_ = 0;  // the capturing shift sends the queue before it starts
    for (uint32_t first = 0; first < bits; first += kCapturePieceBits) {
        const uint32_t count = std::min(bits - first, kCapturePieceBits);
        const bool last = first + count == bits;
        kl_u32 read = 0;
        if (!Check(JTAG_WriteTDI2(wire::kModeOut, count, tdi.data() + first / 8,
                                  captured.data() + first / 8, &read, last && leaveShift ? 1 : 0),
                   "JTAG_WriteTDI2", result_)) {
            return false;
        }
        if (read != count) {
            return Reject("JTAG_WriteTDI2 captured " + std::to_string(read) + " of " +
                              std::to_string(count) + " bits",
                          result_);
        }
    }
    return true;
}

bool JtagCable::Send() {
    queued_ = 0;
    return Check(JTAG_Send2FTDI(), "JTAG_Send2FTDI", result_);
}

bool JtagCable::Fence() {
    kl_u8 pins = 0;
    return Send() && Check(JTAG_ReadPort(&pins), "JTAG_ReadPort", result_);
}

bool JtagCable::SetDivisor(uint32_t divisor) {
    queued_ = 0;  // the clock command is sent at once, after the queue
    return Check(FTDI_SetClk(divisor), "FTDI_SetClk", result_);
}

}  // namespace kestrel::jtag

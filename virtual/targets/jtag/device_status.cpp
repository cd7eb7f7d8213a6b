#include "targets/jtag/device_status.h"

#include <vector>

#include "targets/bit_stream.h"

namespace vcable {

void DeviceStatus::Start(const JtagInstruction& row) {
    Settle();
    if (running_ && events_) {
        events_->Note(name_ + ": an operation started while another was busy; the first is lost");
    }
    running_ = true;
    startedAt_ = Now();
    readyAt_ = startedAt_ + row.busyNs;
    sets_ = row.setsFlags;
    clears_ = row.clearsFlags;
    Settle();
}

void DeviceStatus::Settle() {
    const uint64_t now = Now();
    if (!running_ || (now >= startedAt_ && now < readyAt_)) return;
    running_ = false;
    flags_ = (flags_ & ~clears_) | sets_;
}

bool DeviceStatus::Busy() {
    Settle();
    return running_;
}

uint32_t DeviceStatus::Flags() {
    Settle();
    return flags_;
}

void DeviceStatus::Capture(const JtagInstruction& row, ShiftRegister& dr) {
    std::vector<uint8_t> value = row.captureValue;
    value.resize(bits::StreamBytes(row.length), 0);
    if (row.busyBit >= 0) bits::Put(value.data(), row.busyBit, Busy() == row.busyLevel);
    const uint32_t flags = Flags();
    for (size_t n = 0; n < row.flagBits.size(); ++n) {
        if (row.flagBits[n] >= 0) bits::Put(value.data(), row.flagBits[n], (flags >> n) & 1);
    }
    dr.Load(row.length, value.data());
}

}  // namespace vcable

// The frame of every entry point: take the model's lock, record the call, apply fault rules, look
// the handle up, run the model, and record the status returned. An entry point then reads as its
// own behaviour only.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "chip/devices.h"
#include "entry_points/model_lock.h"
#include "faults/faults.h"
#include "record/call_log.h"
#include "record/wire_clock.h"
#include "vendor_api/ft_types.h"

namespace vcable {

class Call {
  public:
    Call(Entry entry, void* handle, std::initializer_list<uint64_t> args)
        : entry_(entry), record_(BeginCall(entry, handle, args)), decision_(ApplyFaults(entry)) {}

    // Copies bytes into the log entry (bytes written, strings passed, bytes read).
    void Data(const void* data, size_t length) { AttachCallData(record_, data, length); }
    void Transferred(uint32_t count) { transferred_ = count; }
    uint32_t WriteLimit() const { return decision_.writeLimit; }

    // For calls without a handle.
    template <class Body>
    FtStatus Run(Body&& body) {
        if (decision_.fail) return Finish(decision_.status, true);
        return Finish(body(), false);
    }

    // For calls on a handle: an unknown or closed handle gives status 1; a handle of an unplugged
    // device gives 4.
    template <class Body>
    FtStatus OnChannel(void* handle, Body&& body) {
        if (decision_.fail) return Finish(decision_.status, true);
        ChannelRef ref = FindHandle(handle);
        if (ref.device == nullptr) return Finish(kFtInvalidHandle, false);
        if (!ref.device->plugged) return Finish(kFtIoError, false);
        return Finish(body(ref), decision_.writeLimit != UINT32_MAX);
    }

  private:
    FtStatus Finish(FtStatus status, bool faulted) {
        FinishCall(record_, status, transferred_, faulted);
        if (status == kFtOk && !faulted) ClockCall(entry_);
        return status;
    }

    ModelLock lock_;  // first: held from before the call is recorded until its frame ends
    Entry entry_;
    uint32_t record_;
    FaultDecision decision_;
    uint32_t transferred_ = 0;
};

inline uint64_t Arg(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

}  // namespace vcable

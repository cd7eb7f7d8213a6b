// Fault rules: each watches one entry point, counts its calls from the rule's creation, and acts
// on the n-th (once) or from the n-th on (persistent).
#pragma once

#include <cstdint>
#include <vector>

#include "vendor_api/entry_list.h"
#include "vendor_api/ft_types.h"

namespace vcable {

struct FaultDecision {
    bool fail = false;  // return status without running the call
    FtStatus status = kFtOk;
    uint32_t writeLimit = UINT32_MAX;  // FT_Write accepts at most this many bytes
    int usbError = 0;                  // the USB face's error for the failure (0: its default)
};

// A failing call returns `status` on the vendor face; on the USB face the transfer or request it
// stands for fails with `usbError` (a libusb error code), or an I/O error when that is 0.
int AddFailRule(Entry entry, uint32_t nth, FtStatus status, bool persistent, int usbError = 0);
int AddShortWriteRule(uint32_t nth, uint32_t maxBytes);
int AddUnplugRule(Entry entry, uint32_t nth, int device);
int AddInjectRule(Entry entry, uint32_t nth, int device, int channel, const uint8_t* data,
                  uint32_t length);
// A shape of reply delivery, at the n-th call of entry on the channel's receive queue
// (RxQueue::Gate): the next `polls` polls show at most `bytes` of what is waiting. A split is one
// poll with some bytes, a hold n polls with none.
int AddGateRule(Entry entry, uint32_t nth, int device, int channel, uint32_t bytes, uint32_t polls);
uint32_t FaultHits(int rule);
void ClearFaults();

// Counts this call against every rule on its entry point and applies the ones that fire. Unplug,
// inject and gate rules act on the model at once; the others shape the call's result.
FaultDecision ApplyFaults(Entry entry);
// The decision of the last ApplyFaults, for the USB face, which sees only the vendor status.
const FaultDecision& LastFaultDecision();

}  // namespace vcable

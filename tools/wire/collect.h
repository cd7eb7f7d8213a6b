// The one collect of the tool's queued captures: whatever captures were queued and sent since the
// last collect left their replies in the receive queue, and one JTAG_RxFTDI takes them all.
#pragma once

#include <cstdint>

#include "common/common.h"

namespace kestrel::wire {

// Collects exactly `bytes` reply bytes into `reply` (room for them); fails, naming the counts,
// when JTAG_RxFTDI fails or delivers fewer.
bool CollectReplies(uint32_t bytes, uint8_t* reply, CallResult& result);

}  // namespace kestrel::wire

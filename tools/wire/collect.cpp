#include "wire/collect.h"

#include <string>

#include "kestrellink.h"

namespace kestrel::wire {

bool CollectReplies(uint32_t bytes, uint8_t* reply, CallResult& result) {
    if (bytes == 0) return true;
    kl_u32 received = 0;
    if (!Check(JTAG_RxFTDI(bytes, reply, &received), "JTAG_RxFTDI", result)) return false;
    if (received != bytes) {
        return Reject("JTAG_RxFTDI delivered " + std::to_string(received) + " of " +
                          std::to_string(bytes) + " reply bytes",
                      result);
    }
    return true;
}

}  // namespace kestrel::wire

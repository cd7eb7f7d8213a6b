// The fixed device descriptions that the name-matching UART opens compare with. The table is a
// constant array of wide literals, so it exists from module load to unload without ever being
// built or changed at run time.
#pragma once

#include "platform/platform.h"

namespace kl::connection {

// Indices of the entries that an open compares with.
enum CableDescriptionIndex : int {
    kZv7300LnkA = 0,
    kZv7300LnkB = 1,
    kZv7300LnkUsbA = 2,
    kZv7300LnkUsbB = 3,
    kStudyBenchUnitA = 4,
    kStudyBenchUnitB = 5,
    kFlashingLeashA = 6,
    kFlashingLeashB = 7,
    kZv7300QrbUsbA = 8,
    kZv7300QrbUsbB = 9,
    kBlankDescription = 10,
    kCableDescriptionCount = 11,
};

// The description at index (0 to 10); null outside the table.
const WChar* CableDescription(int index);

}  // namespace kl::connection

// The setup of the outside circuits on the GPIO lines: lines driven from the start, and changes
// on a schedule counted in receive-queue polls. Lines are numbered 0 to 15 (bit n = line n, ACBUS
// from bit 8).
#pragma once

#include <cstdint>
#include <vector>

namespace vcable {

// Drives `line` to `level` (0 or 1; -1 releases it) at the afterPolls-th poll from the start (0
// and 1: at the first poll).
struct ScheduledDrive {
    int line = 0;
    int level = -1;
    uint32_t afterPolls = 0;
};

struct GpioSetup {
    uint16_t driveMask = 0;  // lines driven from the start
    uint16_t driveLevels = 0xFFFF;
    std::vector<ScheduledDrive> schedule;  // in the order the changes were given
};

}  // namespace vcable

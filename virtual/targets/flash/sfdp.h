// The flash's discoverable parameters (JEDEC SFDP, read with command 0x5A): a header, the basic
// flash parameter table (density, erase types and their times, page size and program time, chip
// erase time, power-down, quad enable, 4-byte addressing and reset) and, for a part over 16 MiB
// with 4-byte opcodes, the 4-byte address instruction table. The model builds them from the part
// as its datasheet lists the fields; a scenario may give its own space.
#pragma once

#include <cstdint>
#include <vector>

#include "targets/flash/flash_part.h"

namespace vcable {

// The SFDP space of the part at `sizeBytes`, with 4 KiB sector erase (0x20), 32 KiB (0x52) and
// 64 KiB (0xD8) block erase where the flash is that large. A part announcing JESD216 revision
// 1.0 has the first nine dwords of the basic table only.
std::vector<uint8_t> BuildSfdp(const FlashPart& part, uint32_t sizeBytes);

// The density, in bytes, that the first basic flash parameter table of an SFDP space announces;
// 0 when the space has no signature, no such table or a density that is not whole bytes.
uint64_t SfdpDensityBytes(const std::vector<uint8_t>& sfdp);

}  // namespace vcable

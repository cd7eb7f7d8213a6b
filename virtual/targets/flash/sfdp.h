// The flash's discoverable parameters (JEDEC SFDP, read with command 0x5A): a header, one
// parameter header and the basic flash parameter table, which announces the density, the erase
// types and the page size. The model builds one from its geometry; a scenario may give its own.
#pragma once

#include <cstdint>
#include <vector>

namespace vcable {

// The SFDP space of a flash of `sizeBytes` with 256-byte pages and 4 KiB sector erase (0x20),
// 32 KiB (0x52) and 64 KiB (0xD8) block erase where the flash is that large.
std::vector<uint8_t> BuildSfdp(uint32_t sizeBytes);

// The density, in bytes, that the first basic flash parameter table of an SFDP space announces;
// 0 when the space has no signature, no such table or a density that is not whole bytes.
uint64_t SfdpDensityBytes(const std::vector<uint8_t>& sfdp);

}  // namespace vcable

// What a write does to one erase sector, decided from what the sector holds and what it must hold
// afterwards. Programming can only clear bits, and a sector is erased whole, so:
// - a sector that already holds the wanted bytes is left alone;
// - when every byte that must change is still erased (0xFF), the pages that change are programmed
//   without an erase;
// - otherwise the sector is erased and every page whose wanted bytes are not all 0xFF is
//   programmed again, the bytes the write does not cover included.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrel {

constexpr uint8_t kErasedByte = 0xFF;

// One page program: `length` bytes from `offset` in the sector, within one page.
struct PageProgram {
    uint32_t offset;
    uint32_t length;
};

struct SectorPlan {
    bool erase = false;
    std::vector<PageProgram> programs;
};

// `current` and `wanted` hold the sector's `sectorSize` bytes. Without `mayErase` the sector is
// never erased and the pages are programmed over what they hold.
SectorPlan PlanSector(const uint8_t* current, const uint8_t* wanted, uint32_t sectorSize,
                      uint32_t pageSize, bool mayErase);

// The bytes a page program of the plan sends: the wanted byte where the page (erased, or as it
// is) holds another, 0xFF where it already holds the wanted one (programming 0xFF changes
// nothing).
std::vector<uint8_t> ProgramBytes(const uint8_t* current, const uint8_t* wanted, bool erased,
                                  const PageProgram& program);

}  // namespace kestrel

#include "flash/flash_plan.h"

namespace kestrel {
namespace {

uint8_t Base(const uint8_t* current, bool erased, uint32_t i) {
    return erased ? kErasedByte : current[i];
}

}  // namespace

SectorPlan PlanSector(const uint8_t* current, const uint8_t* wanted, uint32_t sectorSize,
                      uint32_t pageSize, bool mayErase) {
    SectorPlan plan;
    for (uint32_t i = 0; i < sectorSize && mayErase && !plan.erase; ++i) {
        plan.erase = current[i] != wanted[i] && current[i] != kErasedByte;
    }
    for (uint32_t page = 0; page < sectorSize; page += pageSize) {
        int64_t first = -1;
        uint32_t last = 0;
        for (uint32_t i = page; i < page + pageSize && i < sectorSize; ++i) {
            if (Base(current, plan.erase, i) == wanted[i]) continue;
            if (first < 0) first = i;
            last = i;
        }
        if (first >= 0) {
            const auto start = static_cast<uint32_t>(first);
            plan.programs.push_back({start, last - start + 1});
        }
    }
    return plan;
}

std::vector<uint8_t> ProgramBytes(const uint8_t* current, const uint8_t* wanted, bool erased,
                                  const PageProgram& program) {
    std::vector<uint8_t> bytes(program.length);
    for (uint32_t k = 0; k < program.length; ++k) {
        const uint32_t i = program.offset + k;
        bytes[k] = Base(current, erased, i) == wanted[i] ? kErasedByte : wanted[i];
    }
    return bytes;
}

}  // namespace kestrel

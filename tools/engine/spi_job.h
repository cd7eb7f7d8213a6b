// The engine's SPI flash jobs (kestrel_spi_run): the flash probed and settled (it answers, its
// size is one the part does not contradict), the range held to it, the clock set, and the verb run
// between the job's begin and end, which put back whatever protection it cleared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/job.h"
#include "flash/flash.h"

namespace kestrel::engine {

// What a verb works on, once the flash's size is known.
struct Target {
    uint64_t address = 0;
    uint64_t count = 0;
};

// The job's own checks, made before anything reaches the cable: 0, or the exit code (reported).
int CheckSpiJob(const kestrel_spi_job& request, Job& job);

// The job's range on a flash of this geometry, or a usage problem (then `problem` is set). Also
// used before the cable is opened, with the size a caller gives.
Target SpiRange(const kestrel_spi_job& request, const FlashGeometry& g, std::string& problem);

// The whole job on the opened cable.
int RunSpiJob(const kestrel_spi_job& request, Job& job);

// Runs read, write, erase or verify on the settled flash's range.
int RunSpiVerb(const kestrel_spi_job& request, Flash& flash, const Target& t, Job& job);
// The id verb: the ID, the SFDP table, the size and addressing taken, and the status registers.
int RunSpiId(Flash& flash, const uint8_t id[3], const std::optional<FlashGeometry>& sfdp, Job& job);
// "JEDEC ID EF 40 18: manufacturer 0xEF, type 0x40, capacity code 0x18 (16 MiB)".
std::string JedecIdText(const uint8_t id[3]);
// A failed call's description followed by what else the user must know after it.
CallResult Explained(CallResult result, const std::string& more);
// What the job's lines call the data: the caller's name for it, or "the data".
std::string DataName(const kestrel_spi_job& request);

}  // namespace kestrel::engine

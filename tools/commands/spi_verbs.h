// The verbs of kestrel spi once cmd_spi.cpp has settled the flash (its answer, its size, the
// range): what each does on the flash and what it reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/common.h"
#include "common/inputs.h"
#include "flash/flash.h"

namespace kestrel::spi_verbs {

enum class SpiVerb { kId, kRead, kWrite, kErase, kVerify };

struct SpiOptions {
    uint64_t address = 0;
    uint64_t size = 0;  // read: 0 = to the end of the flash
    uint64_t flashSize = 0;
    double clockHz = 0;  // --clock; 0: not given
    std::string file;
    bool noErase = false;
    bool noVerify = false;
    bool chip = false;
    bool unprotect = false;
};

// What a command works on, once the flash's size is known.
struct Target {
    uint64_t address = 0;
    uint64_t count = 0;
};

// Runs read, write, erase or verify on the range.
int RunVerb(SpiVerb verb, const SpiOptions& o, const std::vector<uint8_t>& input,
            OutputFile& output, Flash& flash, const Target& t);
// spi id: the ID, the SFDP table, the size and addressing taken, and the status registers.
int RunId(Flash& flash, const uint8_t id[3], const std::optional<FlashGeometry>& sfdp);
// "JEDEC ID EF 40 18: manufacturer 0xEF, type 0x40, capacity code 0x18 (16 MiB)".
void PrintJedecId(const uint8_t id[3]);

// "kestrel: note: TEXT" on standard error, and a warning for --json; nothing for empty text.
void Note(const std::string& text);
// A failed call's description followed by what else the user must know after it.
CallResult Explained(CallResult result, const std::string& more);

}  // namespace kestrel::spi_verbs

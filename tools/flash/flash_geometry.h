// What the tool knows of the flash before it sends a command that reads, erases or programs: its
// size, its smallest erase and its page, from --flash-size, from the flash's discoverable
// parameters (SFDP) or from the capacity byte of its JEDEC ID, in that order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/common.h"

namespace kestrel {

// How addresses past 16 MiB are reached: not at all, with the 4-byte opcodes, or in 4-byte mode
// (0xB7 entered before the job, 0xE9 left after it) where every address takes four bytes.
enum class Addressing { kThreeByte, kFourByteOpcodes, kFourByteMode };

// Time-outs of the status polls after each operation, in microseconds: the documented maximum
// from the SFDP table where it gives one, else a bound no part's datasheet exceeds.
struct FlashTimeouts {
    uint64_t program = 5000000;
    uint64_t sector = 30000000;
    uint64_t block = 30000000;
    uint64_t chip = 600000000;
};

struct FlashGeometry {
    uint64_t size = 0;  // bytes; 0 when unknown
    std::string sizeSource;
    // What the SFDP table's density and the JEDEC ID's capacity byte announce (0: nothing):
    // `size` is held to them (SettleSize).
    uint64_t sfdpSize = 0;
    uint64_t jedecSize = 0;
    uint32_t eraseSize = 4096;  // the smallest erase, and its opcode
    uint8_t eraseOpcode = 0x20;
    uint32_t blockSize = 0;  // the largest erase (64 KiB) where the table lists it, and its opcode
    uint8_t blockOpcode = 0;
    uint32_t pageSize = 256;
    Addressing addressing = Addressing::kThreeByte;
    uint8_t eraseOpcode4 = 0x21;  // the 4-byte opcodes of the two erases
    uint8_t blockOpcode4 = 0xDC;
    FlashTimeouts timeouts;
    bool timesFromSfdp = false;
};

// Addresses reach 16 MiB with three bytes and, in this tool, 256 MiB with four.
constexpr uint64_t kThreeByteLimit = uint64_t{1} << 24;
constexpr uint64_t kFourByteLimit = uint64_t{1} << 28;

// The size a JEDEC ID's capacity byte announces (2^capacity bytes, 4 KiB to 2 GiB), or 0.
uint64_t SizeFromJedec(const uint8_t id[3]);

// A JEDEC ID that no flash sent: all ones (nothing drove DI, which its pull-up holds high: no
// flash, or one on another chip select) or all zeros (DI held low). After such an ID nothing more
// is asked of the flash, and commands that read, erase, program or verify it are refused.
bool NoFlashAnswered(const uint8_t id[3]);
// Why such an ID ends the command: "no flash answered on the SPI lines: ...".
std::string NoAnswerText(const uint8_t id[3]);

// Reads `count` bytes of the SFDP space from `address`; false when the transfer failed.
using SfdpReader = std::function<bool(uint32_t address, uint8_t* out, uint32_t count)>;

// The flash's discoverable parameters: nothing when it does not answer with the signature or has
// no JEDEC basic parameter table; otherwise the size, erase and page the table announces (the
// default erase and page for what it leaves out). False only when a read failed.
bool ReadSfdpGeometry(const SfdpReader& read, std::optional<FlashGeometry>& geometry);

struct Flash;

// Asks the flash: its JEDEC ID and, when a flash answered it, its SFDP table; the geometry takes
// the size they announce (SettleSize without a given size). The ID is left in `id`.
bool ProbeFlash(Flash& flash, uint8_t id[3], std::optional<FlashGeometry>& sfdp,
                FlashGeometry& geometry, CallResult& result);

// Settles the size from what the part announces and --flash-size (`given`, 0: none). The part's
// own size is the one its SFDP table and JEDEC ID announce (unknown when they disagree); `given`
// takes its place unless it is larger than the part (than the larger of the two, when they
// disagree), where an address past the end would wrap around to the start. Returns why `given` is
// refused, or empty. Past 16 MiB without an SFDP table, the flash is taken to use 4-byte mode.
std::string SettleSize(uint64_t given, FlashGeometry& geometry);
// Whether the size is one the part announced, so that a chip erase erases exactly [0, size).
bool SizeIsThePart(const FlashGeometry& geometry);
// Why the size is unknown: "no SFDP table, and ..." or "its SFDP table announces 2 MiB and ...".
std::string UnknownSizeText(const FlashGeometry& geometry);
// What the user should know of a size --flash-size gave where the part announces none, or where
// its announcements disagree; empty otherwise.
std::string SizeNote(const FlashGeometry& geometry);

// "1 MiB", "64 KiB" or "12345 bytes".
std::string SizeText(uint64_t bytes);
// "0x00F000": an address, six hex digits at least.
std::string AddressText(uint64_t address);
// "0x00F000 to 0x010FFF": the bytes [first, end).
std::string RangeText(uint64_t first, uint64_t end);

// Why [address, address + count) cannot be used on the flash, or empty when it can: it passes the
// end of the flash or the 16 MiB that 3-byte addresses reach (256 MiB with 4-byte addressing), or
// the size is unknown.
std::string RangeProblem(uint64_t address, uint64_t count, const FlashGeometry& geometry);

}  // namespace kestrel

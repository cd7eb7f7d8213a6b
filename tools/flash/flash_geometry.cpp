#include "flash/flash_geometry.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "flash/spi_ops.h"

namespace kestrel {
namespace {

constexpr uint8_t kMinCapacityCode = 0x0C;  // 4 KiB
constexpr uint8_t kMaxCapacityCode = 0x1F;  // 2 GiB

// The SFDP space: "SFDP", revisions, the number of parameter headers less one; then 8-byte
// parameter headers (ID, revisions, length in dwords, 24-bit table pointer, ID high byte).
constexpr uint32_t kSfdpSignature = 0x50444653;
constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kParameterHeaderBytes = 8;
constexpr uint32_t kMaxParameterHeaders = 32;
constexpr uint8_t kBasicTableIdLsb = 0x00;
constexpr uint8_t kBasicTableIdMsb = 0xFF;
constexpr uint8_t kBasicTableMajor = 1;
// Dwords of the basic table the tool reads (numbered from 1): flags with the 4 KiB erase and the
// address bytes, density, the four erase types (8 and 9), their times (10), the page size and
// program and chip-erase times (11), the 4-byte addressing methods (16).
constexpr uint32_t kTableDwordsRead = 16;
constexpr uint32_t kFlagsDword = 1;
constexpr uint32_t kDensityDword = 2;
constexpr uint32_t kEraseTypesDword = 8;
constexpr uint32_t kEraseTimesDword = 10;
constexpr uint32_t kPageSizeDword = 11;
constexpr uint32_t kFourByteDword = 16;
constexpr uint32_t kDensityIsPowerOfTwo = 0x80000000u;
constexpr uint32_t kFourKibEraseAvailable = 0x01;
constexpr uint32_t kAddressBytesMask = 3u << 17;
constexpr uint32_t kEnterWithB7 = 1u << 24;
constexpr uint32_t kFourByteInstructions = 1u << 29;
// The 4-byte address instruction table: a support dword (bit 0: 0x13, bit 6: 0x12, bit 9 + n:
// erase type n + 1) and the four erase types' opcodes.
constexpr uint8_t kFourByteTableIdLsb = 0x84;
constexpr uint32_t kFourByteReadAndProgram = (1u << 0) | (1u << 6);
constexpr uint32_t kBlockLog2 = 16;

// Units of the table's time fields, in microseconds.
constexpr uint64_t kEraseUnits[4] = {1000, 16000, 128000, 1000000};
constexpr uint64_t kChipUnits[4] = {16000, 256000, 4000000, 64000000};

uint32_t Dword(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

uint64_t DensityBytes(uint32_t density) {
    if (density & kDensityIsPowerOfTwo) {
        const uint32_t log2Bits = density & ~kDensityIsPowerOfTwo;
        return log2Bits >= 3 && log2Bits < 64 ? (uint64_t{1} << log2Bits) / 8 : 0;
    }
    return (uint64_t{density} + 1) / 8;
}

// The erase types: the smallest becomes the sector erase, a 64 KiB one the block erase; with the
// times dword, their documented maxima become the time-outs. Without types, the 4 KiB erase of
// the first dword. `types` gets the index of each chosen type (or -1).
void ReadErase(const uint8_t* table, uint32_t dwords, FlashGeometry& g, int types[2]) {
    types[0] = types[1] = -1;
    if (dwords >= kEraseTypesDword + 1) {
        const uint8_t* list = table + 4 * (kEraseTypesDword - 1);
        for (int t = 0; t < 4; ++t) {
            const uint8_t log2Size = list[2 * t];
            if (log2Size == 0 || log2Size > 31) continue;
            if (types[0] < 0 || log2Size < list[2 * types[0]]) types[0] = t;
            if (log2Size == kBlockLog2) types[1] = t;
        }
    }
    if (types[0] < 0) {
        const uint32_t flags = Dword(table + 4 * (kFlagsDword - 1));
        if ((flags & 3) == kFourKibEraseAvailable) {
            g.eraseSize = 4096;
            g.eraseOpcode = static_cast<uint8_t>(flags >> 8);
        }
        return;
    }
    const uint8_t* list = table + 4 * (kEraseTypesDword - 1);
    g.eraseSize = 1u << list[2 * types[0]];
    g.eraseOpcode = list[2 * types[0] + 1];
    if (types[1] >= 0 && types[1] != types[0]) {
        g.blockSize = 1u << kBlockLog2;
        g.blockOpcode = list[2 * types[1] + 1];
    }
    if (dwords < kEraseTimesDword) return;
    const uint32_t times = Dword(table + 4 * (kEraseTimesDword - 1));
    const uint64_t factor = 2 * ((times & 0xF) + 1);
    auto maxOf = [&](int type) {
        const uint32_t field = (times >> (4 + 7 * type)) & 0x7F;
        return factor * ((field & 0x1F) + 1) * kEraseUnits[field >> 5];
    };
    g.timeouts.sector = maxOf(types[0]);
    g.timeouts.block = types[1] >= 0 ? maxOf(types[1]) : g.timeouts.block;
    g.timesFromSfdp = true;
}

// Dword 11: the page size and, with the program multiplier, the page program and chip erase
// maxima.
void ReadProgram(const uint8_t* table, FlashGeometry& g) {
    const uint32_t d = Dword(table + 4 * (kPageSizeDword - 1));
    const uint32_t log2Page = (d >> 4) & 0xF;
    if (log2Page > 0) g.pageSize = 1u << log2Page;
    const uint64_t factor = 2 * ((d & 0xF) + 1);
    const uint64_t program = (((d >> 8) & 0x1F) + 1) * ((d >> 13) & 1 ? 64 : 8);
    const uint64_t chip = (((d >> 24) & 0x1F) + 1) * kChipUnits[(d >> 29) & 3];
    if ((d >> 8) == 0) return;  // no times given
    g.timeouts.program = factor * program;
    g.timeouts.chip = factor * chip;
}

// Which addressing a part over 16 MiB uses: the 4-byte opcodes where the table announces them,
// else 4-byte mode.
void ReadAddressing(const uint8_t* table, uint32_t dwords, FlashGeometry& g) {
    if (g.size <= kThreeByteLimit) return;
    g.addressing = Addressing::kFourByteMode;
    if (dwords < kFourByteDword) return;
    const uint32_t methods = Dword(table + 4 * (kFourByteDword - 1));
    if (methods & kFourByteInstructions) g.addressing = Addressing::kFourByteOpcodes;
    if (!(methods & (kFourByteInstructions | kEnterWithB7)) &&
        (Dword(table + 4 * (kFlagsDword - 1)) & kAddressBytesMask) == 0) {
        g.addressing = Addressing::kThreeByte;  // announces 3-byte addresses only
    }
}

// The 4-byte address instruction table: the erase opcodes, and the 4-byte opcodes for reads and
// programs where it lists both.
bool ReadFourByteTable(const SfdpReader& read, const uint8_t* header, const int types[2],
                       FlashGeometry& g) {
    uint8_t table[8];
    if (!read(Dword(header + 4) & 0xFFFFFF, table, sizeof table)) return false;
    const uint32_t support = Dword(table);
    if ((support & kFourByteReadAndProgram) != kFourByteReadAndProgram) return true;
    if (g.size > kThreeByteLimit) g.addressing = Addressing::kFourByteOpcodes;
    if (types[0] >= 0 && (support >> (9 + types[0]) & 1)) g.eraseOpcode4 = table[4 + types[0]];
    if (types[1] >= 0 && (support >> (9 + types[1]) & 1)) g.blockOpcode4 = table[4 + types[1]];
    return true;
}

}  // namespace

uint64_t SizeFromJedec(const uint8_t id[3]) {
    if (id[2] < kMinCapacityCode || id[2] > kMaxCapacityCode) return 0;
    return uint64_t{1} << id[2];
}

bool ReadSfdpGeometry(const SfdpReader& read, std::optional<FlashGeometry>& geometry) {
    geometry.reset();
    uint8_t header[kHeaderBytes];
    if (!read(0, header, kHeaderBytes)) return false;
    if (Dword(header) != kSfdpSignature) return true;
    const uint32_t headers = std::min<uint32_t>(header[6] + 1u, kMaxParameterHeaders);
    std::vector<uint8_t> parameters(headers * kParameterHeaderBytes);
    if (!read(kHeaderBytes, parameters.data(), static_cast<uint32_t>(parameters.size()))) {
        return false;
    }
    FlashGeometry g;
    int types[2] = {-1, -1};
    bool basic = false;
    for (uint32_t h = 0; h < headers; ++h) {
        const uint8_t* p = &parameters[h * kParameterHeaderBytes];
        if (p[7] != kBasicTableIdMsb || p[2] != kBasicTableMajor) continue;
        if (p[0] == kFourByteTableIdLsb && basic && p[3] >= 2) {
            if (!ReadFourByteTable(read, p, types, g)) return false;
            continue;
        }
        if (p[0] != kBasicTableIdLsb || basic || p[3] < kDensityDword) continue;
        const uint32_t dwords = std::min<uint32_t>(p[3], kTableDwordsRead);
        std::vector<uint8_t> table(4 * dwords);
        if (!read(Dword(p + 4) & 0xFFFFFF, table.data(), 4 * dwords)) return false;
        g.size = DensityBytes(Dword(&table[4 * (kDensityDword - 1)]));
        g.sizeSource = "SFDP";
        ReadErase(table.data(), dwords, g, types);
        if (dwords >= kPageSizeDword) ReadProgram(table.data(), g);
        ReadAddressing(table.data(), dwords, g);
        basic = true;
    }
    if (basic && g.size > 0) geometry = g;
    return true;
}

bool NoFlashAnswered(const uint8_t id[3]) {
    const bool ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    return ones || (id[0] == 0 && id[1] == 0 && id[2] == 0);
}

std::string NoAnswerText(const uint8_t id[3]) {
    return "no flash answered on the SPI lines: its JEDEC ID reads " + HexBytes(id, 3) +
           (id[0] ? " (nothing drove DI, which its pull-up holds high)" : " (DI held low)") +
           "; check that a flash is there, powered, and selected by GPIOL2; nothing was read, "
           "erased or programmed";
}

bool ProbeFlash(Flash& flash, uint8_t id[3], std::optional<FlashGeometry>& sfdp,
                FlashGeometry& geometry, CallResult& result) {
    sfdp.reset();
    geometry = FlashGeometry{};
    if (!FlashJedecId(flash, id, result)) return false;
    if (NoFlashAnswered(id)) return true;
    const SfdpReader read = [&flash, &result](uint32_t address, uint8_t* out, uint32_t count) {
        return FlashReadSfdp(flash, address, out, count, result);
    };
    if (!ReadSfdpGeometry(read, sfdp)) return false;
    geometry = sfdp.value_or(FlashGeometry{});
    geometry.sfdpSize = sfdp ? sfdp->size : 0;
    geometry.jedecSize = SizeFromJedec(id);
    SettleSize(0, geometry);
    return true;
}

std::string SettleSize(uint64_t given, FlashGeometry& g) {
    const uint64_t larger = std::max(g.sfdpSize, g.jedecSize);
    const bool agree = !g.sfdpSize || !g.jedecSize || g.sfdpSize == g.jedecSize;
    g.size = agree ? larger : 0;
    g.sizeSource = !agree ? "" : g.sfdpSize ? "SFDP" : g.jedecSize ? "the JEDEC ID" : "";
    if (given && larger && given > larger) {
        return "--flash-size " + SizeText(given) + " (" + std::to_string(given) +
               " bytes) is larger than the flash: its " +
               (larger == g.sfdpSize ? "SFDP table" : "JEDEC ID") + " announces " +
               SizeText(larger) + " (" + std::to_string(larger) +
               " bytes), and an address past the end would wrap around to the start";
    }
    if (given) {
        g.size = given;
        g.sizeSource = "--flash-size";
    }
    // Past 16 MiB without a table that says how: 4-byte mode, which such parts have.
    if (g.size > kThreeByteLimit && g.addressing == Addressing::kThreeByte && !g.sfdpSize) {
        g.addressing = Addressing::kFourByteMode;
    }
    return "";
}

bool SizeIsThePart(const FlashGeometry& g) {
    return g.size && (g.size == g.sfdpSize || g.size == g.jedecSize);
}

std::string UnknownSizeText(const FlashGeometry& g) {
    if (g.sfdpSize && g.jedecSize && g.sfdpSize != g.jedecSize) {
        return "its SFDP table announces " + SizeText(g.sfdpSize) + " and its JEDEC ID " +
               SizeText(g.jedecSize);
    }
    return "no SFDP table, and the JEDEC ID's capacity byte announces none";
}

std::string SizeNote(const FlashGeometry& g) {
    if (g.sizeSource != "--flash-size") return "";
    if (g.sfdpSize && g.jedecSize && g.sfdpSize != g.jedecSize) {
        return "--flash-size " + SizeText(g.size) + " decides where " + UnknownSizeText(g);
    }
    if (!g.sfdpSize && !g.jedecSize) {
        return "--flash-size " + SizeText(g.size) + " is unchecked: the flash announces no " +
               "size (" + UnknownSizeText(g) +
               "), and a range past its real end would wrap around to its start";
    }
    return "";
}

std::string SizeText(uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string AddressText(uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%06llX", static_cast<unsigned long long>(address));
    return text;
}

std::string RangeText(uint64_t first, uint64_t end) {
    return AddressText(first) + " to " + AddressText(end - 1);
}

std::string RangeProblem(uint64_t address, uint64_t count, const FlashGeometry& geometry) {
    const std::string range =
        RangeText(address, address + count) + " (" + std::to_string(count) + " bytes)";
    if (geometry.size == 0) {
        return "the flash's size is unknown (" + UnknownSizeText(geometry) + "); give --flash-size";
    }
    if (address + count > geometry.size) {
        return "the range " + range + " passes the end of the " + SizeText(geometry.size) +
               " flash (" + std::to_string(geometry.size) + " bytes, from " + geometry.sizeSource +
               ")";
    }
    if (geometry.addressing == Addressing::kThreeByte && address + count > kThreeByteLimit) {
        return "the range " + range + " passes the 16 MiB that 3-byte addresses reach";
    }
    if (address + count > kFourByteLimit) {
        return "the range " + range + " passes the 256 MiB this tool addresses";
    }
    return "";
}

}  // namespace kestrel

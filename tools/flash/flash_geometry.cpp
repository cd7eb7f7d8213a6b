#include "flash/flash_geometry.h"

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
// Dwords of the basic table the tool reads (numbered from 1): flags with the 4 KiB erase, density,
// the four erase types (8 and 9), the page size (11).
constexpr uint32_t kTableDwordsRead = 11;
constexpr uint32_t kFlagsDword = 1;
constexpr uint32_t kDensityDword = 2;
constexpr uint32_t kEraseTypesDword = 8;
constexpr uint32_t kPageSizeDword = 11;
constexpr uint32_t kDensityIsPowerOfTwo = 0x80000000u;
constexpr uint32_t kFourKibEraseAvailable = 0x01;

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

// The smallest erase type the table lists, or the 4 KiB erase of its first dword.
void ReadErase(const uint8_t* table, uint32_t dwords, FlashGeometry& g) {
    if (dwords >= kEraseTypesDword + 1) {
        const uint8_t* types = table + 4 * (kEraseTypesDword - 1);
        int smallest = -1;
        for (int t = 0; t < 4; ++t) {
            const uint8_t log2Size = types[2 * t];
            if (log2Size == 0 || log2Size > 31) continue;
            if (smallest < 0 || log2Size < types[2 * smallest]) smallest = t;
        }
        if (smallest >= 0) {
            g.eraseSize = 1u << types[2 * smallest];
            g.eraseOpcode = types[2 * smallest + 1];
            return;
        }
    }
    const uint32_t flags = Dword(table + 4 * (kFlagsDword - 1));
    if ((flags & 3) == kFourKibEraseAvailable) {
        g.eraseSize = 4096;
        g.eraseOpcode = static_cast<uint8_t>(flags >> 8);
    }
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
    for (uint32_t h = 0; h < headers; ++h) {
        const uint8_t* p = &parameters[h * kParameterHeaderBytes];
        if (p[0] != kBasicTableIdLsb || p[7] != kBasicTableIdMsb || p[2] != kBasicTableMajor ||
            p[3] < kDensityDword) {
            continue;
        }
        const uint32_t dwords = std::min<uint32_t>(p[3], kTableDwordsRead);
        std::vector<uint8_t> table(4 * dwords);
        if (!read(Dword(p + 4) & 0xFFFFFF, table.data(), 4 * dwords)) return false;
        FlashGeometry g;
        g.size = DensityBytes(Dword(&table[4 * (kDensityDword - 1)]));
        g.sizeSource = "SFDP";
        ReadErase(table.data(), dwords, g);
        if (dwords >= kPageSizeDword) {
            const uint32_t log2Page = table[4 * (kPageSizeDword - 1)] >> 4;
            if (log2Page > 0) g.pageSize = 1u << log2Page;
        }
        if (g.size > 0) geometry = g;
        return true;
    }
    return true;
}

bool ProbeFlash(uint64_t sizeOverride, uint8_t id[3], std::optional<FlashGeometry>& sfdp,
                FlashGeometry& geometry, CallResult& result) {
    if (!FlashJedecId(id, result)) return false;
    const SfdpReader read = [&result](uint32_t address, uint8_t* out, uint32_t count) {
        return FlashReadSfdp(address, out, count, result);
    };
    if (!ReadSfdpGeometry(read, sfdp)) return false;
    geometry = sfdp.value_or(FlashGeometry{});
    if (!sfdp) {
        geometry.size = SizeFromJedec(id);
        if (geometry.size) geometry.sizeSource = "the JEDEC ID";
    }
    if (sizeOverride) {
        geometry.size = sizeOverride;
        geometry.sizeSource = "--flash-size";
    }
    return true;
}

std::string SizeText(uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string RangeProblem(uint64_t address, uint64_t count, const FlashGeometry& geometry) {
    char range[80];
    std::snprintf(range, sizeof range, "0x%06llX to 0x%06llX (%llu bytes)",
                  static_cast<unsigned long long>(address),
                  static_cast<unsigned long long>(address + count - 1),
                  static_cast<unsigned long long>(count));
    if (geometry.size == 0) {
        return std::string(
            "the flash's size is unknown (no SFDP table, and the JEDEC ID's "
            "capacity byte announces none); give --flash-size");
    }
    if (address + count > geometry.size) {
        return std::string("the range ") + range + " passes the end of the " +
               SizeText(geometry.size) + " flash (" + std::to_string(geometry.size) +
               " bytes, from " + geometry.sizeSource + ")";
    }
    if (address + count > kAddressableBytes) {
        return std::string("the range ") + range + " passes the 16 MiB that 3-byte addresses reach";
    }
    return "";
}

}  // namespace kestrel

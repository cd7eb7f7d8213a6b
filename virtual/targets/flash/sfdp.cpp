#include "targets/flash/sfdp.h"

namespace vcable {
namespace {

constexpr uint32_t kSignature = 0x50444653;  // "SFDP", least significant byte first
constexpr uint8_t kMajorRevision = 1;
constexpr uint8_t kMinorRevision = 6;
constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kParameterHeaderBytes = 8;
constexpr uint8_t kBasicTableIdLsb = 0x00;
constexpr uint8_t kBasicTableIdMsb = 0xFF;
constexpr uint32_t kTableDwords = 16;

// The table's dwords (numbered from 1 as the layout counts them).
constexpr int kEraseAndFlagsDword = 1;
constexpr int kDensityDword = 2;
constexpr int kEraseTypes12Dword = 8;
constexpr int kEraseTypes34Dword = 9;
constexpr int kPageSizeDword = 11;

// First dword: 4 KiB erase available with opcode 0x20, writes of 64 bytes or more, 3-byte
// addresses only, no fast-read variants; the reserved bits read as ones.
constexpr uint32_t kFlagsDword = 0xFF800000u | (0x20u << 8) | 0x04u | 0x01u;
constexpr uint32_t kDensityInPowerOfTwo = 0x80000000u;
constexpr uint32_t kPageSizeLog2 = 8;

struct EraseType {
    uint8_t sizeLog2;
    uint8_t opcode;
};
constexpr EraseType kEraseTypes[] = {{12, 0x20}, {15, 0x52}, {16, 0xD8}};

void Put32(std::vector<uint8_t>& out, uint32_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t>& in, uint32_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | in[at + i];
    return value;
}

uint32_t Get24(const std::vector<uint8_t>& in, uint32_t at) { return Get32(in, at) & 0xFFFFFF; }

}  // namespace

std::vector<uint8_t> BuildSfdp(uint32_t sizeBytes) {
    const uint32_t table = kHeaderBytes + kParameterHeaderBytes;
    std::vector<uint8_t> out(table + 4 * kTableDwords, 0);
    Put32(out, 0, kSignature);
    out[4] = kMinorRevision;
    out[5] = kMajorRevision;
    out[6] = 0;  // one parameter header
    out[7] = 0xFF;
    out[8] = kBasicTableIdLsb;
    out[9] = kMinorRevision;
    out[10] = kMajorRevision;
    out[11] = kTableDwords;
    Put32(out, 12, table | (uint32_t{kBasicTableIdMsb} << 24));

    auto dword = [&](int n, uint32_t value) { Put32(out, table + 4 * (n - 1), value); };
    dword(kEraseAndFlagsDword, kFlagsDword);
    dword(kDensityDword, static_cast<uint32_t>(uint64_t{sizeBytes} * 8 - 1));
    uint8_t types[4][2] = {};
    int count = 0;
    for (const EraseType& type : kEraseTypes) {
        if ((uint64_t{1} << type.sizeLog2) > sizeBytes) continue;
        types[count][0] = type.sizeLog2;
        types[count][1] = type.opcode;
        ++count;
    }
    auto pair = [&](int a, int b) {
        return uint32_t{types[a][0]} | uint32_t{types[a][1]} << 8 | uint32_t{types[b][0]} << 16 |
               uint32_t{types[b][1]} << 24;
    };
    dword(kEraseTypes12Dword, pair(0, 1));
    dword(kEraseTypes34Dword, pair(2, 3));
    dword(kPageSizeDword, kPageSizeLog2 << 4);
    return out;
}

uint64_t SfdpDensityBytes(const std::vector<uint8_t>& sfdp) {
    if (sfdp.size() < kHeaderBytes || Get32(sfdp, 0) != kSignature) return 0;
    const uint32_t headers = uint32_t{sfdp[6]} + 1;
    for (uint32_t h = 0; h < headers; ++h) {
        const uint32_t at = kHeaderBytes + h * kParameterHeaderBytes;
        if (at + kParameterHeaderBytes > sfdp.size()) return 0;
        if (sfdp[at] != kBasicTableIdLsb || sfdp[at + 7] != kBasicTableIdMsb) continue;
        const uint32_t table = Get24(sfdp, at + 4);
        if (sfdp[at + 3] < kDensityDword || table + 4 * kDensityDword > sfdp.size()) return 0;
        const uint32_t density = Get32(sfdp, table + 4 * (kDensityDword - 1));
        if (density & kDensityInPowerOfTwo) {
            const uint32_t log2Bits = density & ~kDensityInPowerOfTwo;
            return log2Bits >= 3 && log2Bits < 64 ? (uint64_t{1} << log2Bits) / 8 : 0;
        }
        const uint64_t bits = uint64_t{density} + 1;
        return bits % 8 == 0 ? bits / 8 : 0;
    }
    return 0;
}

}  // namespace vcable

#include "targets/flash/sfdp.h"

#include <algorithm>

namespace vcable {
namespace {

constexpr uint32_t kSignature = 0x50444653;  // "SFDP", least significant byte first
constexpr uint8_t kMajorRevision = 1;
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
constexpr int kEraseTimesDword = 10;
constexpr int kProgramDword = 11;
constexpr int kPowerDownDword = 14;
constexpr int kQuadEnableDword = 15;
constexpr int kFourByteDword = 16;
constexpr uint32_t kFirstRevisionDwords = 9;  // JESD216 before revision A ends after dword 9

// First dword: 4 KiB erase available with opcode 0x20, writes of 64 bytes or more; the reserved
// bits read as ones. A part adds the fast-read variants it has and its address bytes.
constexpr uint32_t kFlagsDword = 0xFF800000u | (0x20u << 8) | 0x04u | 0x01u;
constexpr uint32_t kQuadReadFlags = (1u << 16) | (1u << 20) | (1u << 21) | (1u << 22);
constexpr uint32_t kThreeOrFourByteAddresses = 1u << 17;
constexpr uint32_t kDensityInPowerOfTwo = 0x80000000u;
// Dwords 3 to 7 of a quad part: the fast-read opcodes and their wait states (0xEB, 0x6B, 0x3B,
// 0xBB); no 2-2-2 or 4-4-4 modes.
constexpr uint32_t kFastReadDwords[5] = {0x6B08EB44u, 0xBB423B08u, 0xFFFFFFEEu, 0xFF00FFFFu,
                                         0xFF00FFFFu};

constexpr uint32_t kFourByteTableId = 0x84;
constexpr uint32_t kFourByteTableDwords = 2;

struct EraseType {
    uint8_t sizeLog2;
    uint8_t opcode;
    uint8_t opcode4;  // its 4-byte-address opcode, 0xFF for none
};
constexpr EraseType kEraseTypes[] = {{12, 0x20, 0x21}, {15, 0x52, 0xFF}, {16, 0xD8, 0xDC}};

void Put32(std::vector<uint8_t>& out, uint32_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t>& in, uint32_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | in[at + i];
    return value;
}

uint32_t Get24(const std::vector<uint8_t>& in, uint32_t at) { return Get32(in, at) & 0xFFFFFF; }

// A time as the table encodes it: (count + 1) units, count in `countBits` bits, the smallest of
// the units (ascending, in microseconds) that reaches it; the unit's index follows the count.
uint32_t EncodeTime(uint64_t us, const uint64_t* units, int unitCount, int countBits) {
    const uint64_t most = uint64_t{1} << countBits;
    for (int u = 0; u < unitCount; ++u) {
        const uint64_t count = (us + units[u] - 1) / units[u];
        if (count <= most || u == unitCount - 1) {
            const uint64_t field = std::clamp<uint64_t>(count, 1, most) - 1;
            return static_cast<uint32_t>(field | uint64_t(u) << countBits);
        }
    }
    return 0;
}

// The multiplier field: the maximum time is 2 * (m + 1) times the typical one.
uint32_t EncodeMultiplier(uint64_t typical, uint64_t maximum) {
    if (typical == 0) return 0;
    const uint64_t m = (maximum + 2 * typical - 1) / (2 * typical);
    return static_cast<uint32_t>(std::clamp<uint64_t>(m, 1, 16) - 1);
}

constexpr uint64_t kEraseUnits[] = {1000, 16000, 128000, 1000000};
constexpr uint64_t kProgramUnits[] = {8, 64};
constexpr uint64_t kByteUnits[] = {1, 8};
constexpr uint64_t kChipUnits[] = {16000, 256000, 4000000, 64000000};

uint32_t EraseTimesDword(const FlashTimes& t) {
    uint64_t worst = 0;
    const BusyTime erases[] = {t.sectorErase, t.blockErase32, t.blockErase64};
    uint32_t dword = 0;
    for (int i = 0; i < 3; ++i) {
        dword |= EncodeTime(erases[i].typicalUs, kEraseUnits, 4, 5) << (4 + 7 * i);
        if (erases[i].typicalUs) {
            worst =
                std::max<uint64_t>(worst, EncodeMultiplier(erases[i].typicalUs, erases[i].maxUs));
        }
    }
    return dword | static_cast<uint32_t>(worst);
}

uint32_t ProgramDword(const FlashPart& part) {
    const FlashTimes& t = part.times;
    uint32_t pageLog2 = 0;
    while ((1u << pageLog2) < part.pageSize) ++pageLog2;
    return EncodeMultiplier(t.pageProgram.typicalUs, t.pageProgram.maxUs) | pageLog2 << 4 |
           EncodeTime(t.pageProgram.typicalUs, kProgramUnits, 2, 5) << 8 |
           EncodeTime(30, kByteUnits, 2, 4) << 14 | EncodeTime(3, kByteUnits, 2, 4) << 19 |
           EncodeTime(t.chipEraseTypicalUs, kChipUnits, 4, 5) << 24;
}

// Dword 16: how the part enters and leaves 4-byte addressing, its soft reset and how status
// register 1 is written.
uint32_t FourByteDword(const FlashPart& part, uint32_t size) {
    uint32_t dword = 0x80;  // reserved bit
    dword |= part.volatileStatusWrite ? 0x08 : 0x01;
    dword |= 1u << 12;  // reset with 0x66 then 0x99
    if (size <= (1u << 24)) return dword;
    if (part.has4ByteMode) dword |= (1u << 24) | (1u << 14);
    if (part.has4ByteOpcodes) dword |= 1u << 29;
    return dword | 1u << 19;  // a software reset also leaves 4-byte mode
}

void PutHeader(std::vector<uint8_t>& out, uint32_t at, uint8_t idLsb, uint8_t minor,
               uint32_t dwords, uint32_t table) {
    out[at] = idLsb;
    out[at + 1] = minor;
    out[at + 2] = kMajorRevision;
    out[at + 3] = static_cast<uint8_t>(dwords);
    Put32(out, at + 4, table | (uint32_t{kBasicTableIdMsb} << 24));
}

}  // namespace

std::vector<uint8_t> BuildSfdp(const FlashPart& part, uint32_t sizeBytes) {
    const bool fourByteTable = part.has4ByteOpcodes && sizeBytes > (1u << 24);
    const uint32_t headers = fourByteTable ? 2 : 1;
    const uint32_t dwords = part.sfdpMinor == 0 ? kFirstRevisionDwords : kTableDwords;
    const uint32_t table = kHeaderBytes + headers * kParameterHeaderBytes;
    const uint32_t fourTable = table + 4 * dwords;
    std::vector<uint8_t> out(fourTable + (fourByteTable ? 4 * kFourByteTableDwords : 0), 0);
    Put32(out, 0, kSignature);
    out[4] = part.sfdpMinor;
    out[5] = kMajorRevision;
    out[6] = static_cast<uint8_t>(headers - 1);
    out[7] = 0xFF;
    PutHeader(out, kHeaderBytes, kBasicTableIdLsb, part.sfdpMinor, dwords, table);

    // A part without quad enable (the generic flash) announces no fast-read variants.
    const bool quad = part.qe.Present();
    auto dword = [&](int n, uint32_t value) {
        if (uint32_t(n) <= dwords) Put32(out, table + 4 * (n - 1), value);
    };
    uint32_t flags = kFlagsDword | (quad ? kQuadReadFlags : 0);
    if (sizeBytes > (1u << 24)) flags |= kThreeOrFourByteAddresses;
    dword(kEraseAndFlagsDword, flags);
    dword(kDensityDword, static_cast<uint32_t>(uint64_t{sizeBytes} * 8 - 1));
    for (int i = 0; i < 5 && quad; ++i) dword(3 + i, kFastReadDwords[i]);
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
    dword(kEraseTimesDword, EraseTimesDword(part.times));
    dword(kProgramDword, ProgramDword(part));
    dword(kPowerDownDword, 0xB9u << 23 | 0xABu << 15 | 0x04u);
    // Quad enable: bit 1 of status register 2 (written with 0x31 where the part has it), or bit
    // 6 of status register 1.
    const uint32_t qer = !part.qe.Present()           ? 0
                         : part.qe.reg == 0           ? 2
                         : part.access[1].writeOpcode ? 5
                                                      : 4;
    dword(kQuadEnableDword, qer << 20);
    dword(kFourByteDword, FourByteDword(part, sizeBytes));

    if (fourByteTable) {
        PutHeader(out, kHeaderBytes + kParameterHeaderBytes, kFourByteTableId, 0,
                  kFourByteTableDwords, fourTable);
        // 0x13, 0x0C and 0x12, and the erase types that have a 4-byte opcode.
        uint32_t support = 0xFFF00000u | 1u << 0 | 1u << 1 | 1u << 6;
        uint32_t opcodes = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t op = i < count ? kEraseTypes[i].opcode4 : 0xFF;
            if (op != 0xFF) support |= 1u << (9 + i);
            opcodes |= uint32_t{op} << (8 * i);
        }
        Put32(out, fourTable, support);
        Put32(out, fourTable + 4, opcodes);
    }
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

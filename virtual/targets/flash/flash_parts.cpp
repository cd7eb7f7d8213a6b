// The part table. Figures are the typical and maximum values of each datasheet's AC
// characteristics; status bits and protect tables follow its status-register chapter.
#include <algorithm>
#include <iterator>

#include "targets/flash/flash_part.h"

namespace vcable {
namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kMs = 1000;
constexpr uint64_t kSecond = 1000000;

constexpr StatusBit Bit(int reg, int bit) {
    return {static_cast<int8_t>(reg), static_cast<int8_t>(bit)};
}
constexpr StatusBit kNone{};

// Status register 1 of every part here: busy in bit 0, write enable in bit 1, BP0 from bit 2.
constexpr StatusBit kBp3Bits[4] = {Bit(0, 2), Bit(0, 3), Bit(0, 4), kNone};

// Winbond and GigaDevice: SR1 = SRP SEC TB BP2 BP1 BP0 WEL BUSY, SR2 = SUS CMP LB3..1 - QE SRL.
constexpr ProtectScheme WinbondScheme(uint32_t unit, uint8_t allFrom) {
    return {{kBp3Bits[0], kBp3Bits[1], kBp3Bits[2], kNone},
            Bit(0, 5),
            Bit(0, 6),
            Bit(1, 6),
            unit,
            allFrom};
}

// Four BP bits from bit 2 (Winbond 256 Mbit, Macronix, ISSI); the caller places TB.
constexpr ProtectScheme FourBpScheme(StatusBit tb, StatusBit cmp, uint32_t unit, uint8_t allFrom) {
    return {{Bit(0, 2), Bit(0, 3), Bit(0, 4), Bit(0, 5)}, tb, kNone, cmp, unit, allFrom};
}

constexpr FlashTimes Times(uint32_t pp, uint32_t ppMax, uint32_t se, uint32_t seMax, uint32_t b32,
                           uint32_t b32Max, uint32_t b64, uint32_t b64Max, uint32_t sr,
                           uint32_t srMax, uint64_t ce, uint64_t ceMax) {
    return {{pp, ppMax}, {se, seMax}, {b32, b32Max}, {b64, b64Max}, {sr, srMax}, ce, ceMax};
}

// SR1 with 0x05/0x01; SR2 with 0x35, written after SR1 in 0x01 and, where `own`, with 0x31;
// SR3 with 0x15/0x11.
constexpr RegisterAccess kSr1{0x05, 0x01, false, 0xFC};
constexpr RegisterAccess WinbondSr2(bool own) {
    return {0x35, own ? uint8_t{0x31} : uint8_t{0}, true, 0x43};
}
constexpr RegisterAccess kWinbondSr3{0x15, 0x11, false, 0x64};
// Macronix: the configuration register (read with 0x15) is the second byte of 0x01; of it only
// the two dummy-cycle bits and the one-time top/bottom bit are writable.
constexpr RegisterAccess kMacronixCr{0x15, 0x00, true, 0xC8};

// The ISSI IS25LP family of 2 to 16 MiB, one status register: SR = SRWD QE BP3 BP2 BP1 BP0 WEL
// WIP (top/bottom is a one-time bit outside it, left at top); BP = 1 protects the upper 64 KiB and
// each step doubles it up to the whole array. The JEDEC ID is 9D 60 and log2 of the size, the
// device ID one less. The same per-operation times throughout; the chip erase grows with the size
// (45 s for 16 MiB).
constexpr FlashPart IssiPart(std::string_view name, std::string_view source, uint32_t size,
                             uint64_t uniqueId) {
    uint8_t capacity = 0;
    while ((uint64_t{1} << capacity) < size) ++capacity;
    const uint64_t chipErase = 45 * kSecond * (size / kMiB) / 16;
    return {name,
            "ISSI",
            source,
            {0x9D, 0x60, capacity},
            size,
            256,
            static_cast<uint8_t>(capacity - 1),
            1,
            {kSr1, {}, {}},
            {0x00, 0x00, 0x00},
            Bit(0, 6),
            Bit(0, 7),
            kNone,
            kNone,
            FourBpScheme(kNone, kNone, 64 * kKiB, static_cast<uint8_t>(capacity - 16 + 1)),
            Times(200, 800, 45 * kMs, 300 * kMs, 100 * kMs, 500 * kMs, 150 * kMs, 1000 * kMs,
                  2 * kMs, 15 * kMs, chipErase, 4 * chipErase),
            16,
            false,
            false,
            false,
            6,
            uniqueId};
}

constexpr FlashPart kGeneric{
    "generic",
    "none",
    "typical times of W25Q80DV",
    {0xA7, 0x40, 0x14},
    1 * kMiB,
    256,
    0x13,
    1,
    {{0x05, 0x01, false, 0x00}, {}, {}},
    {0, 0, 0},
    kNone,
    kNone,
    kNone,
    kNone,
    ProtectScheme{},
    Times(700, 3 * kMs, 45 * kMs, 400 * kMs, 120 * kMs, 800 * kMs, 150 * kMs, 1000 * kMs, 10 * kMs,
          15 * kMs, 2 * kSecond, 6 * kSecond),
    0,
    false,
    false,
    false,
    6,
    0};

constexpr FlashPart kParts[] = {
    {"W25Q80DV",
     "Winbond",
     "W25Q80DV/DL datasheet, revision H (October 2, 2015); unique ID: revision G, page 48",
     {0xEF, 0x40, 0x14},
     1 * kMiB,
     256,
     0x13,
     2,
     {kSr1, WinbondSr2(false), {}},
     {0x00, 0x00, 0x00},
     Bit(1, 1),
     Bit(0, 7),
     Bit(1, 0),
     kNone,
     WinbondScheme(64 * kKiB, 5),
     Times(700, 3 * kMs, 45 * kMs, 400 * kMs, 120 * kMs, 800 * kMs, 150 * kMs, 1000 * kMs, 10 * kMs,
           15 * kMs, 2 * kSecond, 6 * kSecond),
     8,
     false,
     false,
     true,
     0,
     0xD26584A3C1B2E0F1ull},
    {"W25Q128JV",
     "Winbond",
     "W25Q128JV datasheet, revision F (March 27, 2018)",
     {0xEF, 0x40, 0x18},
     16 * kMiB,
     256,
     0x17,
     3,
     {kSr1, WinbondSr2(true), kWinbondSr3},
     {0x00, 0x02, 0x60},
     Bit(1, 1),
     Bit(0, 7),
     Bit(1, 0),
     kNone,
     WinbondScheme(256 * kKiB, 7),
     Times(400, 3 * kMs, 45 * kMs, 400 * kMs, 120 * kMs, 1600 * kMs, 150 * kMs, 2000 * kMs,
           10 * kMs, 15 * kMs, 40 * kSecond, 200 * kSecond),
     8,
     false,
     false,
     true,
     6,
     0xE46178C0D3B5A201ull},
    {"W25Q256JV",
     "Winbond",
     "W25Q256JV datasheet, revision I (October 23, 2018); status writes: revision B, p. 17, 33",
     {0xEF, 0x40, 0x19},
     32 * kMiB,
     256,
     0x18,
     3,
     {kSr1, WinbondSr2(true), {0x15, 0x11, false, 0x66}},
     {0x00, 0x02, 0x60},
     Bit(1, 1),
     Bit(0, 7),
     Bit(1, 0),
     Bit(2, 0),
     FourBpScheme(Bit(0, 6), Bit(1, 6), 64 * kKiB, 10),
     Times(400, 3 * kMs, 45 * kMs, 400 * kMs, 120 * kMs, 1600 * kMs, 150 * kMs, 2000 * kMs,
           10 * kMs, 15 * kMs, 80 * kSecond, 400 * kSecond),
     8,
     true,
     true,
     true,
     6,
     0xF2A3B4C5D6E70819ull},
    {"MX25L3233F",
     "Macronix",
     "MX25L3233F: maximum times from the maker's sample driver; typical ones unconfirmed",
     {0xC2, 0x20, 0x16},
     4 * kMiB,
     256,
     0x15,
     2,
     {kSr1, kMacronixCr, {}},
     {0x00, 0x00, 0x00},
     Bit(0, 6),
     Bit(0, 7),
     kNone,
     kNone,
     FourBpScheme(Bit(1, 3), kNone, 64 * kKiB, 7),
     Times(500, 1200, 25 * kMs, 200 * kMs, 150 * kMs, 600 * kMs, 300 * kMs, 1000 * kMs, 10 * kMs,
           40 * kMs, 15 * kSecond, 30 * kSecond),
     0,
     false,
     false,
     false,
     6,
     0,
     true},
    {"MX25L25635E",
     "Macronix",
     "MX25L25635E: maximum times from the maker's sample driver; typical ones unconfirmed",
     {0xC2, 0x20, 0x19},
     32 * kMiB,
     256,
     0x18,
     2,
     {kSr1, kMacronixCr, {}},
     {0x00, 0x00, 0x00},
     Bit(0, 6),
     Bit(0, 7),
     kNone,
     Bit(1, 5),
     FourBpScheme(Bit(1, 3), kNone, 64 * kKiB, 10),
     Times(600, 5 * kMs, 60 * kMs, 300 * kMs, 500 * kMs, 2000 * kMs, 700 * kMs, 2000 * kMs,
           40 * kMs, 100 * kMs, 150 * kSecond, 400 * kSecond),
     0,
     false,
     true,
     false,
     0,
     0,
     true},
    {"GD25Q64C",
     "GigaDevice",
     "GD25Q64C datasheet (figures unconfirmed)",
     {0xC8, 0x40, 0x17},
     8 * kMiB,
     256,
     0x16,
     3,
     {kSr1, WinbondSr2(true), {0x15, 0x11, false, 0x60}},
     {0x00, 0x00, 0x60},
     Bit(1, 1),
     Bit(0, 7),
     Bit(1, 0),
     kNone,
     WinbondScheme(128 * kKiB, 7),
     Times(600, 2400, 50 * kMs, 400 * kMs, 150 * kMs, 800 * kMs, 250 * kMs, 1200 * kMs, 5 * kMs,
           30 * kMs, 25 * kSecond, 65 * kSecond),
     16,
     false,
     false,
     true,
     0,
     0x8D1F20C3B4A59687ull},
    IssiPart("IS25LP128", "IS25LP128 datasheet (figures unconfirmed)", 16 * kMiB,
             0x5C4B3A2918F7E6D5ull),
    IssiPart("IS25LP016D", "IS25LP016D/IS25WP016D datasheet, opening pages (figures unconfirmed)",
             2 * kMiB, 0x6A5B4C3D2E1F0817ull),
    IssiPart("IS25LP032D", "no IS25LP032D datasheet text found: its family's figures (unconfirmed)",
             4 * kMiB, 0x7B6C5D4E3F201928ull),
    IssiPart("IS25LP064A",
             "IS25WP064A datasheet, Rev. A10 (11/18/2020), and IS25LP128/064 datasheet, opening "
             "pages (figures unconfirmed)",
             8 * kMiB, 0x8C7D6E5F40312A39ull),
    IssiPart("IS25LP128F",
             "IS25LP128F/IS25WP128F datasheet, Rev. A1 (03/05/2018), opening pages (figures "
             "unconfirmed)",
             16 * kMiB, 0x9D8E7F6051423B4Aull),
};

}  // namespace

const FlashPart* FindFlashPart(std::string_view name) {
    for (const FlashPart& part : kParts) {
        if (part.name == name) return &part;
    }
    return nullptr;
}

const FlashPart* FlashParts(size_t& count) {
    count = std::size(kParts);
    return kParts;
}

const FlashPart& GenericFlashPart() { return kGeneric; }

ProtectedRange ProtectedRangeOf(const FlashPart& part, uint32_t size, const uint8_t status[3]) {
    const ProtectScheme& p = part.protect;
    if (p.unit == 0) return {};
    uint32_t bp = 0;
    for (int i = 0; i < 4; ++i) bp |= (BitSet(status, p.bp[i]) ? 1u : 0u) << i;
    uint32_t bytes = 0;
    if (bp >= p.allFrom) {
        bytes = size;
    } else if (bp != 0 && BitSet(status, p.sec)) {
        bytes = bp >= 4 ? 32 * kKiB : (4 * kKiB) << (bp - 1);
    } else if (bp != 0) {
        bytes = std::min<uint64_t>(uint64_t{p.unit} << (bp - 1), size);
    }
    const bool bottom = BitSet(status, p.tb);
    ProtectedRange range = bottom ? ProtectedRange{0, bytes} : ProtectedRange{size - bytes, size};
    if (BitSet(status, p.cmp)) {
        // The complement: everything the plain range leaves out.
        range = bytes == 0      ? ProtectedRange{0, size}
                : bytes == size ? ProtectedRange{}
                : bottom        ? ProtectedRange{bytes, size}
                                : ProtectedRange{0, size - bytes};
    }
    return range;
}

}  // namespace vcable

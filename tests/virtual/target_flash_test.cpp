// The SPI flash behind the engine, with chip select on GPIOL2 driven by 0x80 commands and the
// library's transfer opcodes (0x11 bytes out on -ve MSB first, 0x20 bytes in on +ve MSB first).
#include <gtest/gtest.h>

#include "mpsse_test_util.h"
#include "record/wire_clock.h"
#include "targets/flash/sfdp.h"

namespace {

using vcable::FlashPatternByte;
using vcable::MpsseEngine;
using vtest::Bytes;
using vtest::Hex;
using vtest::Send;

constexpr uint8_t kBusy = 0x01;
constexpr uint8_t kWel = 0x02;

class FlashTest : public ::testing::Test {
  protected:
    FlashTest() : engine(vcable::TargetSetup{}) {
        vcable::ResetWireClock();
        Send(engine, vtest::kOpenSequence);
        engine.SetTrace(
            [](void* user, const char* line) { static_cast<FlashTest*>(user)->trace += line; },
            this);
    }

    // A part counts the TCK periods of a transaction as time too (1 us each at the open's 1 MHz):
    // an operation ends this much later, or earlier, than a wait measured from the fixture's calls.
    static constexpr uint64_t kClockedUs = 100;

    // Both model clocks move on by `us`.
    static void Wait(uint64_t us) {
        for (int s = 0; s < vcable::kWireSpeeds; ++s) vcable::Elapse(s, us * 1000000);
    }

    void UsePart(const char* name, std::initializer_list<uint8_t> status = {}) {
        vcable::TargetSetup setup;
        setup.flash.part = vcable::FindFlashPart(name);
        ASSERT_NE(nullptr, setup.flash.part) << name;
        setup.flash.contents.assign(setup.flash.part->size, 0xFF);
        if (status.size()) {
            setup.flash.hasStatus = true;
            std::copy(status.begin(), status.end(), setup.flash.status);
        }
        engine.Reconfigure(setup);
        Send(engine, vtest::kOpenSequence);
        trace.clear();
    }

    // One transaction: select, write the command bytes, read `readCount` bytes, deselect.
    Bytes Spi(const Bytes& out, uint32_t readCount = 0) {
        return Send(engine, vtest::SpiTransaction(out, readCount));
    }

    uint8_t Status() { return Spi({0x05}, 1).at(0); }

    Bytes Memory(uint32_t address, size_t count) {
        auto& memory = vtest::Flash(engine).Memory();
        return Bytes(memory.begin() + address, memory.begin() + address + count);
    }

    Bytes Pattern(uint32_t address, size_t count) {
        Bytes bytes;
        for (size_t i = 0; i < count; ++i) bytes.push_back(FlashPatternByte(address + i));
        return bytes;
    }

    MpsseEngine engine;
    std::string trace;
};

TEST_F(FlashTest, JedecIdAndReads) {
    EXPECT_EQ("A7 40 14", Hex(Spi({0x9F}, 3)));
    EXPECT_EQ(Hex(Pattern(0x012345, 6)), Hex(Spi({0x03, 0x01, 0x23, 0x45}, 6)));
    EXPECT_EQ(Hex(Pattern(0x0FFFFE, 2)), Hex(Spi({0x0B, 0x0F, 0xFF, 0xFE, 0x00}, 2)));
    // A read running past the end wraps to address 0.
    Bytes wrapped = Pattern(0x0FFFFF, 1);
    vtest::Append(wrapped, Pattern(0, 1));
    EXPECT_EQ(Hex(wrapped), Hex(Spi({0x03, 0x0F, 0xFF, 0xFF}, 2)));
    EXPECT_EQ(0u, engine.ErrorCount());
}

TEST_F(FlashTest, ProgramAndsBitsWithinThePageAndIsBusyForItsTime) {
    EXPECT_EQ(0, Status());
    Spi({0x06});
    EXPECT_EQ(kWel, Status());
    // Four bytes from 0x1FE: the last two wrap to the start of the page.
    Spi({0x02, 0x00, 0x01, 0xFE, 0x0F, 0xF0, 0x00, 0xFF});
    // Busy and write enable until the generic part's typical 0.7 ms have passed, however often
    // it is asked.
    for (int poll = 0; poll < 50; ++poll) ASSERT_EQ("03 03", Hex(Spi({0x05}, 2)));
    Wait(700 - kClockedUs);
    EXPECT_EQ(kBusy | kWel, Status());
    Wait(2 * kClockedUs);
    EXPECT_EQ(0, Status());
    const Bytes before = Pattern(0x100, 2);
    EXPECT_EQ(
        Hex({uint8_t(FlashPatternByte(0x1FE) & 0x0F), uint8_t(FlashPatternByte(0x1FF) & 0xF0)}),
        Hex(Memory(0x1FE, 2)));
    EXPECT_EQ(Hex({0x00, before[1]}), Hex(Memory(0x100, 2)));
    EXPECT_EQ(Hex(Pattern(0x200, 4)), Hex(Memory(0x200, 4)));
}

TEST_F(FlashTest, AClockResetEndsTheOperation) {
    Wait(1000);
    Spi({0x06});
    Spi({0xC7});
    Wait(1000);
    EXPECT_EQ(kBusy | kWel, Status());
    vcable::ResetWireClock();
    EXPECT_EQ(0, Status());
}

TEST_F(FlashTest, WritesNeedWriteEnable) {
    Spi({0x02, 0x00, 0x00, 0x10, 0x00});
    Spi({0x20, 0x00, 0x00, 0x00});
    Spi({0x06});
    Spi({0x04});
    Spi({0xC7});
    EXPECT_EQ(Hex(Pattern(0, 32)), Hex(Memory(0, 32)));
    EXPECT_EQ(0, Status());
}

struct EraseRow {
    Bytes command;
    uint32_t first;  // erased range
    uint32_t end;
    uint64_t busyUs;
};

TEST_F(FlashTest, EraseSetsTheRangeToOnes) {
    const EraseRow rows[] = {
        {{0x20, 0x01, 0x23, 0x45}, 0x12000, 0x13000, 45000},
        {{0x52, 0x01, 0x23, 0x45}, 0x10000, 0x18000, 120000},
        {{0xD8, 0x01, 0x23, 0x45}, 0x10000, 0x20000, 150000},
        {{0xC7}, 0, 1u << 20, 2000000},
        {{0x60}, 0, 1u << 20, 2000000},
    };
    for (const EraseRow& row : rows) {
        engine.Reconfigure(vcable::TargetSetup{});
        Send(engine, vtest::kOpenSequence);
        Spi({0x06});
        Spi(row.command);
        Wait(row.busyUs - kClockedUs);
        EXPECT_EQ(kBusy | kWel, Status());
        Wait(2 * kClockedUs);
        EXPECT_EQ(0, Status());
        const auto& memory = vtest::Flash(engine).Memory();
        for (uint32_t a : {row.first, row.end - 1}) EXPECT_EQ(0xFF, memory[a]) << a;
        if (row.first > 0) {
            EXPECT_EQ(FlashPatternByte(row.first - 1), memory[row.first - 1]);
        }
        if (row.end < memory.size()) {
            EXPECT_EQ(FlashPatternByte(row.end), memory[row.end]);
        }
    }
}

TEST_F(FlashTest, CommandsWhileBusyAreIgnored) {
    Spi({0x06});
    Spi({0x20, 0x00, 0x00, 0x00});
    EXPECT_EQ("FF FF FF", Hex(Spi({0x9F}, 3)));  // nobody drives DI: the pull-up reads high
    EXPECT_EQ(kBusy | kWel, Status());
}

// A command the part lacks is ignored, as the part does (DI stays with the pull-up); one it has
// but the model does not act out is a model error.
TEST_F(FlashTest, CommandsThePartLacksAreIgnoredUnmodelledOnesAreErrors) {
    struct Row {
        const char* part;
        uint8_t command;
        size_t errors;
    };
    const Row rows[] = {{"W25Q80DV", 0x15, 0},
                        {"W25Q80DV", 0x13, 0},
                        {"MX25L3233F", 0x83, 0},
                        {"W25Q80DV", 0xEB, 1},
                        {"W25Q256JV", 0x6B, 1}};
    for (const Row& row : rows) {
        UsePart(row.part);
        const size_t before = engine.ErrorCount();
        EXPECT_EQ("FF FF", Hex(Spi({row.command, 0x00, 0x00, 0x00}, 2))) << row.part;
        EXPECT_EQ(row.errors, engine.ErrorCount() - before) << row.part << " " << +row.command;
    }
}

// The discoverable parameters: signature, one JEDEC basic table whose density and erase types
// describe this flash; a flash set up without them leaves DI to the pull-up.
TEST_F(FlashTest, SfdpDescribesTheGeometry) {
    const Bytes header = Spi({0x5A, 0x00, 0x00, 0x00, 0x00}, 16);
    EXPECT_EQ("53 46 44 50 06 01 00 FF 00 06 01 10 10 00 00 FF", Hex(header));
    // Density: 8 Mbit - 1; erase types 4 KiB 0x20, 32 KiB 0x52, 64 KiB 0xD8; 256-byte pages.
    EXPECT_EQ("FF FF 7F 00", Hex(Spi({0x5A, 0x00, 0x00, 0x14, 0x00}, 4)));
    EXPECT_EQ("0C 20 0F 52 10 D8 00 00", Hex(Spi({0x5A, 0x00, 0x00, 0x2C, 0x00}, 8)));
    EXPECT_EQ("82", Hex(Spi({0x5A, 0x00, 0x00, 0x38, 0x00}, 1)));  // and program at most 6x typical
    EXPECT_EQ("00 FF", Hex(Spi({0x5A, 0x00, 0x00, 0x4F, 0x00}, 2)));  // the end of the space
    EXPECT_EQ(1u << 20,
              vcable::SfdpDensityBytes(vcable::BuildSfdp(vcable::GenericFlashPart(), 1u << 20)));

    vcable::TargetSetup setup;
    setup.flash.sfdp = false;
    engine.Reconfigure(setup);
    Send(engine, vtest::kOpenSequence);
    EXPECT_EQ("FF FF FF FF", Hex(Spi({0x5A, 0x00, 0x00, 0x00, 0x00}, 4)));
    EXPECT_EQ(0u, engine.ErrorCount());
}

// What the flash saw: one record per chip-select frame, with its command, address and length.
TEST_F(FlashTest, RecordsEachTransaction) {
    vcable::SpiFlash& flash = vtest::Flash(engine);
    flash.ClearTransactions();
    Spi({0x03, 0x01, 0x23, 0x45}, 300);
    Spi({0x06});
    Send(engine, {0x80, 0xBA, 0xCB, 0x13, 0x02, 0x80, 0x80, 0xFA, 0xCB});  // three stray bits
    ASSERT_EQ(3u, flash.TransactionCount());
    const vcable::FlashTransaction& read = flash.Transactions()[0];
    EXPECT_EQ(0x03, read.command);
    EXPECT_EQ(0x012345u, read.address);
    EXPECT_EQ(304u, read.bytes);
    EXPECT_EQ(0u, read.extraBits);
    EXPECT_EQ(0x06, flash.Transactions()[1].command);
    EXPECT_EQ(0u, flash.Transactions()[1].address);
    EXPECT_EQ(0u, flash.Transactions()[2].bytes);
    EXPECT_EQ(3u, flash.Transactions()[2].extraBits);
}

TEST_F(FlashTest, ChipSelectOnAnotherLine) {
    vcable::TargetSetup setup;
    setup.flash.csLine = 7;  // GPIOL3
    setup.flash.contents = {0xC0, 0xFF, 0xEE};
    engine.Reconfigure(setup);
    Send(engine, vtest::kOpenSequence);
    EXPECT_EQ("FF FF", Hex(Spi({0x03, 0, 0, 0}, 2)));  // GPIOL2 low selects nothing now
    EXPECT_EQ("C0 FF EE", Hex(Send(engine, {0x80, 0x7A, 0xCB, 0x11, 0x03, 0x00, 0x03, 0x00, 0x00,
                                            0x00, 0x20, 0x02, 0x00, 0x80, 0xFA, 0xCB})));
}

// Each part as its datasheet gives it: the IDs the probe commands return, the SFDP header and
// the basic table's density, the factory status registers, and how a part over 16 MiB
// announces its 4-byte addressing (dword 16: B7 entry, 4-byte opcodes).
struct PartRow {
    const char* name;
    const char* jedecId;
    const char* manufacturerDeviceId;  // 0x90 at address 0, then at address 1
    const char* releaseId;             // 0xAB after three dummy bytes
    const char* sfdpHeader;            // signature, revision, parameter headers
    const char* status;                // SR1 to SR3 as read (FF for a register it lacks)
    const char* fourByteEntry;         // dword 16, its top byte
};

TEST_F(FlashTest, PartsIdentifyThemselves) {
    const PartRow rows[] = {
        {"W25Q80DV", "EF 40 14", "EF 13 / 13 EF", "13 13", "53 46 44 50 00 01 00 FF", "00 00 FF",
         ""},
        {"W25Q128JV", "EF 40 18", "EF 17 / 17 EF", "17 17", "53 46 44 50 06 01 00 FF", "00 02 60",
         "00"},
        {"W25Q256JV", "EF 40 19", "EF 18 / 18 EF", "18 18", "53 46 44 50 06 01 01 FF", "00 02 60",
         "21"},
        {"MX25L3233F", "C2 20 16", "C2 15 / 15 C2", "15 15", "53 46 44 50 06 01 00 FF", "00 00 FF",
         "00"},
        {"MX25L25635E", "C2 20 19", "C2 18 / 18 C2", "18 18", "53 46 44 50 00 01 00 FF", "00 00 FF",
         ""},
        {"GD25Q64C", "C8 40 17", "C8 16 / 16 C8", "16 16", "53 46 44 50 00 01 00 FF", "00 00 60",
         ""},
        {"IS25LP128", "9D 60 18", "9D 17 / 17 9D", "17 17", "53 46 44 50 06 01 00 FF", "00 FF FF",
         "00"},
        {"IS25LP016D", "9D 60 15", "9D 14 / 14 9D", "14 14", "53 46 44 50 06 01 00 FF", "00 FF FF",
         "00"},
        {"IS25LP032D", "9D 60 16", "9D 15 / 15 9D", "15 15", "53 46 44 50 06 01 00 FF", "00 FF FF",
         "00"},
        {"IS25LP064A", "9D 60 17", "9D 16 / 16 9D", "16 16", "53 46 44 50 06 01 00 FF", "00 FF FF",
         "00"},
        {"IS25LP128F", "9D 60 18", "9D 17 / 17 9D", "17 17", "53 46 44 50 06 01 00 FF", "00 FF FF",
         "00"},
    };
    size_t count = 0;
    vcable::FlashParts(count);
    EXPECT_EQ(std::size(rows), count);
    for (const PartRow& row : rows) {
        SCOPED_TRACE(row.name);
        UsePart(row.name);
        const vcable::FlashPart& part = *vcable::FindFlashPart(row.name);
        EXPECT_EQ(row.jedecId, Hex(Spi({0x9F}, 3)));
        EXPECT_EQ(row.manufacturerDeviceId,
                  Hex(Spi({0x90, 0, 0, 0}, 2)) + " / " + Hex(Spi({0x90, 0, 0, 1}, 2)));
        EXPECT_EQ(row.releaseId, Hex(Spi({0xAB, 0, 0, 0}, 2)));
        EXPECT_EQ(row.sfdpHeader, Hex(Spi({0x5A, 0, 0, 0, 0}, 8)));
        const Bytes space = Spi({0x5A, 0, 0, 0, 0}, 256);
        EXPECT_EQ(part.size, vcable::SfdpDensityBytes(space));
        const std::vector<uint8_t> built = vcable::BuildSfdp(part, part.size);
        EXPECT_EQ(Hex(built), Hex(Bytes(space.begin(), space.begin() + built.size())));
        std::string status;
        for (int i = 0; i < 3; ++i) {
            const bool has = i < part.registers;
            status += (i ? " " : "") + (has ? Hex(Spi({part.access[i].readOpcode}, 1)) : "FF");
        }
        EXPECT_EQ(row.status, status);
        if (*row.fourByteEntry) {
            const uint32_t table = built[12] | built[13] << 8 | built[14] << 16;
            EXPECT_EQ(row.fourByteEntry, Hex(Bytes{built[table + 15 * 4 + 3]}));
        } else {
            EXPECT_GE(16u + 9 * 4, built.size());  // a JESD216 1.0 table ends after dword 9
        }
        if (part.uniqueIdBytes) {
            const Bytes id = Spi({0x4B, 0, 0, 0, 0}, part.uniqueIdBytes);
            EXPECT_EQ(uint8_t(part.uniqueId >> 56), id[0]);
        }
        EXPECT_EQ(0u, engine.ErrorCount()) << engine.LastError();
    }
}

// The block-protect table of each scheme: BP bits with TB, SEC and CMP to the range protected.
struct ProtectRow {
    const char* part;
    uint8_t status[3];
    uint32_t first, end;
};

TEST_F(FlashTest, BlockProtectBitsSelectTheDatasheetRanges) {
    constexpr uint32_t K = 1024, M = 1024 * 1024;
    const ProtectRow rows[] = {
        {"W25Q80DV", {0x00, 0x00}, 0, 0},
        {"W25Q80DV", {0x04, 0x00}, 1 * M - 64 * K, 1 * M},  // BP=001: upper 1/16
        {"W25Q80DV", {0x10, 0x00}, 512 * K, 1 * M},         // BP=100: upper half
        {"W25Q80DV", {0x14, 0x00}, 0, 1 * M},               // BP=101: all
        {"W25Q80DV", {0x2C, 0x00}, 0, 256 * K},             // TB, BP=011: lower 256 KiB
        {"W25Q80DV", {0x44, 0x00}, 1 * M - 4 * K, 1 * M},   // SEC, BP=001: upper 4 KiB
        {"W25Q80DV", {0x64, 0x00}, 0, 4 * K},               // SEC TB BP=001: lower 4 KiB
        {"W25Q80DV", {0x50, 0x00}, 1 * M - 32 * K, 1 * M},  // SEC, BP=100: 32 KiB
        {"W25Q80DV", {0x04, 0x40}, 0, 1 * M - 64 * K},      // CMP: all but the upper 64 KiB
        {"W25Q80DV", {0x00, 0x40}, 0, 1 * M},               // CMP with BP=000: all
        {"W25Q80DV", {0x24, 0x40}, 64 * K, 1 * M},          // CMP, TB: all but the lower 64 KiB
        {"W25Q128JV", {0x04, 0x02, 0x60}, 16 * M - 256 * K, 16 * M},
        {"W25Q128JV", {0x18, 0x02, 0x60}, 8 * M, 16 * M},  // BP=110: upper 8 MiB
        {"W25Q128JV", {0x1C, 0x02, 0x60}, 0, 16 * M},
        {"W25Q128JV", {0x3C, 0x42, 0x60}, 0, 0},                     // CMP with all: none
        {"W25Q128JV", {0x54, 0x02, 0x60}, 16 * M - 32 * K, 16 * M},  // SEC, BP=101: 32 KiB
        {"W25Q256JV", {0x04, 0x02, 0x60}, 32 * M - 64 * K, 32 * M},
        {"W25Q256JV", {0x24, 0x02, 0x60}, 16 * M, 32 * M},  // BP=1001: upper 16 MiB
        {"W25Q256JV", {0x28, 0x02, 0x60}, 0, 32 * M},       // BP=1010: all
        {"W25Q256JV", {0x44, 0x02, 0x60}, 0, 64 * K},       // TB: lower 64 KiB
        {"MX25L3233F", {0x08, 0x00}, 4 * M - 128 * K, 4 * M},
        {"MX25L3233F", {0x18, 0x00}, 2 * M, 4 * M},  // BP=0110: upper half
        {"MX25L3233F", {0x1C, 0x00}, 0, 4 * M},
        {"MX25L3233F", {0x04, 0x08}, 0, 64 * K},        // TB in the configuration register
        {"MX25L25635E", {0x24, 0x00}, 16 * M, 32 * M},  // BP=1001: upper half
        {"MX25L25635E", {0x24, 0x08}, 0, 16 * M},       // TB: lower half
        {"MX25L25635E", {0x28, 0x00}, 0, 32 * M},       // BP=1010: all
        {"GD25Q64C", {0x04, 0x00, 0x60}, 8 * M - 128 * K, 8 * M},
        {"IS25LP128", {0x20, 0x00}, 16 * M - 8 * M, 16 * M},  // BP=1000: upper half
        {"IS25LP128", {0x24, 0x00}, 0, 16 * M},
        {"IS25LP032D", {0x04, 0x00}, 4 * M - 64 * K, 4 * M},  // BP=0001: upper 1/64
        {"IS25LP032D", {0x18, 0x00}, 2 * M, 4 * M},           // BP=0110: upper half
        {"IS25LP032D", {0x1C, 0x00}, 0, 4 * M},               // BP=0111 and up: all
        {"IS25LP016D", {0x18, 0x00}, 0, 2 * M},
        {"IS25LP064A", {0x1C, 0x00}, 4 * M, 8 * M},
    };
    for (const ProtectRow& row : rows) {
        const vcable::FlashPart& part = *vcable::FindFlashPart(row.part);
        const vcable::ProtectedRange range = vcable::ProtectedRangeOf(part, part.size, row.status);
        EXPECT_EQ(row.first, range.Empty() ? 0 : range.first)
            << row.part << " " << Hex(Bytes(row.status, row.status + 3));
        EXPECT_EQ(row.end, range.Empty() ? 0 : range.end)
            << row.part << " " << Hex(Bytes(row.status, row.status + 3));
    }
}

// Every operation keeps its part busy for the datasheet's typical time on the model clock.
TEST_F(FlashTest, BusyTimesRunOnTheModelClock) {
    size_t count = 0;
    const vcable::FlashPart* parts = vcable::FlashParts(count);
    for (size_t p = 0; p < count; ++p) {
        const vcable::FlashPart& part = parts[p];
        SCOPED_TRACE(std::string(part.name));
        const vcable::FlashTimes& t = part.times;
        const std::pair<Bytes, uint64_t> operations[] = {
            {{0x02, 0, 0x10, 0, 0x5A}, t.pageProgram.typicalUs},
            {{0x20, 0, 0x10, 0}, t.sectorErase.typicalUs},
            {{0x52, 0, 0x80, 0}, t.blockErase32.typicalUs},
            {{0xD8, 0x01, 0, 0}, t.blockErase64.typicalUs},
            {{0x01, 0x00}, t.statusWrite.typicalUs},
            {{0xC7}, t.chipEraseTypicalUs},
        };
        UsePart(part.name.data());
        for (const auto& [command, us] : operations) {
            Spi({0x06});
            Spi(command);
            Wait(us - kClockedUs);
            EXPECT_EQ(kBusy | kWel, Status()) << Hex(command);
            Wait(2 * kClockedUs);
            EXPECT_EQ(0, Status()) << Hex(command);
        }
        EXPECT_EQ(0u, engine.ErrorCount()) << engine.LastError();
    }
}

// What a host reads as the longest wait (typical time times the multiplier, dwords 10 and 11 of
// a JESD216 1.5 table) is never shorter than the datasheet's maximum: a poll bounded by it would
// give up on a part still within its documented time.
TEST_F(FlashTest, SfdpMaximaCoverTheDatasheetMaxima) {
    constexpr uint64_t kEraseUnitUs[] = {1000, 16000, 128000, 1000000};
    constexpr uint64_t kChipUnitUs[] = {16000, 256000, 4000000, 64000000};
    const auto field = [](uint32_t dword, int at, int bits) {
        return dword >> at & ((1u << bits) - 1);
    };
    size_t count = 0;
    const vcable::FlashPart* parts = vcable::FlashParts(count);
    for (size_t p = 0; p < count; ++p) {
        const vcable::FlashPart& part = parts[p];
        const std::vector<uint8_t> sfdp = vcable::BuildSfdp(part, part.size);
        const uint32_t table = sfdp[12] | sfdp[13] << 8 | sfdp[14] << 16;
        if (sfdp[11] < 11) continue;  // no time fields: hosts fall back to their own bounds
        SCOPED_TRACE(std::string(part.name));
        const auto dword = [&](int n) {
            const size_t at = table + 4 * (n - 1);
            return uint32_t(sfdp[at] | sfdp[at + 1] << 8 | sfdp[at + 2] << 16 | sfdp[at + 3] << 24);
        };
        const uint64_t eraseTimes = 2 * (field(dword(10), 0, 4) + 1);
        const vcable::BusyTime erases[] = {part.times.sectorErase, part.times.blockErase32,
                                           part.times.blockErase64};
        for (int i = 0; i < 3; ++i) {
            const uint32_t typical = field(dword(10), 4 + 7 * i, 7);
            EXPECT_GE((field(typical, 0, 5) + 1) * kEraseUnitUs[typical >> 5] * eraseTimes,
                      erases[i].maxUs)
                << "erase type " << i;
        }
        const uint32_t program = dword(11);
        const uint64_t programTimes = 2 * (field(program, 0, 4) + 1);
        EXPECT_GE((field(program, 8, 5) + 1) * (field(program, 13, 1) ? 64 : 8) * programTimes,
                  part.times.pageProgram.maxUs);
        EXPECT_GE((field(program, 24, 5) + 1) * kChipUnitUs[field(program, 29, 2)] * programTimes,
                  part.times.chipEraseMaxUs);
    }
}

// A program or erase that touches a protected range changes nothing and does not go busy; a
// status write while SRP is set is ignored; 0x50 makes a status write volatile and instant.
TEST_F(FlashTest, ProtectedRangesAndStatusProtect) {
    UsePart("W25Q128JV", {0x04, 0x02, 0x60});  // upper 256 KiB
    Spi({0x06});
    Spi({0x20, 0xFC, 0x00, 0x00});
    EXPECT_EQ(0x04 | kWel, Status());  // the Winbond part keeps write enable
    EXPECT_NE(std::string::npos, trace.find("0xFC0000 to 0xFFFFFF is protected")) << trace;
    Spi({0x02, 0xFB, 0xFF, 0x00, 0x12});
    EXPECT_EQ(0x04 | kBusy | kWel, Status());  // just below the range: programmed
    EXPECT_EQ(0x12, vtest::Flash(engine).Memory()[0xFBFF00]);
    Wait(400 + kClockedUs);
    Spi({0x06});
    Spi({0xC7});  // a chip erase touches every range
    EXPECT_EQ(0x04 | kWel, Status());
    EXPECT_EQ(0x12, vtest::Flash(engine).Memory()[0xFBFF00]);

    Spi({0x04});
    Spi({0x50});
    Spi({0x01, 0x00});
    EXPECT_EQ(0, Status());  // volatile: no busy time
    Spi({0x06});
    Spi({0x01, 0x80});  // SRP set
    Wait(10000 + kClockedUs);
    Spi({0x06});
    Spi({0x01, 0x1C});
    EXPECT_EQ("80", Hex(Spi({0x05}, 1)));
    EXPECT_NE(std::string::npos, trace.find("status registers are protected")) << trace;

    UsePart("MX25L3233F", {0x3C, 0x00});
    Spi({0x06});
    Spi({0xD8, 0x00, 0x00, 0x00});
    EXPECT_EQ(0x3C, Status());  // the Macronix part drops write enable
}

// 4-byte addressing: the opcodes with four address bytes where the part has them, and the mode
// in which the 3-byte opcodes take four.
TEST_F(FlashTest, FourByteAddressing) {
    UsePart("W25Q256JV");
    auto& memory = vtest::Flash(engine).Memory();
    memory[0x1234567] = 0xA5;
    memory[0x0234567] = 0x5A;
    EXPECT_EQ("A5", Hex(Spi({0x13, 0x01, 0x23, 0x45, 0x67}, 1)));
    EXPECT_EQ("A5", Hex(Spi({0x0C, 0x01, 0x23, 0x45, 0x67, 0x00}, 1)));
    EXPECT_EQ("5A", Hex(Spi({0x03, 0x23, 0x45, 0x67}, 1)));
    Spi({0xB7});
    EXPECT_EQ(0x61, Spi({0x15}, 1).at(0));  // ADS
    EXPECT_EQ("A5", Hex(Spi({0x03, 0x01, 0x23, 0x45, 0x67}, 1)));
    Spi({0x06});
    Spi({0x21, 0x01, 0x23, 0x40, 0x00});
    EXPECT_EQ(0xFF, memory[0x1234567]);
    Wait(45000 + kClockedUs);
    Spi({0xE9});
    EXPECT_EQ(0x60, Spi({0x15}, 1).at(0));
    EXPECT_EQ(0u, engine.ErrorCount()) << engine.LastError();

    UsePart("MX25L25635E");
    Spi({0xB7});
    Spi({0x06});
    Spi({0x02, 0x01, 0x00, 0x00, 0x00, 0x3C});
    EXPECT_EQ(0x3C, vtest::Flash(engine).Memory()[0x1000000]);
    Wait(600 + kClockedUs);
    Spi({0x66});
    Spi({0x99});  // a software reset leaves 4-byte mode
    EXPECT_FALSE(vtest::Flash(engine).FourByteMode());
    Spi({0x13, 0, 0, 0, 0}, 1);  // no 4-byte opcodes on this part: ignored
    EXPECT_EQ(0u, engine.ErrorCount());
}

TEST_F(FlashTest, PowerDownIgnoresAllButRelease) {
    UsePart("W25Q80DV");
    Spi({0xB9});
    EXPECT_EQ("FF FF FF", Hex(Spi({0x9F}, 3)));
    Spi({0xAB});
    EXPECT_EQ("EF 40 14", Hex(Spi({0x9F}, 3)));
}

}  // namespace

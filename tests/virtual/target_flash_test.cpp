// The SPI flash behind the engine, with chip select on GPIOL2 driven by 0x80 commands and the
// library's transfer opcodes (0x11 bytes out on -ve MSB first, 0x20 bytes in on +ve MSB first).
#include <gtest/gtest.h>

#include "mpsse_test_util.h"
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
    FlashTest() : engine(vcable::TargetSetup{}) { Send(engine, vtest::kOpenSequence); }

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

TEST_F(FlashTest, ProgramAndsBitsWithinThePageAndIsBusyForAFewPolls) {
    EXPECT_EQ(0, Status());
    Spi({0x06});
    EXPECT_EQ(kWel, Status());
    // Four bytes from 0x1FE: the last two wrap to the start of the page.
    Spi({0x02, 0x00, 0x01, 0xFE, 0x0F, 0xF0, 0x00, 0xFF});
    // Write enable ends with the operation.
    EXPECT_EQ("03 03 00 00", Hex(Spi({0x05}, 4)));
    const Bytes before = Pattern(0x100, 2);
    EXPECT_EQ(
        Hex({uint8_t(FlashPatternByte(0x1FE) & 0x0F), uint8_t(FlashPatternByte(0x1FF) & 0xF0)}),
        Hex(Memory(0x1FE, 2)));
    EXPECT_EQ(Hex({0x00, before[1]}), Hex(Memory(0x100, 2)));
    EXPECT_EQ(Hex(Pattern(0x200, 4)), Hex(Memory(0x200, 4)));
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
    int busyPolls;
};

TEST_F(FlashTest, EraseSetsTheRangeToOnes) {
    const EraseRow rows[] = {
        {{0x20, 0x01, 0x23, 0x45}, 0x12000, 0x13000, 4},
        {{0x52, 0x01, 0x23, 0x45}, 0x10000, 0x18000, 4},
        {{0xD8, 0x01, 0x23, 0x45}, 0x10000, 0x20000, 4},
        {{0xC7}, 0, 1u << 20, 8},
        {{0x60}, 0, 1u << 20, 8},
    };
    for (const EraseRow& row : rows) {
        engine.Reconfigure(vcable::TargetSetup{});
        Send(engine, vtest::kOpenSequence);
        Spi({0x06});
        Spi(row.command);
        for (int i = 0; i < row.busyPolls; ++i) ASSERT_EQ(kBusy | kWel, Status()) << i;
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

TEST_F(FlashTest, UnknownCommandIsAnError) {
    Spi({0xB9, 0x00, 0x00, 0x00}, 1);
    EXPECT_EQ(1u, engine.ErrorCount());
    EXPECT_NE(std::string::npos, engine.LastError().find("0xB9")) << engine.LastError();
}

// The discoverable parameters: signature, one JEDEC basic table whose density and erase types
// describe this flash; a flash set up without them leaves DI to the pull-up.
TEST_F(FlashTest, SfdpDescribesTheGeometry) {
    const Bytes header = Spi({0x5A, 0x00, 0x00, 0x00, 0x00}, 16);
    EXPECT_EQ("53 46 44 50 06 01 00 FF 00 06 01 10 10 00 00 FF", Hex(header));
    // Density: 8 Mbit - 1; erase types 4 KiB 0x20, 32 KiB 0x52, 64 KiB 0xD8; 256-byte pages.
    EXPECT_EQ("FF FF 7F 00", Hex(Spi({0x5A, 0x00, 0x00, 0x14, 0x00}, 4)));
    EXPECT_EQ("0C 20 0F 52 10 D8 00 00", Hex(Spi({0x5A, 0x00, 0x00, 0x2C, 0x00}, 8)));
    EXPECT_EQ("80", Hex(Spi({0x5A, 0x00, 0x00, 0x38, 0x00}, 1)));
    EXPECT_EQ("00 FF", Hex(Spi({0x5A, 0x00, 0x00, 0x4F, 0x00}, 2)));  // the end of the space
    EXPECT_EQ(1u << 20, vcable::SfdpDensityBytes(vcable::BuildSfdp(1u << 20)));

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

}  // namespace

// The SPI flash behind the engine, with chip select on GPIOL2 driven by 0x80 commands and the
// library's transfer opcodes (0x11 bytes out on -ve MSB first, 0x20 bytes in on +ve MSB first).
#include <gtest/gtest.h>

#include "mpsse_test_util.h"

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
        Bytes stream = {0x80, 0xBA, 0xCB};
        stream.insert(stream.end(), {0x11, static_cast<uint8_t>(out.size() - 1),
                                     static_cast<uint8_t>((out.size() - 1) >> 8)});
        vtest::Append(stream, out);
        if (readCount > 0) {
            stream.insert(stream.end(), {0x20, static_cast<uint8_t>(readCount - 1),
                                         static_cast<uint8_t>((readCount - 1) >> 8)});
        }
        vtest::Append(stream, {0x80, 0xFA, 0xCB});
        return Send(engine, stream);
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
        {{0xC7}, 0, 1u << 20, 8},
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
    Spi({0x5A, 0x00, 0x00, 0x00}, 1);
    EXPECT_EQ(1u, engine.ErrorCount());
    EXPECT_NE(std::string::npos, engine.LastError().find("0x5A")) << engine.LastError();
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

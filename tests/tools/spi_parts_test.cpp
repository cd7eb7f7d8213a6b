// kestrel spi on real parts of the virtual cable: protected ranges refused and unprotected for a
// job, 4-byte addressing across the 16 MiB line (opcodes and mode), and a status poll that gives
// up after the part's documented maximum when a fault keeps it busy.
#include <regex>
#include <vector>

#include "tool_fixture.h"
#include "vcable.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace {

using namespace kestrel_test;
using Bytes = std::vector<uint8_t>;

Bytes Data(uint32_t count, uint32_t seed) {
    Bytes bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 151 + seed) >> 2);
    return bytes;
}

class SpiPartsTest : public KestrelTest {
  protected:
    void SetUp() override {
        KestrelTest::SetUp();
        if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without the TOML reader";
    }

    // A scenario with the part and its other keys (status registers at start, contents).
    void UsePart(const std::string& part, const std::string& keys) {
        WriteFile(Path("part.toml"),
                  "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\n"
                  "part = \"" +
                      part + "\"\n" + keys);
        std::remove(Path("state.bin").c_str());
    }

    ToolRun Spi(const std::string& args) {
        return Kestrel("--virtual '" + Path("part.toml") + "' --state '" + Path("state.bin") +
                       "' --trace '" + Path("trace.txt") + "' spi " + args);
    }

    // The flash as the last command left it.
    Bytes FlashRange(uint32_t address, uint32_t count) {
        char error[512] = "";
        vc_reset();
        EXPECT_EQ(0, vc_load_scenario_file(Path("part.toml").c_str(), error, sizeof error))
            << error;
        EXPECT_EQ(0, vc_state_load(Path("state.bin").c_str(), error, sizeof error)) << error;
        Bytes bytes(count);
        EXPECT_EQ(VC_OK, vc_flash_read(0, address, bytes.data(), count));
        return bytes;
    }

    // The flash's commands in the trace, in order, with their addresses: "21@00FFF000".
    std::string Commands(const char* which) {
        const std::string trace = ReadFile(Path("trace.txt"));
        const std::regex note(std::string("# flash: command 0x(") + which +
                              ")(?: at 0x([0-9A-F]+))?");
        std::string seen;
        for (auto it = std::sregex_iterator(trace.begin(), trace.end(), note);
             it != std::sregex_iterator(); ++it) {
            seen += (seen.empty() ? "" : " ") + (*it)[1].str() +
                    ((*it)[2].matched ? "@" + (*it)[2].str() : "");
        }
        return seen;
    }
};

TEST_F(SpiPartsTest, AProtectedRangeIsRefusedThenUnprotectedForTheJob) {
    UsePart("W25Q128JV", "status = [0x04]\nfill = 0xFF\n");  // BP = 001: the upper 256 KiB
    const ToolRun id = Spi("id");
    ASSERT_EQ(0, id.exitCode) << id.err;
    EXPECT_NE(std::string::npos,
              id.out.find("protection: status register 1 0x04, status register 2 0x02, "
                          "status register 3 0x60: 0xFC0000 to 0xFFFFFF (256 KiB) protected"))
        << id.out;

    const Bytes image = Data(8192, 3);
    WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
    const ToolRun refused = Spi("write --address 0xFBF000 '" + Path("image.bin") + "'");
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_NE(std::string::npos,
              refused.err.find("0xFBF000 to 0xFC0FFF overlaps the protected range 0xFC0000 to "
                               "0xFFFFFF"))
        << refused.err;
    EXPECT_EQ("", Commands("02|20|D8|01"));  // nothing programmed, erased or unprotected

    const ToolRun done = Spi("write --unprotect --address 0xFBF000 '" + Path("image.bin") + "'");
    ASSERT_EQ(0, done.exitCode) << done.err;
    EXPECT_NE(std::string::npos,
              done.out.find("protection restored: status register 1 0x04, status register 2 "
                            "0x02: 0xFC0000 to 0xFFFFFF (256 KiB) protected"))
        << done.out;
    EXPECT_EQ(image, FlashRange(0xFBF000, 8192));
    // Unprotected before the first data command, and the bits written back after the last.
    const std::string commands = Commands("01|02|20");
    EXPECT_EQ(0u, commands.find("01 ")) << commands;
    EXPECT_EQ(commands.size() - 2, commands.rfind("01")) << commands;
    // The state file keeps the registers: the next command finds the protection where it was.
    EXPECT_NE(std::string::npos, Spi("id").out.find("0xFC0000 to 0xFFFFFF (256 KiB) protected"));
}

// spi id shows status register 3 where the part answers 0x15 with one; the part without it
// leaves DI to the pull-up, and Macronix's 0x15 is the configuration register.
TEST_F(SpiPartsTest, IdShowsTheThirdStatusRegisterWhereThePartHasOne) {
    const std::pair<const char*, const char*> rows[] = {
        {"W25Q80DV", "status register 1 0x00, status register 2 0x00: nothing"},
        {"W25Q256JV", "status register 1 0x00, status register 2 0x02, status register 3 0x60: "},
        {"GD25Q64C", "status register 1 0x00, status register 2 0x00, status register 3 0x60: "},
        {"MX25L3233F", "status register 1 0x00, configuration register 0x00: nothing"},
    };
    for (const auto& [part, registers] : rows) {
        UsePart(part, "");
        const ToolRun id = Spi("id");
        ASSERT_EQ(0, id.exitCode) << id.err;
        EXPECT_NE(std::string::npos, id.out.find(std::string("protection: ") + registers))
            << id.out;
    }
}

TEST_F(SpiPartsTest, ThirtyTwoMebibytePartsAreWrittenAndReadAcrossTheSixteenMebibyteLine) {
    struct Row {
        const char* part;
        const char* commands;  // the first erase and program, and what reads and modes show
    };
    const Row rows[] = {
        // 4-byte opcodes: sector erase 0x21, page program 0x12, read 0x13.
        {"W25Q256JV", "21@00FFF000 12@00FFF000"},
        // 4-byte mode: the 3-byte opcodes with four address bytes, between 0xB7 and 0xE9.
        {"MX25L25635E", "B7 20@00FFF000 02@00FFF000"},
    };
    const Bytes image = Data(8192, 11);
    WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.part);
        UsePart(row.part, "");  // the pattern: every sector must be erased
        const ToolRun write = Spi("write --address 0xFFF000 '" + Path("image.bin") + "'");
        ASSERT_EQ(0, write.exitCode) << write.err;
        EXPECT_EQ(0u, Commands("B7|21|20|12|02").find(row.commands)) << Commands("B7|21|20|12|02");
        EXPECT_EQ(image, FlashRange(0xFFF000, 8192));
        const ToolRun read = Spi("read --address 0xFFF000 --size 8192 '" + Path("back.bin") + "'");
        ASSERT_EQ(0, read.exitCode) << read.err;
        EXPECT_EQ(std::string(image.begin(), image.end()), ReadFile(Path("back.bin")));
        const std::string modes = Commands("B7|E9");
        EXPECT_EQ(std::string(row.part) == "MX25L25635E" ? "B7 E9" : "", modes);
    }
}

// A part the table lacks, described as its nearest relative with its own ID, size, page and
// times: spi id reports them as the part announces them, and a write over several pages lands.
TEST_F(SpiPartsTest, APartTheTableLacksIsItsRelativeWithItsOwnFigures) {
    UsePart("IS25LP032D",
            "jedec_id = \"9D 70 17\"\nsize = 8388608\npage_size = 512\nfill = 0xFF\n"
            "busy_us = { page_program = [300, 1000], chip_erase = 30000000 }\n");
    const ToolRun id = Spi("id");
    ASSERT_EQ(0, id.exitCode) << id.err;
    for (const char* line :
         {"JEDEC ID 9D 70 17: manufacturer 0x9D, type 0x70, capacity code 0x17 (8 MiB)",
          "pages of 512 bytes", "flash size: 8 MiB",
          // At least the maximum given; the chip erase's is the part's ratio to its typical time.
          "longest waits (SFDP): page program 1.3 ms, sector erase 384 ms, chip erase 128 s"}) {
        EXPECT_NE(std::string::npos, id.out.find(line)) << line << "\n" << id.out;
    }
    const Bytes image = Data(3000, 7);
    WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
    const ToolRun write = Spi("write --address 0x7FF100 '" + Path("image.bin") + "'");
    ASSERT_EQ(0, write.exitCode) << write.err;
    EXPECT_EQ(image, FlashRange(0x7FF100, 3000));
}

TEST_F(SpiPartsTest, APartHeldBusyEndsThePollAtItsDocumentedMaximum) {
    struct Row {
        const char* keys;
        const char* error;
    };
    const Row rows[] = {
        // Over the pattern the first busy operation is a sector erase: the SFDP table's 4 KiB
        // erase, 48 ms typical (its 16 ms steps), at most 14 times that.
        {"",
         "the flash stayed busy after a sector erase for more than 672.0 ms, "
         "the longest its SFDP table allows"},
        // Over erased bytes it is the page program that measures the pipeline's wait: no status
        // read of that stream finds the part ready, and the poll after it gives up.
        {"fill = 0xFF\n",
         "the flash stayed busy after a page program for more than 3.6 ms, "
         "the longest its SFDP table allows"},
    };
    WriteFile(Path("image.bin"), std::string(4096, '\x5A'));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keys);
        UsePart("W25Q128JV", std::string("stuck_busy = true\n") + row.keys);
        const ToolRun write = Spi("write '" + Path("image.bin") + "'");
        EXPECT_EQ(1, write.exitCode);
        EXPECT_NE(std::string::npos, write.err.find(row.error)) << write.err;
    }
}

// The largest erase that fits: whole 64 KiB blocks where every sector of one changes, sector
// erases at the ragged ends, one chip erase when the whole chip is written.
TEST_F(SpiPartsTest, ErasesAreTheLargestThatFitTheChangedRegion) {
    struct Row {
        uint32_t address, count;
        const char* erases;
    };
    const Row rows[] = {
        {0x00F000, 0x12000, "20@00F000 D8@010000 20@020000"},
        {0, 1u << 20, "C7"},
    };
    for (const Row& row : rows) {
        UsePart("W25Q80DV", "");
        const Bytes image = Data(row.count, row.address);
        WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", row.address);
        const ToolRun write =
            Spi("write --address " + std::string(address) + " '" + Path("image.bin") + "'");
        ASSERT_EQ(0, write.exitCode) << write.err;
        EXPECT_EQ(row.erases, Commands("20|52|D8|C7"));
        EXPECT_EQ(image, FlashRange(row.address, row.count));
    }
}

}  // namespace

// kestrel spi on real parts of the virtual cable: protected ranges refused and unprotected for a
// job, and put back however the job ends (a USB error, an unplugged cable, a signal); 4-byte
// addressing across the 16 MiB line (opcodes and mode), and a status poll that gives up after the
// part's documented maximum when a fault keeps it busy.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>
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

    // The flash as the last command left it (or, without the state, as the scenario starts).
    Bytes FlashRange(uint32_t address, uint32_t count, bool withState = true) {
        char error[512] = "";
        vc_reset();
        EXPECT_EQ(0, vc_load_scenario_file(Path("part.toml").c_str(), error, sizeof error))
            << error;
        if (withState) {
            EXPECT_EQ(0, vc_state_load(Path("state.bin").c_str(), error, sizeof error)) << error;
        }
        Bytes bytes(count);
        EXPECT_EQ(VC_OK, vc_flash_read(0, address, bytes.data(), count));
        return bytes;
    }

    // The flash against what a write that ended part way says of [address, address + image):
    // the image where it was rewritten as planned, what was there before where it is as it was,
    // and every byte in one of the three parts the message names.
    void ExpectFlashAsSaid(const std::string& said, uint32_t address, const Bytes& image,
                           const Bytes& before) {
        const Bytes held = FlashRange(address, static_cast<uint32_t>(image.size()));
        const std::regex part(
            "0x([0-9A-F]+) to 0x([0-9A-F]+) (was rewritten as planned|was "
            "being erased or programmed|is as it was)");
        uint64_t covered = 0;
        for (auto it = std::sregex_iterator(said.begin(), said.end(), part);
             it != std::sregex_iterator(); ++it) {
            const uint32_t from = std::stoul((*it)[1].str(), nullptr, 16) - address;
            const uint32_t to = std::stoul((*it)[2].str(), nullptr, 16) + 1 - address;
            SCOPED_TRACE((*it)[0].str());
            ASSERT_LE(to, image.size());
            covered += to - from;
            const char kind = (*it)[3].str()[4];  // was [r]ewritten, was [b]eing, is [a]s
            if (kind == 'b') continue;            // may hold anything
            const Bytes& expected = kind == 'r' ? image : before;
            EXPECT_TRUE(
                std::equal(held.begin() + from, held.begin() + to, expected.begin() + from));
        }
        EXPECT_EQ(image.size(), covered) << said;
    }

    // What the status registers protect, as spi id reads them from the state.
    std::string ProtectionInState() {
        const ToolRun id = Spi("id");
        const size_t at = id.out.find("protection: ");
        return at == std::string::npos ? id.err : id.out.substr(at);
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

// The tool's reading of each maker's scheme against rows of the datasheets' protect tables: the
// range in spi id's words and in its --json document, the status-register lock, and the last
// register the document lists with its read command.
TEST_F(SpiPartsTest, IdDecodesTheDatasheetsProtectTables) {
    constexpr uint32_t K = 1024, M = 1024 * 1024;
    struct Row {
        const char* part;
        const char* status;   // the registers at start
        const char* range;    // as spi id words it
        uint32_t first, end;  // in the --json document, where something is protected
        bool locked;
        const char* last;  // the last of the document's registers
    };
    const Row rows[] = {
        // SEC, TB, BP=011: the lower 16 KiB.
        {"W25Q80DV", "[0x6C]", "0x000000 to 0x003FFF (16 KiB) protected", 0, 16 * K, false,
         R"("status register 2", "opcode": 53, "value": 0}])"},
        // TB, BP=001, and CMP: all but the lower 64 KiB.
        {"W25Q80DV", "[0x24, 0x40]", "0x010000 to 0x0FFFFF (960 KiB)", 64 * K, M, false,
         R"("status register 2", "opcode": 53, "value": 64}])"},
        // TB (bit 6 on the 32 MiB part), BP=0001: the lower 64 KiB.
        {"W25Q256JV", "[0x44, 0x02, 0x60]", "0x000000 to 0x00FFFF (64 KiB)", 0, 64 * K, false,
         R"("status register 3", "opcode": 21, "value": 96}])"},
        // TB in the configuration register, BP=1001: the lower half.
        {"MX25L25635E", "[0x24, 0x08]", "0x000000 to 0xFFFFFF (16 MiB)", 0, 16 * M, false,
         R"("configuration register", "opcode": 21, "value": 8}])"},
        // BP=1000: the upper half.
        {"IS25LP128", "[0x20]", "0x800000 to 0xFFFFFF (8 MiB)", 8 * M, 16 * M, false,
         R"("status register 1", "opcode": 5, "value": 32}])"},
        // SRL in status register 2: the registers are locked.
        {"W25Q128JV", "[0x00, 0x03, 0x60]", "nothing protected; the status registers are locked", 0,
         0, true, R"("status register 3", "opcode": 21, "value": 96}])"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.part) + " " + row.status);
        UsePart(row.part, std::string("status = ") + row.status + "\n");
        const ToolRun id = Kestrel("--json --virtual '" + Path("part.toml") + "' spi id");
        ASSERT_EQ(0, id.exitCode) << id.err;
        std::string fields = std::string("\"locked\": ") + (row.locked ? "true" : "false");
        if (row.first < row.end) {
            fields = "\"first\": " + std::to_string(row.first) +
                     ", \"end\": " + std::to_string(row.end) + ", " + fields;
        }
        for (const std::string& text : {std::string(row.range), fields, std::string(row.last)}) {
            EXPECT_NE(std::string::npos, id.out.find(text)) << text << "\n" << id.out;
        }
    }
}

// A write with --unprotect that meets a USB error, or a cable unplugged, part way: where the cable
// still answers the protection comes back; where it does not, the message says which range is
// left unprotected and what protects it again; the write says which part of its span it changed.
TEST_F(SpiPartsTest, TheProtectionComesBackOrTheMessageSaysHowToPutItBack) {
    // Each part's top block protected (BP = 1), the write across its lower edge: of about 140
    // writes (the job's clock among them), the protection is cleared by the 27th, the pages go
    // from the 80th and the protection is put back from the 135th.
    struct Row {
        const char* part;
        const char* fault;
        int nth;
        int exitCode;
        const char* said;
        bool protectedAfter;
    };
    const Row rows[] = {
        {"W25Q128JV", "fail", 61, 8, "note: protection restored: status register 1 0x04", true},
        {"W25Q128JV", "unplug", 61, 8,
         "the protection of 0xFC0000 to 0xFFFFFF (256 KiB) is off: the job cleared it and could "
         "not put it back; to protect it again, write status register 1 0x04 and status register "
         "2 0x02 (write enable 0x06, then the status write 01 04 02)",
         false},
        // One status register in the write: its one byte.
        {"MX25L3233F", "unplug", 61, 8,
         "the protection of 0x3F0000 to 0x3FFFFF (64 KiB) is off: the job cleared it and could not "
         "put it back; to protect it again, write status register 1 0x04 (write enable 0x06, then "
         "the status write 01 04)",
         false},
        // Unplugged as the clear went out: whether the flash took it is not known.
        {"W25Q128JV", "unplug", 24, 8, "(256 KiB) may be off", true},
        // A USB error while the job puts the protection back: it tries again.
        {"W25Q128JV", "fail", 135, 0, "protection restored: status register 1 0x04", true},
    };
    const Bytes image = Data(8192, 9);
    WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.part) + " " + row.fault + " " + std::to_string(row.nth));
        const bool small = std::string(row.part) == "MX25L3233F";
        const uint32_t address = small ? 0x3EF000 : 0xFBF000;
        const char* protectedRange = small ? "0x3F0000 to 0x3FFFFF (64 KiB) protected"
                                           : "0xFC0000 to 0xFFFFFF (256 KiB) protected";
        UsePart(row.part, "status = [0x04]\n");
        const Bytes before = FlashRange(address, 8192, false);
        WriteFile(Path("fault.toml"),
                  ReadFile(Path("part.toml")) + "[[fault]]\ntype = \"" + row.fault +
                      "\"\nentry = \"FT_Write\"\nnth = " + std::to_string(row.nth) + "\n");
        const ToolRun run = Kestrel("--virtual '" + Path("fault.toml") + "' --state '" +
                                    Path("state.bin") + "' spi write --unprotect --address " +
                                    std::to_string(address) + " '" + Path("image.bin") + "'");
        EXPECT_EQ(row.exitCode, run.exitCode) << run.err;
        EXPECT_NE(std::string::npos, (run.out + run.err).find(row.said)) << run.out << run.err;
        EXPECT_EQ(row.protectedAfter,
                  ProtectionInState().find(protectedRange) != std::string::npos);
        if (run.exitCode == 0) {
            EXPECT_EQ(image, FlashRange(address, 8192));
        } else if (run.err.find("write failed") != std::string::npos) {
            ExpectFlashAsSaid(run.err, address, image, before);
        }
    }
}

// SIGINT or SIGTERM while a write with --unprotect runs: it stops at a safe point (no sector
// erased and not programmed back), puts the protection back, saves the state and ends as the
// signal would.
TEST_F(SpiPartsTest, ASignalStopsTheWriteAtASafePointAndPutsTheProtectionBack) {
    const Bytes image = Data(6u << 20, 4);
    WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        UsePart("W25Q128JV", "status = [0x04]\n");
        const Bytes before = FlashRange(0xA00000, 6u << 20, false);
        std::remove(Path("err.txt").c_str());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string command =
                "exec env -u VCABLE_SCENARIO '" KESTREL_TOOL "' --progress json --virtual '" +
                Path("part.toml") + "' --state '" + Path("state.bin") +
                "' spi write --unprotect --address 0xA00000 '" + Path("image.bin") +
                "' >/dev/null 2>'" + Path("err.txt") + "'";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Once the pages go out (the first progress event of the writing phase).
        for (int wait = 0; wait < 3000; ++wait) {
            if (ReadFile(Path("err.txt")).find("\"writing\"") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        const std::string err = ReadFile(Path("err.txt"));
        EXPECT_NE(std::string::npos, err.find("kestrel: stopping at the next safe point")) << err;
        EXPECT_NE(std::string::npos, err.find("at a safe point; 0xA00000 to ")) << err;
        EXPECT_EQ(std::string::npos, err.find("was being erased or programmed")) << err;
        EXPECT_NE(std::string::npos, err.find("note: protection restored")) << err;
        EXPECT_NE(std::string::npos,
                  ProtectionInState().find("0xFC0000 to 0xFFFFFF (256 KiB) protected"));
        ExpectFlashAsSaid(err, 0xA00000, image, before);
    }
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
    // The relative's own chip erase grows with its size: the smallest of the family's, 2 MiB.
    UsePart("IS25LP016D", "");
    const ToolRun relative = Spi("id");
    EXPECT_NE(std::string::npos, relative.out.find("chip erase 23 s")) << relative.out;
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
        const char* options;
    };
    const Row rows[] = {
        {0x00F000, 0x12000, "20@00F000 D8@010000 20@020000", ""},
        {0, 1u << 20, "C7", ""},
        // A chip erase would erase the whole part, not the smaller size given.
        {0, 0x10000, "D8@000000", "--flash-size 65536 "},
    };
    for (const Row& row : rows) {
        UsePart("W25Q80DV", "");
        const Bytes image = Data(row.count, row.address);
        WriteFile(Path("image.bin"), std::string(image.begin(), image.end()));
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", row.address);
        const ToolRun write = Spi(std::string(row.options) + "write --address " + address + " '" +
                                  Path("image.bin") + "'");
        ASSERT_EQ(0, write.exitCode) << write.err;
        EXPECT_EQ(row.erases, Commands("20|52|D8|C7"));
        EXPECT_EQ(image, FlashRange(row.address, row.count));
    }
}

}  // namespace

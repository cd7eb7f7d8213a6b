// kestrel spi and eeprom as a factory engineer uses them, on the virtual cable: each test runs
// the tool, then reads what the cable holds from the state file the tool left (--state) through
// the cable's control API, and what the flash saw from the trace's flash notes.
#include <algorithm>
#include <regex>
#include <vector>

#include "tool_fixture.h"
#include "vcable.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

namespace {

using namespace kestrel_test;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFlash = 65536;

Bytes Pattern(uint32_t count) {
    Bytes bytes(count);
    for (uint32_t a = 0; a < count; ++a) {
        bytes[a] = static_cast<uint8_t>((a & 0xFF) ^ ((a >> 8) * 0x1D) ^ (a >> 16));
    }
    return bytes;
}

Bytes Data(uint32_t count, uint32_t seed) {
    Bytes bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed) >> 3);
    return bytes;
}

std::string Text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// The first difference, as "at 0x1234: expected 5A, found FF", or empty.
std::string Difference(const Bytes& expected, const Bytes& actual) {
    if (expected.size() != actual.size()) return "sizes differ";
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] == actual[i]) continue;
        char text[64];
        std::snprintf(text, sizeof text, "at 0x%04zX: expected %02X, found %02X", i, expected[i],
                      actual[i]);
        return text;
    }
    return "";
}

class SpiToolTest : public KestrelTest {
  protected:
    void SetUp() override {
        KestrelTest::SetUp();
        if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without the TOML reader";
        WriteFile(Path("flash.toml"),
                  "[[device]]\ndescription = \"ZV7300LNK\"\n"
                  "[device.flash]\nsize = 65536\n");
    }

    // The virtual cable of this process with a scenario file (empty: the default) and, when
    // given, a state file loaded over it.
    static void Load(const std::string& scenario, const std::string& state = "") {
        char error[512] = "";
        vc_reset();
        if (!scenario.empty()) {
            ASSERT_EQ(0, vc_load_scenario_file(scenario.c_str(), error, sizeof error)) << error;
        }
        if (!state.empty()) {
            ASSERT_EQ(0, vc_state_load(state.c_str(), error, sizeof error)) << error;
        }
    }
    // The flash of the loaded cable (nothing for a cable without one).
    static Bytes Flash() {
        uint32_t size = 0;
        if (vc_flash_size(0, &size) != VC_OK) return {};
        Bytes bytes(size);
        EXPECT_EQ(VC_OK, vc_flash_read(0, 0, bytes.data(), size));
        return bytes;
    }
    // A state file of the 64 KiB scenario whose flash holds `image`.
    std::string StateWith(const Bytes& image) {
        Load(Path("flash.toml"));
        EXPECT_EQ(VC_OK, vc_flash_write(0, 0, image.data(), static_cast<uint32_t>(image.size())));
        char error[256] = "";
        EXPECT_EQ(0, vc_state_save(Path("state.bin").c_str(), error, sizeof error)) << error;
        return Path("state.bin");
    }
    Bytes FlashInState() {
        Load(Path("flash.toml"), Path("state.bin"));
        return Flash();
    }
    // Runs `spi ARGS` on the 64 KiB flash with the state file and a trace.
    ToolRun Spi(const std::string& args) {
        std::remove(Path("trace.txt").c_str());
        return Kestrel("--virtual '" + Path("flash.toml") + "' --state '" + Path("state.bin") +
                       "' --trace '" + Path("trace.txt") + "' spi " + args);
    }
    // The commands the flash saw, from the trace's flash notes: "20@001000".
    std::vector<std::string> FlashCommands(const char* commands = "02|20|C7|03") {
        const std::string trace = ReadFile(Path("trace.txt"));
        const std::regex note(std::string("# flash: command 0x(") + commands +
                              ")(?: at 0x([0-9A-F]{6}))?");
        std::vector<std::string> seen;
        for (auto it = std::sregex_iterator(trace.begin(), trace.end(), note);
             it != std::sregex_iterator(); ++it) {
            seen.push_back((*it)[1].str() + "@" + (*it)[2].str());
        }
        return seen;
    }
};

TEST_F(SpiToolTest, WritesKeepWhatTheyDoNotCoverAndSkipWhatIsInPlace) {
    struct Row {
        const char* name;
        bool blank;         // the flash starts erased, else holding a pattern
        bool alreadyThere;  // the data is in place before the write
        uint32_t address;
        uint32_t length;
        std::vector<std::string> erased;
        size_t programs;
    };
    const Row rows[] = {
        {"inside a sector: its bytes before and after come back",
         false,
         false,
         0xF0,
         300,
         {"20@000000"},
         16},
        {"the end of a sector", false, false, 0x1F00, 256, {"20@001000"}, 16},
        {"the start of a sector", false, false, 0x2000, 100, {"20@002000"}, 16},
        {"across three sectors",
         false,
         false,
         0x2F80,
         0x1100,
         {"20@002000", "20@003000", "20@004000"},
         48},
        {"a whole sector", false, false, 0x8000, 4096, {"20@008000"}, 16},
        {"blank flash: no erase, only the pages written", true, false, 0x1010, 300, {}, 2},
        {"the data is already there: nothing erased or programmed",
         false,
         true,
         0x5000,
         1000,
         {},
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes data = Data(row.length, row.address);
        Bytes expected = row.blank ? Bytes(kFlash, 0xFF) : Pattern(kFlash);
        std::copy(data.begin(), data.end(), expected.begin() + row.address);
        StateWith(row.alreadyThere ? expected : row.blank ? Bytes(kFlash, 0xFF) : Pattern(kFlash));
        WriteFile(Path("data.bin"), Text(data));
        const ToolRun run =
            Spi("write '" + Path("data.bin") + "' --address " + std::to_string(row.address));
        ASSERT_EQ(0, run.exitCode) << run.err;
        EXPECT_EQ("", Difference(expected, FlashInState()));
        std::vector<std::string> erased;
        size_t programs = 0;
        for (const std::string& c : FlashCommands("02|20")) {
            c[0] == '2' ? erased.push_back(c) : void(++programs);
        }
        EXPECT_EQ(row.erased, erased);
        EXPECT_EQ(row.programs, programs);
    }
}

// Ranges the flash does not have, sizes the part contradicts and flashes that do not answer their
// ID: refused with nothing read, erased or programmed.
TEST_F(SpiToolTest, RangesPastTheEndAndSilentFlashesAreRefusedWithNothingClocked) {
    WriteFile(Path("8k.bin"), Text(Data(8192, 1)));
    WriteFile(Path("128k.bin"), Text(Data(131072, 2)));
    WriteFile(Path("4m.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\n"
              "[device.flash]\nsize = 4194304\n");
    WriteFile(Path("jedec.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\n"
              "[device.flash]\nsize = 65536\nsfdp = false\n");
    WriteFile(Path("unknown.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\n"
              "size = 65536\nsfdp = false\njedec_id = \"EF 40 FF\"\n");
    const char* const silent[][2] = {{"absent.toml", "present = false"},
                                     {"other-pins.toml", "cs_line = \"GPIOL3\""},
                                     {"zeros.toml", "jedec_id = \"00 00 00\""}};
    for (const auto& [name, keys] : silent) {
        WriteFile(Path(name), std::string("[[device]]\ndescription = \"ZV7300LNK\"\n") +
                                  "[device.flash]\n" + keys + "\n");
    }
    struct Row {
        const char* scenario;  // in the test's folder; empty: the default 1 MiB flash
        std::string command;
        const char* message;
        int exitCode = 2;
    };
    const Row rows[] = {
        {"4m.toml", "write 8k.bin --address 0x3FF000",
         "the range 0x3FF000 to 0x400FFF (8192 bytes) passes the end of the 4 MiB flash "
         "(4194304 bytes, from SFDP)"},
        {"flash.toml", "write 8k.bin --address 0x20000",
         "the range 0x020000 to 0x021FFF (8192 bytes) passes the end of the 64 KiB flash"},
        {"flash.toml", "write 128k.bin",
         "128k.bin (131072 bytes) is larger than the 64 KiB flash (65536 bytes, from SFDP)"},
        {"", "read out.bin --address 1048000 --size 4096",
         "the range 0x0FFDC0 to 0x100DBF (4096 bytes) passes the end of the 1 MiB flash"},
        {"flash.toml", "erase --address 0xF000 --size 0x2000", "0x00F000 to 0x010FFF"},
        {"flash.toml", "verify 8k.bin --address 0xF000", "0x00F000 to 0x010FFF"},
        {"jedec.toml", "write 8k.bin --address 0xF000", "(65536 bytes, from the JEDEC ID)"},
        {"unknown.toml", "write 8k.bin", "the flash's size is unknown"},
        {"unknown.toml", "--flash-size 4096 write 8k.bin",
         "8k.bin (8192 bytes) is larger than the 4 KiB flash (4096 bytes, from --flash-size)"},
        // A size past the part's own would wrap around to its start.
        {"", "--flash-size 0x200000 write 8k.bin --address 0x100000",
         "--flash-size 2 MiB (2097152 bytes) is larger than the flash: its SFDP table announces "
         "1 MiB (1048576 bytes)"},
        {"jedec.toml", "--flash-size 0x20000 read out.bin",
         "its JEDEC ID announces 64 KiB (65536 bytes), and an address past the end would wrap"},
        {"flash.toml", "--flash-size 32768 erase --chip",
         "erase --chip erases the whole flash, which announces 64 KiB, not the 32 KiB"},
        // Nothing drove DI, or it was held low.
        {"absent.toml", "read out.bin",
         "no flash answered on the SPI lines: its JEDEC ID reads FF FF FF", 6},
        {"other-pins.toml", "--flash-size 65536 write 8k.bin", "reads FF FF FF", 6},
        {"zeros.toml", "erase --chip", "its JEDEC ID reads 00 00 00 (DI held low)", 6},
        {"absent.toml", "verify 8k.bin", "no flash answered", 6},
        {"other-pins.toml", "id", "no flash answered", 6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        const std::string scenario = *row.scenario ? Path(row.scenario) : "";
        std::remove(Path("state.bin").c_str());
        std::remove(Path("trace.txt").c_str());
        const ToolRun run = Kestrel("--virtual '" + scenario + "' --state '" + Path("state.bin") +
                                        "' --trace '" + Path("trace.txt") + "' spi " + row.command,
                                    "--chdir='" + dir_ + "'");
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_NE(std::string::npos, run.err.find(row.message)) << run.err;
        // After an ID that nothing sent, not even the SFDP table or a status register is read.
        EXPECT_EQ(std::vector<std::string>{},
                  FlashCommands(row.exitCode == 6 ? "02|20|C7|03|05|5A" : "02|20|C7|03|05"))
            << "the flash saw a data command";
        EXPECT_FALSE(std::ifstream(Path("out.bin")).good()) << "the output file was left behind";
        if (std::ifstream(Path("state.bin")).good()) {
            Load(scenario);
            const Bytes before = Flash();
            Load(scenario, Path("state.bin"));
            EXPECT_EQ("", Difference(before, Flash()));
        }
    }
}

// An older part of the Winbond or GigaDevice families has status register 1 alone: 0x35 reads all
// ones, which as register bits would be a locked, complemented (all protected) flash.
TEST_F(SpiToolTest, AMakerWithTwoStatusRegistersMayHaveOne) {
    WriteFile(Path("8k.bin"), Text(Data(8192, 3)));
    for (const char* maker : {"EF", "C8"}) {
        SCOPED_TRACE(maker);
        WriteFile(Path("sr1.toml"), std::string("[[device]]\ndescription = \"ZV7300LNK\"\n") +
                                        "[device.flash]\nsize = 65536\njedec_id = \"" + maker +
                                        " 40 10\"\n");
        const std::string scenario = "--virtual '" + Path("sr1.toml") + "' spi ";
        const ToolRun write = Kestrel(scenario + "write '" + Path("8k.bin") + "'");
        EXPECT_EQ(0, write.exitCode) << write.err;
        const ToolRun id = Kestrel(scenario + "id");
        EXPECT_NE(std::string::npos,
                  id.out.find("protection: status register 1 0x00: nothing protected\n"))
            << id.out;
    }
}

// The clock commands the job sent (the open's own first), or exit code 2 with nothing traced: a
// bad clock stops the tool before the cable is opened.
TEST_F(SpiToolTest, JobsRunAtTheFastestClockUnlessAskedForLess) {
    const Bytes image = Pattern(kFlash);
    StateWith(image);
    WriteFile(Path("4k.bin"), Text(Bytes(image.begin(), image.begin() + 4096)));
    struct Row {
        std::string args;
        std::vector<std::string> divisors;  // empty: refused with `message`
        const char* message = "";
    };
    const Row rows[] = {
        {"spi read out.bin", {"05 00", "00 00"}},
        {"spi --clock 6M read out.bin", {"05 00", "00 00"}},
        {"spi --clock 1.5MHz verify 4k.bin", {"05 00", "03 00"}},
        {"spi --clock 1M read out.bin", {"05 00"}},
        {"spi --clock 999999 read out.bin", {"05 00", "06 00"}},  // never faster than asked
        {"spi --clock 500k write 4k.bin", {"05 00", "0B 00"}},
        {"--divisor 2 spi erase --address 0 --size 4096", {"02 00"}},
        {"spi --clock 0 read out.bin", {}, "'0' is not a clock the cable can run"},
        {"spi --clock 7M read out.bin", {}, "from 91.5527 Hz to 6 MHz"},
        {"spi --clock -1M write 4k.bin", {}, "'-1M' is not a clock"},
        {"spi --clock 1e6 read out.bin", {}, "'1e6' is not a clock"},
        {"spi --clock fast read out.bin", {}, "'fast' is not a clock"},
        {"--divisor 0x10000 spi read out.bin", {}, "--divisor"},
        {"--divisor 2 spi --clock 1M write 4k.bin", {}, "give --clock or --divisor, not both"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        std::remove(Path("trace.txt").c_str());
        const ToolRun run = Kestrel("--virtual '" + Path("flash.toml") + "' --state '" +
                                        Path("state.bin") + "' --trace trace.txt " + row.args,
                                    "--chdir='" + dir_ + "'");
        const std::string trace = ReadFile(Path("trace.txt"));
        const std::regex clock("0x86 set clock divisor args=([0-9A-F]{2} [0-9A-F]{2})");
        std::vector<std::string> sent;
        for (auto it = std::sregex_iterator(trace.begin(), trace.end(), clock);
             it != std::sregex_iterator(); ++it) {
            sent.push_back((*it)[1].str());
        }
        EXPECT_EQ(row.divisors, sent);
        if (row.divisors.empty()) {
            EXPECT_EQ(2, run.exitCode);
            EXPECT_NE(std::string::npos, run.err.find(row.message)) << run.err;
        } else {
            EXPECT_EQ(0, run.exitCode) << run.err;
        }
    }
}

TEST_F(SpiToolTest, EraseAndVerify) {
    const Bytes pattern = Pattern(kFlash);
    Bytes erasedMiddle = pattern;
    std::fill(erasedMiddle.begin() + 0x100, erasedMiddle.begin() + 0x2100, 0xFF);
    Bytes erasedSector = pattern;
    std::fill(erasedSector.begin() + 0x3000, erasedSector.begin() + 0x4000, 0xFF);
    Bytes differs = Bytes(pattern.begin() + 0x100, pattern.begin() + 0x200);
    differs[5] = static_cast<uint8_t>(~differs[5]);
    const std::string same = Path("same.bin");
    WriteFile(same, Text(Bytes(pattern.begin() + 0x100, pattern.begin() + 0x200)));
    WriteFile(Path("differs.bin"), Text(differs));
    char mismatch[80];
    std::snprintf(mismatch, sizeof mismatch, "verify failed at 0x000105: expected %02X, read %02X",
                  differs[5], pattern[0x105]);
    struct Row {
        std::string command;
        Bytes before;
        int exitCode;
        Bytes after;
        std::vector<std::string> erased;
        const char* message;
    };
    const Row rows[] = {
        {"erase --address 0x100 --size 0x2000",
         pattern,
         0,
         erasedMiddle,
         {"20@000000", "20@001000", "20@002000"},
         "erased 0x000100 to 0x0020FF (8192 bytes)"},
        {"erase --address 0x3000 --size 4096", pattern, 0, erasedSector, {"20@003000"}, ""},
        {"erase --address 0x100 --size 0x2000",
         Bytes(kFlash, 0xFF),
         0,
         Bytes(kFlash, 0xFF),
         {},
         ""},
        {"erase --chip", pattern, 0, Bytes(kFlash, 0xFF), {"C7@"}, ""},
        {"verify '" + same + "' --address 0x100", pattern, 0, pattern, {}, "256 bytes at 0x000100"},
        {"verify '" + Path("differs.bin") + "' --address 0x100", pattern, 1, pattern, {}, mismatch},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        StateWith(row.before);
        const ToolRun run = Spi(row.command + " --flash-size 65536");
        EXPECT_EQ(row.exitCode, run.exitCode) << run.err;
        EXPECT_NE(std::string::npos, (run.err + run.out).find(row.message)) << run.err << run.out;
        EXPECT_EQ("", Difference(row.after, FlashInState()));
        EXPECT_EQ(row.erased, FlashCommands("20|C7"));
    }
}

TEST_F(SpiToolTest, StateCarriesTheFlashAndTheEepromFromOneCommandToTheNext) {
    const Bytes boot = Data(5000, 7);
    WriteFile(Path("boot.bin"), Text(boot));
    const std::string withState = "--virtual --state '" + Path("state.bin") + "' ";
    ToolRun run = Kestrel(withState + "spi write '" + Path("boot.bin") + "' --address 0x10000");
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    run = Kestrel(withState + "spi read '" + Path("back.bin") + "' --address 0x10000 --size 5000");
    ASSERT_EQ(0, run.exitCode) << run.err;
    const std::string back = ReadFile(Path("back.bin"));
    EXPECT_EQ("", Difference(boot, Bytes(back.begin(), back.end())));
    EXPECT_EQ(
        0, Kestrel(withState + "spi verify '" + Path("boot.bin") + "' --address 0x10000").exitCode);
    run = Kestrel(withState + "eeprom --log-dir '" + dir_ +
                  "' program --name BENCH9 "
                  "--program-serial S77");
    ASSERT_EQ(0, run.exitCode) << run.err;
    // The next run's cable enumerates as programmed: an open by the new name finds it.
    EXPECT_EQ(0, Kestrel(withState + "--description BENCH9 spi id").exitCode);
    Load("", Path("state.bin"));
    VcEepromView view{};
    ASSERT_EQ(0, vc_eeprom_view(0, &view));
    EXPECT_STREQ("BENCH9", view.description);
    EXPECT_STREQ("S77", view.serial_number);
    Bytes held(boot.size());
    vc_flash_read(0, 0x10000, held.data(), static_cast<uint32_t>(held.size()));
    EXPECT_EQ("", Difference(boot, held));

    // Without --state the tool says once that the changes are dropped, and only when there are.
    run = Kestrel("--virtual spi write '" + Path("boot.bin") + "'");
    EXPECT_EQ(1u, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("changes (the flash of cable 0) are dropped at exit"))
        << run.err;
    EXPECT_EQ("", Kestrel("--virtual spi read '" + Path("back.bin") + "' --size 16").err);
}

TEST_F(SpiToolTest, ExitCodes) {
    WriteFile(Path("empty.bin"), "");
    WriteFile(Path("damaged.bin"), "VCSTATE1 and then nothing useful");
    WriteFile(Path("pulled.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\neeprom = \"blank\"\n"
              "[[fault]]\ntype = \"unplug\"\nentry = \"FT_EE_Program\"\n");
    const std::string missing = "'" + Path("missing.bin") + "'";
    struct Row {
        std::string args;
        int exitCode;
        const char* message;
    };
    const Row rows[] = {
        {"--virtual spi write " + missing, 5, "cannot read"},
        {"--virtual spi verify " + missing, 5, "cannot read"},
        {"--virtual uart send " + missing, 5, "cannot read"},
        {"--virtual spi read '" + Path("no/folder/x.bin") + "'", 5, "cannot write"},
        {"--virtual uart receive '" + Path("no/folder/x.bin") + "' --size 4", 5, "cannot write"},
        {"--virtual spi write '" + Path("empty.bin") + "'", 2, "is empty"},
        {"--state '" + Path("s.bin") + "' spi id", 2, "add --virtual"},
        {"--virtual --state '" + Path("damaged.bin") + "' spi id", 5, "damaged"},
        {"--virtual eeprom --log-dir '" + Path("no/folder") + "' program", 5,
         "ProgramDevice was not called, the EEPROM is unchanged"},
        {"--virtual '" + Path("pulled.toml") + "' eeprom --log-dir '" + dir_ + "' program", 1,
         "programming reported success but the cable reads back nothing that matches"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const ToolRun run = Kestrel(row.args);
        EXPECT_EQ(row.exitCode, run.exitCode) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(row.message)) << run.err;
    }
}

}  // namespace

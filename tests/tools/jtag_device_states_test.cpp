// Scenario devices whose answers follow their state, played by the kestrel tool: a status
// register that reads busy and then ready on the model clock (an SVF check, an XSVF retry loop),
// and the SPI flash programmed through a bridge instruction, then read back with `spi read`.
#include <cstdio>
#include <string>
#include <vector>

#include "tool_fixture.h"

namespace {

using namespace kestrel_test;
using Bytes = std::vector<uint8_t>;

// The example's device: ERASE (0x2) keeps it busy for 20 ms and then sets "erased"; CONFIGURE
// (0x4) sets "done" at each Update-DR; STATUS (0x3) shows busy in bit 0 and the flags in bits 1
// and 2; two bridges (0x5, 0x6) reach the flash.
class DeviceStatesTest : public KestrelTest {
  protected:
    // `options` go before the command, `playOptions` after it.
    ToolRun Play(const char* kind, const std::string& file, const std::string& options = "",
                 const std::string& playOptions = "") {
        WriteFile(Path(std::string("play.") + kind), file);
        return Kestrel("--virtual '" + Example("jtag-device-states.toml") + "' " + options +
                       "jtag " + kind + " " + playOptions + "'" +
                       Path(std::string("play.") + kind) + "'");
    }
};

struct SvfRow {
    const char* name;
    const char* svf;
    int exitCode;
    double minModelledMs = 0;  // the playback's modelled time at least
};

// Time-only RUNTESTs are waits on the virtual cable's model clock, not host sleeps: the erase
// ends during one, and a minute's wait takes no minute.
TEST_F(DeviceStatesTest, StatusFollowsTheModelClock) {
    const SvfRow rows[] = {
        {"busy right after the erase", "SIR 4 TDI (2); SIR 4 TDI (3); SDR 8 TDI (00) TDO (81);", 0},
        {"not ready right after the erase",
         "SIR 4 TDI (2); SIR 4 TDI (3); SDR 8 TDI (00) TDO (82);", 1},
        {"ready and erased after 30 ms",
         "SIR 4 TDI (2); RUNTEST 10 TCK 30E-3 SEC; SIR 4 TDI (3); SDR 8 TDI (00) TDO (82);", 0},
        {"ready and erased after a 30 ms pause",
         "SIR 4 TDI (2); RUNTEST 30E-3 SEC; SIR 4 TDI (3); SDR 8 TDI (00) TDO (82);", 0, 30},
        {"still busy after a 10 ms pause",
         "SIR 4 TDI (2); RUNTEST 10E-3 SEC; SIR 4 TDI (3); SDR 8 TDI (00) TDO (81);", 0, 10},
        {"a minute's pause",
         "SIR 4 TDI (2); RUNTEST 60 SEC; SIR 4 TDI (3); SDR 8 TDI (00) TDO (82);", 0, 60000},
        {"done after the configuration",
         "SIR 4 TDI (4); SDR 16 TDI (A5A5); SIR 4 TDI (3); SDR 8 TDI (00) TDO (84);", 0},
    };
    for (const SvfRow& row : rows) {
        const ToolRun run = Play("svf", row.svf);
        EXPECT_EQ(row.exitCode, run.exitCode) << row.name << "\n" << run.out << run.err;
        const size_t at = run.out.find("modelled time at full speed: ");
        ASSERT_NE(at, std::string::npos) << run.out;
        EXPECT_GE(std::stod(run.out.substr(at + 29)), row.minModelledMs) << row.name;
    }
}

// XSVF commands as bytes: XSIR (4 bits), XRUNTEST in microseconds, XREPEAT, XSDRSIZE, XTDOMASK,
// `checks` XSDRTDOs, XCOMPLETE.
std::string Xsvf(uint8_t repeat, int checks = 1) {
    Bytes bytes = {0x02, 4,      0x02,              // ERASE
                   0x02, 4,      0x03,              // STATUS
                   0x07, repeat,                    // retries
                   0x04, 0x00,   0x00, 0x03, 0xE8,  // 1000 us after each scan
                   0x08, 0x00,   0x00, 0x00, 0x08,  // 8-bit scans
                   0x01, 0x01};                     // compare the busy bit only
    for (int i = 0; i < checks; ++i) bytes.insert(bytes.end(), {0x09, 0x00, 0x00});  // not busy
    bytes.push_back(0x00);
    return {bytes.begin(), bytes.end()};
}

// The erase keeps the device busy for 20 ms: the first check fails until then. Three checks in a
// row go out speculatively, all while busy; the first is played again with its retries, and the
// others after it pass, as they do one by one.
TEST_F(DeviceStatesTest, XsvfRetriesWhileBusyAndThenPasses) {
    for (const char* options : {"", "--check-each "}) {
        for (const int checks : {1, 3}) {
            const ToolRun patient = Play("xsvf", Xsvf(32, checks), "", options);
            EXPECT_EQ(0, patient.exitCode) << patient.out << patient.err;
        }
        const ToolRun hasty = Play("xsvf", Xsvf(0, 3), "", options);
        EXPECT_EQ(1, hasty.exitCode) << hasty.out << hasty.err;
    }
}

// SPI bytes as an SVF value: each byte goes most significant bit first, and a scan's value is
// written with its first bit on the right.
std::string SpiHex(const Bytes& bytes) {
    const size_t bits = bytes.size() * 8;
    std::string hex((bits + 3) / 4, '0');
    for (size_t k = 0; k < bits; ++k) {
        if (((bytes[k / 8] >> (7 - k % 8)) & 1) == 0) continue;
        char& digit = hex[hex.size() - 1 - k / 4];
        const int value = (digit <= '9' ? digit - '0' : digit - 'A' + 10) | (1 << (k % 4));
        digit = static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
    }
    return hex;
}

std::string SpiScan(const Bytes& bytes) {
    return "SDR " + std::to_string(bytes.size() * 8) + " TDI (" + SpiHex(bytes) + ");\n";
}

// The JEDEC ID (the example's 64 KiB flash), the command's own byte masked.
std::string ReadsTheId() {
    return "SDR 32 TDI (" + SpiHex({0x9F, 0, 0, 0}) + ") TDO (" + SpiHex({0, 0xA7, 0x40, 0x10}) +
           ") MASK (" + SpiHex({0, 0xFF, 0xFF, 0xFF}) + ");\n";
}

// Status reads (and model time) until the flash's write has ended.
std::string WaitForFlash() {
    std::string wait = "RUNTEST 10 TCK 50E-3 SEC;\n";
    for (int i = 0; i < 10; ++i) wait += SpiScan({0x05, 0x00});
    return wait;
}

// Each SPI command is one DR scan. With ENDDR DRPAUSE the scans rest in Pause-DR and the next one
// goes on from there without Update-DR: only the bridge that ends a command when the TAP leaves
// Shift-DR (0x6) sees separate commands; the other one (0x5) sees the second ID read run on from
// the first and fails its check.
TEST_F(DeviceStatesTest, FlashProgrammedThroughTheBridgeReadsBackOverSpi) {
    const struct {
        const char* name;
        const char* setup;
        int exitCode;
    } rows[] = {
        {"scans through Update-DR", "SIR 4 TDI (5);\n", 0},
        {"scans that pause, chip select up on leaving Shift-DR", "SIR 4 TDI (6);\nENDDR DRPAUSE;\n",
         0},
        {"scans that pause, chip select up at Update-DR", "SIR 4 TDI (5);\nENDDR DRPAUSE;\n", 1},
    };
    Bytes page = {0x02, 0x00, 0x12, 0x00};  // PAGE PROGRAM at 0x1200
    for (int i = 0; i < 32; ++i) page.push_back(static_cast<uint8_t>(0xC3 ^ (i * 7)));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string svf = row.setup + ReadsTheId() + ReadsTheId() + SpiScan({0x06}) +
                                SpiScan({0x20, 0x00, 0x10, 0x00}) + WaitForFlash() +
                                SpiScan({0x06}) + SpiScan(page) + WaitForFlash();
        std::remove(Path("bench.state").c_str());
        const std::string state = "--state '" + Path("bench.state") + "' ";
        const ToolRun programmed = Play("svf", svf, state);
        ASSERT_EQ(row.exitCode, programmed.exitCode) << programmed.out << programmed.err;
        if (row.exitCode != 0) continue;

        const ToolRun read =
            Kestrel("--virtual '" + Example("jtag-device-states.toml") + "' " + state +
                    "spi read '" + Path("back.bin") + "' --address 0x11FE --size 36");
        ASSERT_EQ(0, read.exitCode) << read.out << read.err;
        const std::string back = ReadFile(Path("back.bin"));
        ASSERT_EQ(36u, back.size());
        // The page, between bytes of the sector erased before it went in.
        EXPECT_EQ("\xFF\xFF", back.substr(0, 2));
        EXPECT_EQ(std::string(page.begin() + 4, page.end()), back.substr(2, 32));
        EXPECT_EQ("\xFF\xFF", back.substr(34));
    }
}

// TRST ON pulses the cable's reset line where the scenario wires it to the chain (the default)
// and resets through TMS alone where it says none is.
TEST_F(DeviceStatesTest, TrstFollowsTheScenarioWiring) {
    const struct {
        const char* wiring;
        const char* report;
    } rows[] = {
        {"", "TRST ON: pulsed the cable's reset line, then Test-Logic-Reset"},
        {"jtag_reset = \"none\"\n",
         "TRST ON: no reset line wired to the chain; Test-Logic-Reset through TMS"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wiring);
        WriteFile(Path("trst.toml"), std::string("[[device]]\ndescription = \"ZV7300LNK\"\n"
                                                 "serial = \"ZV000001\"\n") +
                                         row.wiring);
        WriteFile(Path("trst.svf"), "TRST ON;\nSIR 4 TDI (2);\n");
        const ToolRun run =
            Kestrel("--virtual '" + Path("trst.toml") + "' jtag svf '" + Path("trst.svf") + "'");
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_NE(std::string::npos, run.out.find(row.report)) << run.out;
    }
}

}  // namespace

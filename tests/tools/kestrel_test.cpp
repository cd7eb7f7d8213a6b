// The kestrel tool end to end: each test runs the built executable on the virtual cable and
// checks its exit code, its report and the files it writes.
#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "tool_fixture.h"

namespace {

using namespace kestrel_test;
using namespace std::literals;

TEST_F(KestrelTest, DemoReportsEveryStepOfTheTypicalExchange) {
    const ToolRun run = Kestrel("demo");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    // Each step's line with its result code and what it found on the default cable.
    for (const char* line : {
             R"(\[ ok \] open cable +result 0 .*OpenDevice\("ZV7300LNK", "", 5\))",
             R"(\[ ok \] JTAG chain IDCODEs +result 0 .*2 device\(s\): 0x12345677 0x87654321)",
             R"(\[ ok \] SPI flash JEDEC ID +result 0 .*A7 40 14)",
             R"(\[ ok \] SPI flash page 0 +result 0 .*00 01 02 03 .*as stored)",
             R"(\[ ok \] UART round trip +result 0 .*back intact)",
             R"(\[ ok \] DTR set / clear +result 0 .*rise and fall)",
             R"(\[ ok \] EEPROM programming +result 0 .*ProgramDevice)",
             R"(\| 202\n.*\| 203\n.*\| 204\n.*\| 205\n.*\| 210\n.*\| Zelvorinex\n.*\| 36\n)"
             R"(.*\| KestrelLink demo\n.*\| Finish!!!)",
             R"(demo: 8 passed, 0 failed)",
         }) {
        EXPECT_TRUE(std::regex_search(run.out, std::regex(line))) << line << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
}

TEST_F(KestrelTest, ScanFindsTheThreeDevicesOfAScenarioFileInChainOrder) {
    const ToolRun run = Kestrel("--virtual '" + Example("jtag-chain.toml") + "' scan");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(JTAG chain: 3 device\(s\))"))) << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("device 0  IDCODE 0x0BA00477[^\\n]*\\n"
                                                      "  device 1  IDCODE 0x13631093[^\\n]*\\n"
                                                      "  device 2  IDCODE 0x41111043")))
        << run.out;
}

TEST_F(KestrelTest, VirtualCableLoadsTheScenarioNamedInItsEnvironment) {
    const ToolRun run =
        Kestrel("--virtual scan", "VCABLE_SCENARIO='" + Example("jtag-chain.toml") + "'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("3 device(s)"), std::string::npos) << run.out;
}

TEST_F(KestrelTest, SpiReadReturnsTheContentsOfAScenarioFile) {
    // File -> flash contents of the scenario -> SPI reads -> file.
    std::string image;
    for (int i = 0; i < 3000; ++i) image += static_cast<char>((i * 7 + i / 256) & 0xFF);
    WriteFile(Path("image.bin"), image);
    WriteFile(Path("flash.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\n"
              "size = 65536\ncontents_file = \"image.bin\"\n");
    ToolRun run = Kestrel("--virtual '" + Path("flash.toml") + "' spi read '" + Path("back.bin") +
                          "' --size 3000");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(ReadFile(Path("back.bin")) == image) << "the bytes read differ from the image";
}

TEST_F(KestrelTest, UartSendReachesTheSinkOnChannelB) {
    WriteFile(Path("message.txt"), "seventeen bytes!\n");
    const ToolRun run = Kestrel("--virtual '" + Example("uart-peers.toml") + "' uart send '" +
                                Path("message.txt") + "'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("sent 17 bytes"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("peer on channel B has received 17 bytes"), std::string::npos)
        << run.out;
}

TEST_F(KestrelTest, TraceNamesTheCallsAndCommandsOfAnOpenDeviceInOrder) {
    const ToolRun scan = Kestrel("--virtual --trace '" + Path("trace.txt") + "' scan");
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    const std::string trace = ReadFile(Path("trace.txt"));
    size_t at = 0;
    for (const char* expected : {
             "FT_Rescan",
             "FT_CreateDeviceInfoList",
             "FT_GetDeviceInfoList",
             "FT_OpenEx",
             "location=0x211",
             "FT_ResetDevice",
             "FT_GetQueueStatus",
             "FT_SetLatencyTimer",
             "ms=2",
             "FT_SetBitMode",
             "mask=0x0 mode=0x0",
             "FT_SetBitMode",
             "mask=0x0 mode=0x2",
             "sent: AA",
             "0xAA bad command",
             "got: FA AA",
             "sent: 80 FA CB 85",
             "0x80 set low byte",
             "0x85 loopback off",
             "sent: 86 05 00",
             "0x86 set clock divisor args=05 00",
             "FT_OpenEx",
             "location=0x212",
             "0x4B TMS",
         }) {
        const size_t found = trace.find(expected, at);
        ASSERT_NE(found, std::string::npos)
            << "\"" << expected << "\" missing after offset " << at << " in\n"
            << trace.substr(0, 3000);
        at = found + 1;
    }
}

TEST_F(KestrelTest, VcdWaveformHasHeaderVariablesAndRisingTimestamps) {
    const ToolRun run = Kestrel("--virtual --vcd '" + Path("wave.vcd") + "' spi id");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ifstream vcd(Path("wave.vcd"));
    std::string line;
    std::vector<std::string> vars;
    bool definitions = false;
    bool timescale = false;
    long long last = -1;
    int stamps = 0;
    int tckChanges = 0;
    std::string tckId;
    const std::regex var(R"(\$var wire 1 (\S+) (\S+) \$end)");
    while (std::getline(vcd, line)) {
        std::smatch m;
        if (std::regex_match(line, m, var)) {
            vars.push_back(m[2]);
            if (m[2] == "TCK") tckId = m[1];
        } else if (line == "$timescale 1ns $end") {
            timescale = true;
        } else if (line == "$enddefinitions $end") {
            definitions = true;
        } else if (!line.empty() && line[0] == '#') {
            ASSERT_TRUE(definitions) << "time stamp before $enddefinitions";
            const long long t = std::stoll(line.substr(1));
            ASSERT_GT(t, last) << "time stamps must rise: " << line;
            last = t;
            ++stamps;
        } else if (definitions && line.size() >= 2 && (line[0] == '0' || line[0] == '1')) {
            if (line.substr(1) == tckId) ++tckChanges;
        }
    }
    EXPECT_TRUE(timescale);
    EXPECT_TRUE(definitions);
    for (const char* name : {"TCK", "TDI", "TDO", "TMS", "GPIOL2_CS", "GPIOH1"}) {
        EXPECT_NE(std::find(vars.begin(), vars.end(), name), vars.end()) << name;
    }
    EXPECT_GT(stamps, 10);
    // The JEDEC read clocks 8 command bits and 24 reply bits: at least 64 edges of TCK.
    EXPECT_GE(tckChanges, 64);
}

struct ScenarioError {
    const char* name;
    const char* text;
    const char* message;  // regular expression for the one-line reason on stderr
};

class ScenarioErrorTest : public KestrelTest,
                          public ::testing::WithParamInterface<ScenarioError> {};

TEST_P(ScenarioErrorTest, NamesTheLineAndWhatWasExpected) {
    WriteFile(Path("bad.toml"), GetParam().text);
    const ToolRun run = Kestrel("--virtual '" + Path("bad.toml") + "' scan");
    EXPECT_EQ(run.exitCode, 4) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(GetParam().message))) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScenarioErrorTest,
    ::testing::Values(
        ScenarioError{
            "IrLengthOutOfRange",
            "[[device]]\ndescription = \"ZV7300LNK\"\n\n[[device.jtag]]\n"
            "ir_length = 40\nidcode = 0x1\n",
            R"(bad\.toml:5: device\[0\]\.jtag\[0\]\.ir_length: expected an integer from 2 to 32, found 40)"},
        ScenarioError{
            "DescriptionNotAString", "[[device]]\ndescription = 7\n",
            R"(bad\.toml:2: device\[0\]\.description: expected a string, found an integer)"},
        ScenarioError{
            "MisspelledKey",
            "[[device]]\ndescription = \"x\"\nflash = { size = 4096, contnets = \"00\" }\n",
            R"(bad\.toml:3: device\[0\]\.flash: unknown key 'contnets')"},
        ScenarioError{"UnknownEntryPoint",
                      "[[device]]\ndescription = \"x\"\n[[fault]]\nentry = \"FT_Wrote\"\n",
                      R"(bad\.toml:4: fault\[0\]\.entry: expected a vendor entry point name)"},
        ScenarioError{
            "UnknownPeer", "[[device]]\ndescription = \"x\"\nuart_b = { peer = \"parrot\" }\n",
            R"(bad\.toml:3: device\[0\]\.uart_b\.peer: expected one of "none", "loopback")"},
        ScenarioError{"TomlSyntax", "[[device]\n", R"(bad\.toml:1: )"},
        ScenarioError{
            "ContentsLargerThanTheFlash",
            "[[device]]\ndescription = \"x\"\n[device.flash]\nsize = 4096\njedec_id = \"0\"\n"
            "contents = \"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\"\nfill = 1\n",
            R"(bad\.toml:5: device\[0\]\.flash\.jedec_id: expected pairs of hex digits)"},
        ScenarioError{"JedecIdAgainstSize",
                      "[[device]]\ndescription = \"x\"\n[device.flash]\nsize = 65536\n"
                      "jedec_id = \"EF 40 14\"\n",
                      R"(bad\.toml:5: device\[0\]\.flash\.jedec_id: the capacity byte 0x14 )"
                      R"(announces 1048576 bytes, but size is 65536)"}),
    [](const ::testing::TestParamInfo<ScenarioError>& info) { return info.param.name; });

TEST_F(KestrelTest, EepromProgramOnABlankCableShowsTheLogAndTheNewIdentity) {
    const ToolRun run =
        Kestrel("--virtual '" + Example("factory-bench.toml") + "' eeprom --log-dir '" + dir_ +
                "' program --program-serial ZV000042 --text 'bench 7'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("ProgramDevice returned 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  128\n  bench 7\n  Finish!!!\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("programmed, \"ZV7300LNK\" serial \"ZV000042\""), std::string::npos)
        << run.out;
    EXPECT_EQ(ReadFile(Path("Log.txt")),
              "202\r\n203\r\n204\r\n205\r\n210\r\nZelvorinex\r\n128\r\nbench 7\r\nFinish!!!\r\n");
}

TEST_F(KestrelTest, ExitCodesSayWhatWentWrong) {
    EXPECT_EQ(Kestrel("").exitCode, 2);
    EXPECT_EQ(Kestrel("spi read").exitCode, 2);
    const ToolRun noVendor = Kestrel("scan");
    EXPECT_EQ(noVendor.exitCode, 3);
    EXPECT_NE(noVendor.err.find("no D2XX library"), std::string::npos) << noVendor.err;
    EXPECT_EQ(Kestrel("--virtual '" + Path("missing.toml") + "' scan").exitCode, 4);
    EXPECT_EQ(Kestrel("--virtual --description NOPE scan").exitCode, 7);
    EXPECT_EQ(Kestrel("--virtual spi write '" + Path("missing.bin") + "'").exitCode, 5);
}

TEST_F(KestrelTest, VersionNamesTheLibrariesARunWouldUse) {
    const ToolRun run = Kestrel("--version");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {R"(^kestrel [0-9]+\.[0-9]+\.[0-9]+\n)",
                             R"(\nKestrelLink library: /\S+/libkestrellink\.so[.0-9]*\n)",
                             R"(\nD2XX library for demo and --virtual: /\S+/virtual-cable/)"
                             R"(libftd2xx\.so \(the virtual cable\)\n)",
                             R"(\nD2XX library otherwise: )"}) {
        EXPECT_TRUE(std::regex_search(run.out, std::regex(line))) << line << "\n" << run.out;
    }

    // KESTREL_VIRTUAL_LIB overrides the lookup, and a run then uses what it names.
    const std::string missing = Path("elsewhere/libftd2xx.so");
    const std::string environment = "KESTREL_VIRTUAL_LIB='" + missing + "'";
    EXPECT_NE(Kestrel("--version", environment).out.find(missing + " (the virtual cable, missing)"),
              std::string::npos);
    const ToolRun demo = Kestrel("demo", environment);
    EXPECT_EQ(demo.exitCode, 3);
    EXPECT_NE(demo.err.find("cannot load the virtual cable " + missing), std::string::npos)
        << demo.err;
}

TEST_F(KestrelTest, MessageBoxesBecomeTerminalMessages) {
    // OpenDevice4 shows a message box when no device matches.
    const ToolRun run = Kestrel("--virtual --description NOPE uart dtr");
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_NE(run.err.find("kestrel: message: E11.03"), std::string::npos) << run.err;
}

// `kestrel jtag`: each row is a command line (EXAMPLES stands for the examples folder, DIR for
// the test's folder), its exit code, and what its report must show.
struct JtagRun {
    const char* name;
    const char* file;       // written to DIR/<name of the file> first when `text` is not empty
    std::string_view text;  // (a "..."sv literal keeps the zero bytes of an XSVF file)
    const char* args;
    int exitCode;
    const char* out;  // regular expressions for standard output and standard error
    const char* err;
};

class JtagCommandTest : public KestrelTest, public ::testing::WithParamInterface<JtagRun> {};

TEST_P(JtagCommandTest, ExitsAndReports) {
    const JtagRun& row = GetParam();
    if (!row.text.empty()) WriteFile(Path(row.file), std::string(row.text));
    std::string args = row.args;
    for (const auto& [word, path] :
         {std::pair<std::string, std::string>{"EXAMPLES", KESTREL_EXAMPLES}, {"DIR", dir_}}) {
        for (size_t at; (at = args.find(word)) != std::string::npos;)
            args.replace(at, word.size(), path);
    }
    const ToolRun run = Kestrel(args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(row.out))) << run.out;
    EXPECT_TRUE(std::regex_search(run.err, std::regex(row.err))) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JtagCommandTest,
    ::testing::Values(
        JtagRun{"SvfIdcodesOnAThreeDeviceChain", nullptr, "",
                "--virtual EXAMPLES/scenarios/jtag-chain.toml jtag svf "
                "EXAMPLES/svf/idcode-chain.svf",
                0,
                R"(idcode-chain\.svf:5: TRST: TRST ABSENT: the chain has no test reset\n)"
                R"((.|\n)*played .*: 26 commands; 7 scans, 4 TDO checks; 0 run-test clocks)",
                "^$"},
        JtagRun{"SvfUserRegisterReadBack", nullptr, "",
                "--virtual jtag svf EXAMPLES/svf/user-register.svf", 0,
                R"(:7: FREQUENCY: TCK 6 MHz \(divisor 0\) for 6 MHz\n(.|\n)*3 TDO checks; 100 run)",
                "^$"},
        JtagRun{"XsvfIdcodes", nullptr, "", "--virtual jtag xsvf EXAMPLES/svf/idcode.xsvf", 0,
                "played .*: 14 commands; 3 scans, 2 TDO checks", "^$"},
        JtagRun{"MismatchNamesLineCommandAndValues", nullptr, "",
                "--virtual jtag svf EXAMPLES/svf/mismatch.svf", 1, "stopped",
                R"(^kestrel: \S+mismatch\.svf:5: SDR 64: TDO mismatch: expected )"
                R"(0x1234567787654320, actual 0x1234567787654321, mask 0xFFFFFFFFFFFFFFFF\n)"
                R"(kestrel: stopped at the first TDO mismatch)"},
        JtagRun{
            "ContinueCountsEveryMismatch", "two.svf",
            "SDR 64 TDI(0) TDO(0);\nSIR 14 TDI(0) TDO(1);\nSDR 64 TDI(0) TDO(0);",
            "--virtual jtag svf --continue DIR/two.svf", 1, "played .*3 scans, 3 TDO checks",
            R"(two\.svf:1: SDR 64: (.|\n)*two\.svf:2: SIR 14: (.|\n)*kestrel: 2 TDO mismatches)"},
        JtagRun{"ParseErrorNamesLineAndColumn", "bad.svf", "STATE RESET;\nSDR 8 TDI (1FF);",
                "--virtual jtag svf DIR/bad.svf", 2, "^$",
                R"(^kestrel: \S+bad\.svf:2:11: TDI: the value is wider than its length of 8 bits)"},
        JtagRun{"XsvfErrorNamesTheByteOffset", "cut.xsvf", "\x12\x01\x02\x08",
                "--virtual jtag xsvf DIR/cut.xsvf", 2, "^$",
                R"(^kestrel: \S+cut\.xsvf:byte 2: XSIR is cut off by the end of the file)"},
        // A 59-byte file that would make vectors of 32 MiB, refused at the line.
        JtagRun{"LengthBombIsRefusedAtItsLine", "bomb.svf",
                "STATE RESET;\nSDR 268435455 TDI (0);\nSDR 268435455 TDI (0);\n",
                "jtag svf --dry-run DIR/bomb.svf", 2, "^$",
                R"(^kestrel: \S+bomb\.svf:2:5: the file's scans would add up to 268435455 bits)"},
        // XREPEAT 255 and XRUNTEST 1 s, and a check that never matches: 22 retries wait 538 s,
        // a 23rd would pass 600 s.
        JtagRun{"EndlessRetriesStopAtTheTimeLimit", "retry.xsvf",
                "\x07\xFF\x04\x00\x0F\x42\x40\x02\x04\x02\x08\x00\x00\x00\x10\x09\xFF\xFF"
                "\x12\x34\x00"sv,
                "--virtual jtag xsvf DIR/retry.xsvf", 1, "stopped",
                R"(XSDRTDO: TDO mismatch: .*\(after 21 retries\); no more retries: their waits )"
                R"(would pass 600 s)"},
        JtagRun{"PioIsRefused", "pio.svf", "PIOMAP (IN A);\nPIO (H);",
                "--virtual jtag svf DIR/pio.svf", 6, "^$",
                R"(pio\.svf:1:1: PIOMAP is not supported: the cable has no parallel test pins)"},
        // Without --virtual and without a vendor library: a dry run needs no cable.
        JtagRun{"DryRunParsesWithoutACable", "dry.svf",
                "TRST OFF;\nSDR 64 TDI(0) TDO(0);\nRUNTEST 100 TCK 1E-3 SEC;",
                "jtag svf --dry-run DIR/dry.svf", 0,
                R"(parsed \S+dry\.svf: 3 commands; 1 scan of 64 bits, 1 with TDO checks; 100 )"
                R"(run-test clocks and 0\.001 s of run-test time\n$)",
                "^$"},
        // The waits XRUNTEST sets after the XSIR and both XSDRTDOs count: 3 x 5 ms.
        JtagRun{"DryRunCountsXruntestWaits", "wait.xsvf",
                "\x04\x00\x00\x13\x88\x02\x04\x02\x08\x00\x00\x00\x10\x09\x00\x00\x00\x00"
                "\x09\x00\x00\x00\x00\x00"sv,
                "jtag xsvf --dry-run DIR/wait.xsvf", 0,
                R"(3 scans of 36 bits, 2 with TDO checks; 0 run-test clocks and 0\.015 s of )"
                R"(run-test time)",
                "^$"},
        // Thousands of checks batched; the virtual cable's model clock gives the time on a cable.
        JtagRun{"VerifyHeavyExamplePassesAndShowsItsModelledTime", nullptr, "",
                "--virtual EXAMPLES/scenarios/jtag-verify.toml jtag svf "
                "EXAMPLES/svf/verify-heavy.svf",
                0,
                R"(4101 scans, 4097 TDO checks; .*\nmodelled time at full speed: [0-9.]+ ms; TCK )"
                R"(time 861\.230 ms \([0-9.]+x\)\n$)",
                "^$"},
        JtagRun{"IdcodeListsDetectedIrLengths", nullptr, "",
                "--virtual EXAMPLES/scenarios/jtag-chain.toml jtag idcode", 0,
                R"(3 device\(s\)(.|\n)*device 1  0x13631093  IR 10 bits\n(.|\n)*)"
                R"(IR lengths 4,10,5 \(detected from the capture pattern\))",
                "^$"},
        // --json: the same IDCODEs, zero-padded hex as in the words, which go to standard error.
        JtagRun{"IdcodeJsonMatchesItsWords", nullptr, "",
                "--json --virtual EXAMPLES/scenarios/jtag-chain.toml jtag idcode", 0,
                R"("index": 0, "idcode": "0x0BA00477", "ir_length": 4\})",
                R"(device 0  0x0BA00477  IR 4 bits)"},
        // `scan` measures the chain as `jtag idcode` does: the same verdict on a cable without one.
        JtagRun{"ScanWithoutAChain", "none.toml",
                "[[device]]\ndescription = \"ZV7300LNK\"\njtag = []\n",
                "--virtual DIR/none.toml scan", 1, "^$",
                "^kestrel: scan failed: TDO is high before any one was shifted in: no JTAG chain"},
        JtagRun{"IdcodeWithoutAChain", "none.toml",
                "[[device]]\ndescription = \"ZV7300LNK\"\njtag = []\n",
                "--virtual DIR/none.toml jtag idcode", 1, "^$",
                "^kestrel: TDO is high before any one was shifted in: no JTAG chain answers"},
        JtagRun{"DrThroughOneDevice", nullptr, "",
                "--virtual EXAMPLES/scenarios/jtag-chain.toml jtag dr 2 16 0xBEEF --ir 0x02", 0,
                R"(device 2 IR \(5 bits\): shifted in 0x02, captured 0x01\n)"
                R"(device 2 DR \(16 bits\): shifted in 0xBEEF, captured 0x0000)",
                "^$"},
        JtagRun{
            "IrLengthsThatDoNotFit", nullptr, "", "--virtual jtag ir 0 0x1 --ir-lengths 6,9", 6,
            "^$",
            R"(--ir-lengths 6,9 do not fit the chain: it has 2 device\(s\) and 14 instruction)"},
        JtagRun{"ValueWiderThanTheRegister", nullptr, "", "--virtual jtag ir 1 0x1FF", 2, "",
                R"(instruction: the value is wider than its length of 8 bits)"}),
    [](const ::testing::TestParamInfo<JtagRun>& info) { return info.param.name; });

}  // namespace

// A JTAG memory programmed in one run is still there in the next with --state, and without it
// the tool says the change is dropped.
TEST_F(KestrelTest, JtagMemoriesLastAcrossRunsWithState) {
    const std::string scenario = std::string(KESTREL_EXAMPLES) + "/scenarios/jtag-memory.toml";
    const std::string program = std::string(KESTREL_EXAMPLES) + "/svf/memory-program.svf";
    // Device 1 between BYPASS padding: its address register at word 0, then the first word read.
    WriteFile(Path("verify.svf"),
              "HIR 5 TDI (1F); TIR 4 TDI (F); HDR 1 TDI (0); TDR 1 TDI (0);\n"
              "SIR 8 TDI (10); SDR 4 TDI (0);\n"
              "SIR 8 TDI (12); SDR 32 TDI (00000000) TDO (5C8CC1AB);\n");
    const std::string state = " --state '" + Path("bench.state") + "'";
    const std::string run = "--virtual '" + scenario + "'";

    const ToolRun dropped = Kestrel(run + " jtag svf '" + program + "'");
    EXPECT_EQ(dropped.exitCode, 0) << dropped.err;
    EXPECT_NE(dropped.err.find("the JTAG memories of cable 0) are dropped at exit"),
              std::string::npos)
        << dropped.err;
    EXPECT_EQ(Kestrel(run + " jtag svf '" + Path("verify.svf") + "'").exitCode, 1);

    EXPECT_EQ(Kestrel(run + state + " jtag svf '" + program + "'").exitCode, 0);
    const ToolRun verified = Kestrel(run + state + " jtag svf '" + Path("verify.svf") + "'");
    EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
}

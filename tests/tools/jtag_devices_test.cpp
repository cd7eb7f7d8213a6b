// Devices described by instruction tables, played through the library's exports: each row's file
// runs on a four-device chain with mixed instruction lengths, and the control API shows what the
// devices kept (instructions, data registers, the memory array and its address).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "player_fixture.h"

namespace kestrel::jtag {
namespace {

// Device 0 (nearest TDI) has no IDCODE and a 100-bit register; device 1 a memory of six 72-bit
// words behind a 3-bit address; device 2 a register with a fixed capture; device 3 no table.
constexpr const char* kChain = R"(
[[device]]
description = "ZV7300LNK"
[[device.jtag]]
ir_length = 2
instructions = [{ opcode = 1, register = "data", length = 100, reset = "A000000000000000000000001" }]
[[device.jtag]]
ir_length = 8
idcode = 0x16D4A093
usercode = 0x00C0FFEE
instructions = [
    { opcode = 0x01, register = "idcode" }, { opcode = 0x03, register = "usercode" },
    { opcode = 0x10, register = "address" }, { opcode = 0x11, register = "program" },
    { opcode = 0x12, register = "read" }, { opcode = 0x13, register = "erase" } ]
[device.jtag.memory]
words = 6
word_bits = 72
address_bits = 3
program_tcks = 16
contents = "01 02 03 04 05 06 07 08 09"
[[device.jtag]]
ir_length = 5
idcode = 0x0BA00477
ir_capture = 0x1D
instructions = [{ opcode = 0x09, register = "idcode" },
                { opcode = 0x04, register = "data", length = 8, capture = 0xA5 }]
[[device.jtag]]
ir_length = 3
idcode = 0x41111043
idcode_instruction = 1
user_length = 12
)";
constexpr int kIrLengths[] = {2, 8, 5, 3};

// Header and trailer that keep every device but `device` in BYPASS.
std::string Only(int device) {
    int header = 0;
    int trailer = 0;
    for (int d = 0; d < 4; ++d) (d > device ? header : trailer) += d == device ? 0 : kIrLengths[d];
    char text[128];
    std::snprintf(text, sizeof text,
                  "HIR %d TDI(%X); TIR %d TDI(%X); HDR %d TDI(0); TDR %d TDI(0);", header,
                  (1u << header) - 1, trailer, (1u << trailer) - 1, 3 - device, device);
    return text;
}

// Bits in clock order as SVF writes them: hex, most significant digit first.
std::string Hex(const uint8_t* bytes, uint32_t bits) {
    std::string text;
    for (int digit = static_cast<int>((bits + 3) / 4) - 1; digit >= 0; --digit) {
        text += "0123456789ABCDEF"[(bytes[digit / 2] >> (4 * (digit % 2))) & 0xF];
    }
    return text;
}

std::string HexNumber(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

// What the control API shows for "ir D", "user D", "dr D OPCODE", "word D W", "address D" and
// "pending D", in hex (numbers in `what` too).
std::string Saw(const std::string& what) {
    std::istringstream in(what);
    std::string kind;
    int device = 0;
    uint32_t n = 0;
    in >> kind >> device >> std::hex >> n;
    uint8_t bytes[32] = {};
    uint32_t value = 0;
    uint64_t user = 0;
    vc_jtag_memory memory{};
    if (kind == "ir" && vc_jtag_instruction(0, device, &value) == VC_OK) return HexNumber(value);
    if (kind == "user" && vc_jtag_user_register(0, device, &user) == VC_OK) return HexNumber(user);
    if (kind == "dr" && vc_jtag_data_register(0, device, n, bytes, sizeof bytes, &value) == VC_OK)
        return Hex(bytes, value);
    if (vc_jtag_memory_info(0, device, &memory) != VC_OK) return "no memory";
    if (kind == "address") return HexNumber(memory.address);
    if (kind == "pending") return HexNumber(memory.pending_tcks);
    const uint32_t wordBytes = (memory.word_bits + 7) / 8;
    if (kind == "word" && vc_jtag_memory_read(0, device, n * wordBytes, bytes, wordBytes) == VC_OK)
        return Hex(bytes, memory.word_bits);
    return "unreadable";
}

struct DeviceRow {
    const char* name;
    std::string svf;
    uint64_t mismatches;
    std::vector<std::pair<const char*, const char*>> saw;  // what the control API shows
};

class DeviceTable : public PlayerTest, public ::testing::WithParamInterface<DeviceRow> {};

TEST_P(DeviceTable, TheDevicesKeepWhatTheFileGaveThem) {
    if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without the TOML reader";
    const DeviceRow& row = GetParam();
    LoadScenario(kChain, false);
    PlayResult result;
    PlayOptions options;
    options.keepGoing = true;
    EXPECT_TRUE(PlaySvf(row.svf, result, options)) << result.call.Describe();
    EXPECT_EQ(result.mismatches, row.mismatches);
    for (const auto& [what, expected] : row.saw) EXPECT_EQ(Saw(what), expected) << what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceTable,
    ::testing::Values(
        // A device without IDCODE shows one BYPASS bit (0) after Test-Logic-Reset.
        DeviceRow{"ResetSelectsIdcodeOrBypass",
                  "STATE RESET; SDR 97 TDI(0) TDO(016D4A0930BA0047741111043);",
                  0,
                  {{"ir 0", "3"}, {"ir 1", "1"}, {"ir 2", "9"}, {"ir 3", "1"}}},
        // Device 3 shifts out first: 001, then 0x1D, 0x01 and 01; every opcode of ones is BYPASS.
        DeviceRow{"IrCapturesEndInZeroOneAndOnesSelectBypass",
                  "SIR 18 TDI(3FFFF) TDO(101E9); SDR 4 TDI(F) TDO(0);",
                  0,
                  {{"ir 0", "3"}, {"ir 1", "FF"}, {"ir 2", "1F"}, {"ir 3", "7"}}},
        // Without Update-DR (the last scan ends in Pause-DR) the register keeps its value.
        DeviceRow{"WideRegisterCapturesWhatItHolds",
                  Only(0) + "SIR 2 TDI(1); SDR 100 TDI(123456789ABCDEF0123456789) "
                            "TDO(A000000000000000000000001); ENDDR DRPAUSE;"
                            "SDR 100 TDI(0) TDO(123456789ABCDEF0123456789);",
                  0,
                  {{"dr 0 1", "123456789ABCDEF0123456789"}}},
        // Opcode 0x0B is not in device 2's table: every device is one BYPASS bit, so the first
        // bit shifted in comes out after four captured zeros and the header's bit.
        DeviceRow{"UsercodeUserRegisterFixedCaptureAndUnlistedOpcode",
                  Only(1) + "SIR 8 TDI(03); SDR 32 TDI(0) TDO(00C0FFEE);" + Only(3) +
                      "SIR 3 TDI(2); SDR 12 TDI(ABC); SDR 12 TDI(123) TDO(ABC);" + Only(2) +
                      "SIR 5 TDI(04); SDR 8 TDI(3C) TDO(A5); SDR 8 TDI(C3) TDO(A5);"
                      "SIR 5 TDI(0B); SDR 5 TDI(1F) TDO(10);",
                  0,
                  {{"user 3", "123"}, {"dr 2 4", "C3"}, {"ir 2", "B"}}},
        // Erased, then three words from address 4 on: the third, at 6, is past the last word.
        // The address register then shows 7; read-back past the end gives the erased value.
        DeviceRow{"ProgramAndReadBackMoveTheAddressOn",
                  Only(1) + "SIR 8 TDI(13); SIR 8 TDI(10); SDR 3 TDI(4); SIR 8 TDI(11);"
                            "SDR 72 TDI(AAAAAAAAAAAAAAAAAA); RUNTEST 16 TCK;"
                            "SDR 72 TDI(555555555555555555); RUNTEST 16 TCK;"
                            "SDR 72 TDI(0F0F0F0F0F0F0F0F0F); RUNTEST 16 TCK;"
                            "SIR 8 TDI(10); SDR 3 TDI(3) TDO(7); SIR 8 TDI(12);"
                            "SDR 72 TDI(0) TDO(FFFFFFFFFFFFFFFFFF);"
                            "SDR 72 TDI(0) TDO(AAAAAAAAAAAAAAAAAA);"
                            "SDR 72 TDI(0) TDO(555555555555555555);"
                            "SDR 72 TDI(0) TDO(FFFFFFFFFFFFFFFFFF);",
                  0,
                  {{"word 1 0", "FFFFFFFFFFFFFFFFFF"},
                   {"word 1 4", "AAAAAAAAAAAAAAAAAA"},
                   {"word 1 5", "555555555555555555"},
                   {"address 1", "7"},
                   {"pending 1", "0"}}},
        // A program needs 16 Run-Test/Idle clocks: with 15 the next instruction loses it, and
        // the verify of word 0 fails; the last one is still waiting when the file ends.
        DeviceRow{"TooFewRunTestClocksLoseTheProgram",
                  Only(1) + "SIR 8 TDI(10); SDR 3 TDI(0); SIR 8 TDI(11); SDR 72 TDI(0);"
                            "RUNTEST 15 TCK; SIR 8 TDI(10); SDR 3 TDI(0); SIR 8 TDI(12);"
                            "SDR 72 TDI(0) TDO(0); SIR 8 TDI(11); SDR 72 TDI(0); RUNTEST 10 TCK;",
                  1,
                  {{"word 1 0", "090807060504030201"},
                   {"word 1 1", "FFFFFFFFFFFFFFFFFF"},
                   {"address 1", "2"},
                   {"pending 1", "6"}}}),
    [](const ::testing::TestParamInfo<DeviceRow>& info) { return info.param.name; });

std::string ReadExample(const std::string& path) {
    std::ifstream file(std::string(KESTREL_EXAMPLES) + "/" + path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The shipped examples: the memory holds the design after programming, and a verify against
// another bitstream fails at the word that differs, leaving the design in place.
TEST_F(PlayerTest, ExamplesProgramTheMemoryAndStopAtTheWrongWord) {
    if (!vc_scenario_files_supported()) GTEST_SKIP() << "built without the TOML reader";
    const uint32_t design[16] = {0x5C8CC1AB, 0x781EF86F, 0x7B00C7F4, 0x48F165D5,
                                 0x6ABD685A, 0x3A0562D5, 0x725ED09D, 0x017F9EE6,
                                 0x68D605D4, 0xDAA8B2A6, 0xA85F68B6, 0xB6043106,
                                 0x424458B6, 0x3CE44E27, 0xA28F17D8, 0x38F12D92};
    struct Example {
        const char* svf;
        bool passes;
        std::vector<std::string> reports;
    };
    const Example examples[] = {
        {"svf/memory-program.svf",
         true,
         {"5: TRST: TRST ABSENT: the chain has no test reset",
          "9: FREQUENCY: TCK 1 MHz (divisor 5) for 1 MHz"}},
        {"svf/memory-mismatch.svf",
         false,
         {"5: TRST: TRST ABSENT: the chain has no test reset",
          "9: FREQUENCY: TCK 1 MHz (divisor 5) for 1 MHz",
          "55: SDR 32: TDO mismatch: expected 0xDAACB2A6, actual 0xDAA8B2A6, mask 0xFFFFFFFF"}},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(example.svf);
        LoadScenario(std::string(KESTREL_EXAMPLES) + "/scenarios/jtag-memory.toml", true);
        reports.clear();
        PlayResult result;
        EXPECT_EQ(PlaySvf(ReadExample(example.svf), result), example.passes);
        EXPECT_EQ(reports, example.reports);
        uint8_t image[64] = {};
        ASSERT_EQ(vc_jtag_memory_read(0, 1, 0, image, sizeof image), VC_OK);
        for (int w = 0; w < 16; ++w) {
            char expected[16];
            std::snprintf(expected, sizeof expected, "%08X", design[w]);
            EXPECT_EQ(Hex(image + 4 * w, 32), expected) << "word " << w;
        }
    }
}

}  // namespace
}  // namespace kestrel::jtag

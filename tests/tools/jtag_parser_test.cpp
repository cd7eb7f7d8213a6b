// The SVF and XSVF parsers as tables: each row is a file and the operations it must become (one
// line per operation, below), or the error it must give with its place in the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "jtag/parsers.h"

namespace kestrel::jtag {
namespace {

std::string Vector(const char* name, const Bits& bits) {
    return bits.empty() ? "" : std::string(" ") + name + "=" + bits.ToHex();
}

// One line per operation: "DR tdi=A5 tdo=.. mask=.. end=IDLE", "STATE DRPAUSE",
// "RUN IDLE clocks=100 min=0.001 max=0.01 time end=IDLE", "FREQ 1e+06", "NOTE ...".
std::string Dump(const Program& program) {
    std::string out;
    char number[64];
    for (const Op& op : program.ops) {
        if (const auto* move = std::get_if<MoveOp>(&op.what)) {
            out += std::string("STATE ") + SvfName(move->target);
            if (!move->path.empty()) out += " path=" + std::to_string(move->path.size());
        } else if (const auto* scan = std::get_if<ScanOp>(&op.what)) {
            out += scan->ir ? "IR" : "DR";
            out += Vector("tdi", scan->tdi);
            if (!scan->tdiCare.All(true)) out += Vector("care", scan->tdiCare);
            out += Vector("tdo", scan->expected) + Vector("mask", scan->mask);
            out += std::string(" end=") + (scan->leaveShift ? SvfName(scan->end) : "stay");
            if (scan->retries) out += " retries=" + std::to_string(scan->retries);
            if (scan->waitUs) out += " wait=" + std::to_string(scan->waitUs);
        } else if (const auto* run = std::get_if<RunOp>(&op.what)) {
            std::snprintf(number, sizeof number, " clocks=%llu min=%g",
                          static_cast<unsigned long long>(run->clocks), run->minSeconds);
            out += std::string("RUN ") + SvfName(run->state) + number;
            if (run->maxSeconds >= 0) {
                std::snprintf(number, sizeof number, " max=%g", run->maxSeconds);
                out += number;
            }
            out +=
                std::string(run->timeAsClocks ? " time" : " pause") + " end=" + SvfName(run->end);
        } else if (const auto* frequency = std::get_if<FrequencyOp>(&op.what)) {
            std::snprintf(number, sizeof number, "FREQ %g", frequency->hz);
            out += number;
        } else if (const auto* trst = std::get_if<TrstOp>(&op.what)) {
            out += trst->assert ? "TRST ON" : "TRST OFF";
        } else if (const auto* note = std::get_if<NoteOp>(&op.what)) {
            out += "NOTE " + note->text;
        }
        out += "\n";
    }
    return out;
}

struct SvfRow {
    const char* name;
    const char* text;
    const char* ops;  // Dump of the program; for error rows a regex of "line:column: message"
    bool error = false;
    bool refused = false;
};

class SvfTable : public ::testing::TestWithParam<SvfRow> {};

// A row that parses must give exactly `ops`; an error row must fail with a report that matches.
void ExpectRow(bool parsed, const Program& program, const ParseError& error, bool binary,
               const char* ops, bool errorRow) {
    const std::string described = Describe(error, binary ? "f.xsvf" : "f.svf", binary);
    if (!errorRow) {
        ASSERT_TRUE(parsed) << described;
        EXPECT_EQ(Dump(program), ops);
        return;
    }
    ASSERT_FALSE(parsed) << Dump(program);
    EXPECT_TRUE(std::regex_search(described, std::regex(ops))) << described;
}

TEST_P(SvfTable, ParsesToTheOperationsOrNamesThePlace) {
    const SvfRow& row = GetParam();
    Program program;
    ParseError error;
    ExpectRow(ParseSvf(row.text, program, error), program, error, false, row.ops, row.error);
    EXPECT_EQ(error.refused, row.refused) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SvfTable,
    ::testing::Values(
        SvfRow{"CommentsCaseSpansAndSplitHex",
               "! header\nsdr 8 // length\n tdi (a\n5) ; Sdr 8\n TdI ( 3C );",
               "DR tdi=A5 end=IDLE\nDR tdi=3C end=IDLE\n"},
        SvfRow{"TdiMaskSmaskCarryOverTdoDoesNot",
               "SDR 8 TDI(12) TDO(34) MASK(0F) SMASK(F0); SDR 8; SDR 8 TDO(55);",
               "DR tdi=12 care=F0 tdo=34 mask=0F end=IDLE\nDR tdi=12 care=F0 end=IDLE\n"
               "DR tdi=12 care=F0 tdo=55 mask=0F end=IDLE\n"},
        SvfRow{"NewLengthResetsMaskToOnes", "SDR 8 TDI(1) MASK(0F); SDR 4 TDI(1) TDO(1);",
               "DR tdi=01 end=IDLE\nDR tdi=1 tdo=1 mask=F end=IDLE\n"},
        SvfRow{"ShortHexIsZeroExtended", "SIR 10 TDI (3);", "IR tdi=003 end=IDLE\n"},
        // The header goes first (bits 0-3), then the command's bits, then the trailer; only the
        // trailer is compared.
        SvfRow{"HeaderAndTrailerPadTheScan",
               "HIR 4 TDI(F); TIR 2 TDI(1) TDO(1) MASK(3); SIR 3 TDI(5); HIR 0; TIR 0; SIR 3;",
               "IR tdi=0DF tdo=080 mask=180 end=IDLE\nIR tdi=5 end=IDLE\n"},
        SvfRow{"ZeroMaskComparesNothing", "SDR 4 TDI(1) TDO(1) MASK(0);", "DR tdi=1 end=IDLE\n"},
        SvfRow{"EndStates", "ENDIR IRPAUSE; ENDDR DRPAUSE; SIR 2 TDI(1); SDR 2 TDI(1);",
               "IR tdi=1 end=IRPAUSE\nDR tdi=1 end=DRPAUSE\n"},
        SvfRow{"StateDefaultAndExplicitPaths",
               "STATE IDLE; STATE DRSELECT DRCAPTURE DREXIT1 DRPAUSE; STATE RESET;"
               "STATE IDLE RESET IDLE;",
               "STATE IDLE\nSTATE DRPAUSE path=4\nSTATE RESET\nSTATE IDLE path=3\n"},
        SvfRow{"RunTestInEveryForm",
               "RUNTEST 100 TCK; RUNTEST DRPAUSE 5 TCK 1E-3 SEC MAXIMUM 1.0E-2 SEC ENDSTATE IDLE;"
               "RUNTEST 2.5E-3 SEC; RUNTEST IRPAUSE 7 TCK; RUNTEST 1 TCK;",
               "RUN IDLE clocks=100 min=0 time end=IDLE\n"
               "RUN DRPAUSE clocks=5 min=0.001 max=0.01 time end=IDLE\n"
               "RUN DRPAUSE clocks=0 min=0.0025 pause end=IDLE\n"
               "RUN IRPAUSE clocks=7 min=0 time end=IRPAUSE\n"
               "RUN IRPAUSE clocks=1 min=0 time end=IRPAUSE\n"},
        SvfRow{"SystemClocksBecomeANoteAndAPause", "RUNTEST 10 SCK 1E-3 SEC;",
               "NOTE RUNTEST 10 SCK: the cable has no system clock; only the time is kept\n"
               "RUN IDLE clocks=0 min=0.001 pause end=IDLE\n"},
        SvfRow{"FrequencyAndTrst", "FREQUENCY 1.5E6 HZ; FREQUENCY; TRST OFF;",
               "FREQ 1.5e+06\nFREQ 0\nTRST OFF\n"},
        SvfRow{"UnknownCommand", "\n\n  FOO 1;", R"(^f\.svf:3:3: unknown command 'FOO')", true},
        SvfRow{"ValueWiderThanLength", "SDR 4 TDI (1F);",
               R"(^f\.svf:1:11: TDI: the value is wider than its length of 4 bits)", true},
        SvfRow{"TdiRequiredWhenLengthChanges", "SDR 8 TDI(1);\nSDR 4;",
               R"(^f\.svf:2:1: SDR 4 needs TDI)", true},
        SvfRow{"PathThatSkipsAState", "STATE IDLE DRPAUSE;",
               R"(^f\.svf:1:12: DRPAUSE does not follow IDLE in one TCK)", true},
        SvfRow{"StateEndingInAShiftState", "STATE DRSHIFT;",
               R"(^f\.svf:1:7: STATE must end in a stable state, not DRSHIFT)", true},
        SvfRow{"RunStateMustBeStable", "RUNTEST DREXIT1 4 TCK;",
               R"(^f\.svf:1:9: DREXIT1 is not a stable state)", true},
        SvfRow{"NoSemicolonAtTheEnd", "SIR 4 TDI(1)", R"(^f\.svf:1:1: 'SIR' is not ended by ';')",
               true},
        SvfRow{"UnclosedParenthesis", "SDR 8 TDI (12\n", R"(^f\.svf:1:11: '\(' is never closed)",
               true},
        SvfRow{"NotAHexDigit", "SDR 8 TDI (1G);", R"(^f\.svf:1:11: TDI: 'G' is not a hex digit)",
               true},
        SvfRow{"RealWithoutLeadingDigit", "RUNTEST .5 SEC;",
               R"(^f\.svf:1:9: a TCK count or a time is expected)", true},
        SvfRow{"WaitOfDaysInClocks", "RUNTEST 1E70 TCK;",
               R"(^f\.svf:1:9: the count must be at most 68719476736)", true},
        SvfRow{"WaitOfDaysInSeconds", "RUNTEST 10 TCK 1E5 SEC;",
               R"(^f\.svf:1:16: the time must be at most 3600 SEC)", true},
        // Length bombs: refused at the length, before a value of that length is made.
        SvfRow{"ScanLongerThanTheFileCouldHold", "SDR 268435455 TDI (0);",
               R"(^f\.svf:1:5: the file's scans would add up to 268435455 bits, more than a file )"
               R"(of 22 bytes may ask for \(16777216\))",
               true},
        SvfRow{"ScansThatAddUpPastTheFloor", "SDR 9000000 TDI (0);\nSDR 9000000;",
               R"(^f\.svf:2:5: the file's scans would add up to 18000000 bits)", true},
        SvfRow{"PaddingIsCountedOnEveryScan", "HDR 9000000 TDI (0);\nSDR 1 TDI (0);",
               R"(^f\.svf:2:5: the file's scans would add up to 18000001 bits)", true},
        SvfRow{"HeaderMakesTheScanTooLong", "HIR 1000 TDI (0);\nSIR 268435000 TDI (0);",
               R"(^f\.svf:2:1: with header and trailer the scan is longer than 268435456 bits)",
               true},
        SvfRow{"WaitsThatAddUpToHours",
               "RUNTEST 3600 SEC;\nRUNTEST 3600 SEC;\nRUNTEST 3600 SEC;\nRUNTEST 3600 SEC;\n"
               "RUNTEST 1 SEC;",
               R"(^f\.svf:5:9: the file's waits would add up to more than 14400 s)", true},
        SvfRow{"ClocksThatAddUpToHours",
               "RUNTEST 68719476736 TCK;\nRUNTEST 68719476736 TCK;\nRUNTEST 1 TCK;",
               R"(^f\.svf:3:9: the file's run-test clocks would add up to more than 137438953472)",
               true},
        SvfRow{"MaximumBelowMinimum", "RUNTEST 1E-2 SEC MAXIMUM 1E-3 SEC;",
               R"(^f\.svf:1:26: the maximum time is below the minimum)", true},
        SvfRow{"MaximumWithoutMinimum", "RUNTEST 10 TCK MAXIMUM 1 SEC;",
               R"(^f\.svf:1:16: MAXIMUM needs a minimum time before it)", true},
        SvfRow{"ParameterGivenTwice", "SDR 8 TDI(1) TDI(2);", R"(^f\.svf:1:14: TDI is given twice)",
               true},
        SvfRow{"PioIsRefused", "PIOMAP (IN A);", R"(^f\.svf:1:1: PIOMAP is not supported)", true,
               true}),
    [](const ::testing::TestParamInfo<SvfRow>& info) { return info.param.name; });

struct XsvfRow {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* ops;  // as for SvfRow
    bool error = false;
};

class XsvfTable : public ::testing::TestWithParam<XsvfRow> {};

TEST_P(XsvfTable, ParsesToTheOperationsOrNamesTheOffset) {
    const XsvfRow& row = GetParam();
    Program program;
    ParseError error;
    ExpectRow(ParseXsvf(row.bytes, program, error), program, error, true, row.ops, row.error);
}

// XSDRSIZE of `bits`, XSETSDRMASKS with an address mask of zeros and a data mask of zeros, and
// XSDRINC of `times` steps: every step a whole scan that takes no data bytes from the file.
std::vector<uint8_t> SdrIncWithoutData(uint32_t bits, uint8_t times) {
    std::vector<uint8_t> file = {0x08,
                                 static_cast<uint8_t>(bits >> 24),
                                 static_cast<uint8_t>(bits >> 16),
                                 static_cast<uint8_t>(bits >> 8),
                                 static_cast<uint8_t>(bits),
                                 0x0A};
    file.resize(file.size() + 2 * ((bits + 7) / 8));
    file.push_back(0x0B);
    file.resize(file.size() + (bits + 7) / 8);
    file.push_back(times);
    file.push_back(0x00);
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, XsvfTable,
    ::testing::Values(
        // XSIR with an XRUNTEST time waits in Run-Test/Idle; XENDIR 1 ends in Pause-IR.
        XsvfRow{"SirWithRunTestAndEndState",
                {0x13, 0x01, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02, 0x0A, 0x01, 0xFF, 0x00},
                "IR tdi=1FF end=IRPAUSE wait=256\n"},
        // XSDRTDO compares under XTDOMASK; XSDR then compares with that expected value again.
        XsvfRow{"SdrTdoUnderMaskThenSdrReusesIt",
                {0x07, 0x03, 0x08, 0x00, 0x00, 0x00, 0x10, 0x01, 0x0F, 0xF0, 0x09, 0x12, 0x34, 0xAB,
                 0xCD, 0x03, 0x00, 0x01, 0x00},
                "DR tdi=1234 tdo=ABCD mask=0FF0 end=IDLE retries=3\n"
                "DR tdi=0001 tdo=ABCD mask=0FF0 end=IDLE retries=3\n"},
        XsvfRow{"SdrWithoutExpectedValueComparesNothing",
                {0x08, 0x00, 0x00, 0x00, 0x04, 0x03, 0x05, 0x00},
                "DR tdi=5 end=IDLE retries=32\n"},
        XsvfRow{"BeginContinueEndStayInShiftDr",
                {0x08, 0x00, 0x00, 0x00, 0x08, 0x14, 0x01, 0x0C, 0x11, 0x0D, 0x22, 0x10, 0x33, 0x0F,
                 0x0E, 0x44, 0x00},
                "DR tdi=11 end=stay\nDR tdi=22 end=stay\nDR tdi=33 tdo=0F end=stay\n"
                "DR tdi=44 end=DRPAUSE\n"},
        XsvfRow{"StateWaitAndComment",
                {0x12, 0x00, 0x16, 'h', 'i', 0x00, 0x17, 0x06, 0x01, 0x00, 0x00, 0x03, 0xE8, 0x00},
                "STATE RESET\nRUN DRPAUSE clocks=0 min=0.001 time end=IDLE\n"},
        // Address field: the low nibble; data field: the high nibble.
        XsvfRow{
            "SdrIncStepsTheAddressAndFillsTheData",
            {0x08, 0x00, 0x00, 0x00, 0x08, 0x0A, 0x0F, 0xF0, 0x0B, 0x0E, 0x02, 0x05, 0x06, 0x00},
            "DR tdi=0E end=IDLE retries=32\nDR tdi=5F end=IDLE retries=32\n"
            "DR tdi=60 end=IDLE retries=32\n"},
        XsvfRow{
            "UnknownCommand", {0x05, 0x00}, R"(^f\.xsvf:byte 0: unknown XSVF command 0x05)", true},
        XsvfRow{"CutOffValue",
                {0x08, 0x00, 0x00, 0x00, 0x10, 0x03, 0x12},
                R"(^f\.xsvf:byte 5: XSDR is cut off by the end of the file)",
                true},
        XsvfRow{"NoComplete",
                {0x02, 0x04, 0x01},
                R"(^f\.xsvf:byte 3: the file ends without XCOMPLETE)",
                true},
        XsvfRow{"ValueWiderThanLength",
                {0x02, 0x04, 0x1F, 0x00},
                R"(^f\.xsvf:byte 0: XSIR: a value is wider than its length of 4 bits)",
                true},
        XsvfRow{"SdrIncOfAFewStepsFromNoData", SdrIncWithoutData(4, 2),
                "DR tdi=0 end=IDLE retries=32\nDR tdi=0 end=IDLE retries=32\n"
                "DR tdi=0 end=IDLE retries=32\n"},
        // 256 scans of 65600 bits from a file of 24609 bytes: the step that passes the limit.
        XsvfRow{"SdrIncLengthBomb", SdrIncWithoutData(65600, 255),
                R"(^f\.xsvf:byte 16406: XSDRINC: the file's scans would add up to 16793600 bits, )"
                R"(more than a file of 24609 bytes may ask for \(16777216\))",
                true},
        XsvfRow{"RunTestOfHours",
                {0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},
                R"(^f\.xsvf:byte 0: XRUNTEST 4294967295 us: the time must be at most 3600 s)",
                true},
        XsvfRow{"WaitOfHours",
                {0x17, 0x01, 0x01, 0xD6, 0x93, 0xA4, 0x01, 0x00},
                R"(^f\.xsvf:byte 0: XWAIT 3600000001 us: the time must be at most 3600 s)",
                true},
        // Four XSIRs wait an hour each after XRUNTEST 3600 s; the fifth passes the file's limit.
        XsvfRow{"ScanWaitsThatAddUpToHours",
                {0x04, 0xD6, 0x93, 0xA4, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
                 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x00},
                R"(^f\.xsvf:byte 17: XSIR: the file's waits would add up to more than 14400 s)",
                true},
        XsvfRow{"EndStateOutOfRange",
                {0x13, 0x02, 0x00},
                R"(^f\.xsvf:byte 0: XENDIR takes 0 \(Run-Test/Idle\) or 1 \(pause\), not 2)",
                true}),
    [](const ::testing::TestParamInfo<XsvfRow>& info) { return info.param.name; });

}  // namespace
}  // namespace kestrel::jtag

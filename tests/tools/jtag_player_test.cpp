// The player on virtual chains of one to four devices, through the library's exports: every test
// judges what the TAPs saw (states, instruction and user registers, TCK cycles, the writes on
// the wire) through the virtual cable's control API, not only the player's verdict.
#include <gtest/gtest.h>

#include <random>

#include "jtag/chain.h"
#include "player_fixture.h"

namespace kestrel::jtag {
namespace {

vc_jtag_device Device(int irLength, uint32_t idcode, int userLength) {
    return {irLength, idcode, 0x01, 0x02, userLength};
}
const std::vector<vc_jtag_device> kOne = {Device(4, 0x2A5C3093, 16)};
const std::vector<vc_jtag_device> kThree = {Device(4, 0x0BA00477, 32), Device(10, 0x13631093, 32),
                                            Device(5, 0x41111043, 16)};
const std::vector<vc_jtag_device> kFour = {Device(2, 0x0BA00477, 8), Device(3, 0x13631093, 12),
                                           Device(8, 0x41111043, 40), Device(5, 0x2A5C3093, 24)};

struct DeviceSaw {
    uint32_t instruction;
    uint64_t user;
    int tap;
};

struct PlaybackRow {
    const char* name;
    const std::vector<vc_jtag_device>* chain;
    const char* svf;
    std::vector<DeviceSaw> saw;  // device 0 (nearest TDI) first
    uint64_t mismatches = 0;
};

class PlaybackTable : public PlayerTest, public ::testing::WithParamInterface<PlaybackRow> {};

TEST_P(PlaybackTable, TheTapsSeeWhatTheFileSays) {
    const PlaybackRow& row = GetParam();
    SetChain(*row.chain);
    PlayResult result;
    PlayOptions options;
    options.keepGoing = true;
    EXPECT_TRUE(PlaySvf(row.svf, result, options)) << result.call.Describe();
    EXPECT_EQ(result.mismatches, row.mismatches);
    for (size_t d = 0; d < row.saw.size(); ++d) {
        uint32_t instruction = 0;
        uint64_t user = 0;
        vc_jtag_instruction(0, static_cast<int>(d), &instruction);
        vc_jtag_user_register(0, static_cast<int>(d), &user);
        EXPECT_EQ(instruction, row.saw[d].instruction) << "device " << d;
        EXPECT_EQ(user, row.saw[d].user) << "device " << d;
        EXPECT_STREQ(vc_jtag_tap_state_name(vc_jtag_tap_state(0, static_cast<int>(d))),
                     vc_jtag_tap_state_name(row.saw[d].tap))
            << "device " << d;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlaybackTable,
    ::testing::Values(
        // The read-back shifts a pattern while comparing: the capturing shift.
        PlaybackRow{"OneDeviceWriteAndCheckedReadBack",
                    &kOne,
                    "SIR 4 TDI(2); SDR 16 TDI(BEEF); SDR 16 TDI(1234) TDO(BEEF);",
                    {{0x2, 0x1234, VC_TAP_RUN_TEST_IDLE}}},
        // The header pads device 2 (nearest TDO), the trailer device 0; the read-back shifts
        // zeros, which the queued capture with TDI held low carries, and stops in Pause-DR:
        // without Update-DR the user register keeps its value.
        PlaybackRow{"MiddleOfThreeThroughHeaderAndTrailer",
                    &kThree,
                    "HIR 5 TDI(1F); TIR 4 TDI(F); HDR 1 TDI(0); TDR 1 TDI(0);"
                    "SIR 10 TDI(002); SDR 32 TDI(ABCDEF01);"
                    "ENDDR DRPAUSE; SDR 32 TDI(0) TDO(ABCDEF01);",
                    {{0xF, 0, VC_TAP_PAUSE_DR},
                     {0x002, 0xABCDEF01, VC_TAP_PAUSE_DR},
                     {0x1F, 0, VC_TAP_PAUSE_DR}}},
        // The last scan ends in Pause-IR: without Update-IR every device keeps BYPASS.
        PlaybackRow{"FourIdcodesThenAllBypass",
                    &kFour,
                    "STATE RESET; SDR 128 TDI(0) TDO(0BA00477 13631093 41111043 2A5C3093);"
                    "SIR 18 TDI(3FFFF); ENDIR IRPAUSE; SIR 18 TDI(0);",
                    {{0x3, 0, VC_TAP_PAUSE_IR},
                     {0x7, 0, VC_TAP_PAUSE_IR},
                     {0xFF, 0, VC_TAP_PAUSE_IR},
                     {0x1F, 0, VC_TAP_PAUSE_IR}}},
        // Wrong expectations in the trailer and on both capture paths (held TDI, shifted
        // pattern), and one that the mask lets pass; --continue plays to the end.
        PlaybackRow{"MismatchesAreCountedOnEveryPath",
                    &kThree,
                    "TIR 4 TDI(F) TDO(0) MASK(3); SIR 15 TDI(7FFF); TIR 0; SIR 19 TDI(7FFFF);"
                    "SDR 3 TDI(0) TDO(7); SDR 3 TDI(5) TDO(5); SDR 3 TDI(5) TDO(1) MASK(6);",
                    {{0xF, 0, VC_TAP_RUN_TEST_IDLE},
                     {0x3FF, 0, VC_TAP_RUN_TEST_IDLE},
                     {0x1F, 0, VC_TAP_RUN_TEST_IDLE}},
                    3},
        // MASK is kept for a check of the same length: the second check passes only under it,
        // the third fails in bits it selects.
        PlaybackRow{"MaskCarriesOverToTheNextCheck",
                    &kOne,
                    "SIR 4 TDI(2); SDR 16 TDI(BEEF); SDR 16 TDI(BEEF) TDO(BEE0) MASK(FFF0);"
                    "SDR 16 TDO(BEE5); SDR 16 TDO(BE0F); SDR 16 TDI(0);",
                    {{0x2, 0, VC_TAP_RUN_TEST_IDLE}},
                    1},
        PlaybackRow{"RunTestAndExplicitPathsEndWhereTheySay",
                    &kOne,
                    "ENDDR DRPAUSE; SIR 4 TDI(2); SDR 16 TDI(00FF); RUNTEST DRPAUSE 100 TCK;"
                    "STATE DREXIT2 DRUPDATE IDLE; RUNTEST 10 TCK ENDSTATE IRPAUSE;",
                    {{0x2, 0x00FF, VC_TAP_PAUSE_IR}}}),
    [](const ::testing::TestParamInfo<PlaybackRow>& info) { return info.param.name; });

// A long compared scan through one BYPASS bit: the capturing shifts go in pieces of 65536 bytes,
// so a piece boundary that lost or doubled a bit would shift every later bit.
TEST_F(PlayerTest, LongComparedScansKeepEveryBitAcrossPieces) {
    SetChain(kOne);
    constexpr size_t kBits = 600000;
    Bits tdi(kBits);
    std::mt19937 random(7);
    for (size_t i = 0; i < kBits; ++i) tdi.Set(i, random() & 1);
    Bits expected(1);  // BYPASS captures 0, then the chain delays TDI by one bit
    expected.Append(tdi.Slice(0, kBits - 1));
    expected.Set(524290, !expected.Get(524290));
    Program program;
    ScanOp bypass;
    bypass.ir = true;
    bypass.tdi = Bits(4, true);
    ScanOp scan;
    scan.tdi = tdi;
    scan.expected = expected;
    program.ops = {{1, "SIR 4", bypass}, {2, "SDR 600000", scan}};
    PlayResult result;
    PlayOptions options;
    EXPECT_FALSE(PlayProgram(program, result, options));
    EXPECT_EQ(result.mismatches, 1u);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "2: SDR 600000: TDO mismatch (1 of 600000 bits differ), bits 524288 to "
              "524351: expected 0x" +
                  expected.Slice(524288, 64).ToHex() + ", actual 0x" +
                  tdi.Slice(524287, 64).ToHex() + ", mask 0xFFFFFFFFFFFFFFFF");
    EXPECT_EQ(vc_jtag_tap_state(0, 0), VC_TAP_RUN_TEST_IDLE);
}

// Unchecked scans never wait: a file of them goes out in one write, then the final pin read.
// TMS runs keep each write within the 60000-byte rule as data appends do.
TEST_F(PlayerTest, BatchesWritesWithinTheQueueRule) {
    SetChain(kThree);
    std::string scans;
    for (int i = 0; i < 200; ++i) scans += "SIR 19 TDI(7FFFF); SDR 3 TDI(5);";
    PlayResult result;
    ASSERT_TRUE(PlaySvf(scans, result));
    EXPECT_EQ(vc_log_count_entry("FT_Write"), 2u);

    vc_log_clear();
    std::string moves;
    for (int i = 0; i < 12000; ++i) moves += "STATE DRPAUSE; STATE IDLE;";
    ASSERT_TRUE(PlaySvf(moves, result));
    uint32_t writes = 0;
    for (uint32_t i = 0; i < vc_log_count(); ++i) {
        VcCall call{};
        vc_log_get(i, &call);
        if (std::string(call.entry) != "FT_Write") continue;
        ++writes;
        EXPECT_LE(call.transferred, 60000u);
    }
    EXPECT_EQ(writes, 3u);  // 72003 TMS bytes in two sends, and the pin read
    EXPECT_EQ(vc_jtag_tap_state(0, 2), VC_TAP_RUN_TEST_IDLE);
}

TEST_F(PlayerTest, RunTestTimesBecomeClocksOrPauses) {
    SetChain(kOne);
    const uint64_t before = vc_mpsse_tck_cycles(0);
    std::vector<double> pauses;
    PlayOptions options;
    options.pause = [&](double seconds) { pauses.push_back(seconds); };
    PlayResult result;
    ASSERT_TRUE(
        PlaySvf("FREQUENCY 1E6 HZ; RUNTEST 10 TCK 1E-3 SEC; RUNTEST 0.25 SEC;"
                "FREQUENCY 2.5E6 HZ;",
                result, options));
    // Five TMS ones to reset, one to Run-Test/Idle, 1 ms at 1 MHz.
    EXPECT_EQ(vc_mpsse_tck_cycles(0) - before, 5u + 1u + 1000u);
    EXPECT_EQ(pauses, std::vector<double>{0.25});
    EXPECT_EQ(vc_mpsse_divisor(0), 2);  // 2 MHz: the fastest not above 2.5 MHz
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], "1: FREQUENCY: TCK 2 MHz (divisor 2) for 2.5 MHz");

    ASSERT_FALSE(PlaySvf("FREQUENCY 1E6 HZ; RUNTEST 10000 TCK 1E-3 SEC MAXIMUM 2E-3 SEC;", result));
    EXPECT_EQ(result.call.Describe(), "RUNTEST cannot keep its MAXIMUM time");
}

// The file: XREPEAT `repeat`, XRUNTEST `waitUs`, XSIR of the user instruction (0x02, 4 bits),
// XSDRSIZE 16, XTDOMASK 0xFFFF, XSDRTDO of ones expecting `expected`, XCOMPLETE.
std::vector<uint8_t> RetryFile(uint8_t repeat, uint32_t waitUs, uint16_t expected) {
    return {0x07,
            repeat,
            0x04,
            static_cast<uint8_t>(waitUs >> 24),
            static_cast<uint8_t>(waitUs >> 16),
            static_cast<uint8_t>(waitUs >> 8),
            static_cast<uint8_t>(waitUs),
            0x02,
            0x04,
            0x02,
            0x08,
            0x00,
            0x00,
            0x00,
            0x10,
            0x01,
            0xFF,
            0xFF,
            0x09,
            0xFF,
            0xFF,
            static_cast<uint8_t>(expected >> 8),
            static_cast<uint8_t>(expected),
            0x00};
}

// XREPEAT on one device whose user register holds 0: XSIR selects it, XSDRTDO shifts ones and
// expects `expected`. A retry runs through Update-DR, which loads the ones just shifted, so a
// second attempt reads them back; a check for anything else never matches, and its retries end
// with XREPEAT or with the playback's retry time.
struct RetryRow {
    const char* name;
    uint8_t repeat;
    uint32_t waitUs;  // XRUNTEST
    uint16_t expected;
    double retrySeconds;
    uint64_t retries;
    uint64_t mismatches;
    const char* reportEnd;  // the mismatch report's last words, when there is one
};

class RetryTable : public PlayerTest, public ::testing::WithParamInterface<RetryRow> {};

TEST_P(RetryTable, RetriesEndAtTheRepeatCountOrTheTimeLimit) {
    const RetryRow& row = GetParam();
    SetChain(kOne);
    vc_jtag_set_user_register(0, 0, 0);
    const Program program = ParsedXsvf(RetryFile(row.repeat, row.waitUs, row.expected));
    PlayResult result;
    PlayOptions options;
    options.keepGoing = true;
    options.retrySeconds = row.retrySeconds;
    ASSERT_TRUE(PlayProgram(program, result, options));
    EXPECT_EQ(result.retries, row.retries);
    EXPECT_EQ(result.mismatches, row.mismatches);
    uint64_t user = 0;
    vc_jtag_user_register(0, 0, &user);
    EXPECT_EQ(user, 0xFFFFu);
    ASSERT_EQ(reports.size(), row.mismatches);
    if (!reports.empty()) {
        EXPECT_TRUE(reports[0].ends_with(row.reportEnd)) << reports[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RetryTable,
    ::testing::Values(
        RetryRow{"SecondAttemptMatches", 1, 100, 0xFFFF, kMaxRetrySeconds, 1, 0, ""},
        RetryRow{"NoRepeatNoRetry", 0, 100, 0xFFFF, kMaxRetrySeconds, 0, 1, "mask 0xFFFF"},
        RetryRow{"NeverMatchingUsesEveryRepeat", 3, 100, 0x1234, kMaxRetrySeconds, 3, 1,
                 "(after 3 retries)"},
        // Waits of 1 ms, each retry's a quarter longer than the last (1.25 ms first): ten of
        // them take 41.5 ms, an eleventh would bring them to 53.2 ms.
        RetryRow{"NeverMatchingStopsAtTheTimeLimit", 255, 1000, 0x1234, 0.05, 10, 1,
                 "(after 10 retries); no more retries: their waits would pass 0.05 s"},
        RetryRow{"NoTimeNoRetry", 255, 1000, 0x1234, 0, 0, 1,
                 "no more retries: their waits would pass 0 s"}),
    [](const ::testing::TestParamInfo<RetryRow>& info) { return info.param.name; });

// Queued captures of every shape of their tail, with TDI held low (JTAG_ReadTDO2) and with a
// pattern (the reading JTAG_WriteTDI2: a reply byte per whole byte and per tail bit): the user
// register's bits come out first, then the bits shifted in behind them.
TEST_F(PlayerTest, QueuedCapturesOfEveryTailLength) {
    SetChain(kOne);
    for (const bool pattern : {false, true}) {
        for (const size_t bits : {1, 2, 7, 8, 9, 15, 16, 17, 24, 25}) {
            vc_jtag_set_user_register(0, 0, 0xA5C3);
            ScanOp select;
            select.ir = true;
            select.tdi = Bits(4);
            select.tdi.Set(1, true);
            ScanOp read;
            read.tdi = Bits(bits);
            for (size_t i = 0; pattern && i < bits; ++i) read.tdi.Set(i, i % 3 == 0);
            read.capture = true;
            Program program;
            program.ops = {{1, "SIR 4", select}, {2, "SDR", read}};
            PlayResult result;
            PlayOptions options;
            ASSERT_TRUE(PlayProgram(program, result, options)) << result.call.Describe();
            ASSERT_EQ(result.captures.size(), 1u);
            Bits expected(bits);
            for (size_t i = 0; i < bits; ++i) {
                expected.Set(i, i < 16 ? (0xA5C3 >> i) & 1 : read.tdi.Get(i - 16));
            }
            EXPECT_EQ(result.captures[0].ToHex(), expected.ToHex())
                << bits << " bits" << (pattern ? ", a pattern" : "");
        }
    }
}

// The retry schedule as TCK periods at 1 MHz (a clock per microsecond), beside the same file
// without XREPEAT. Each retry clocks Pause-DR, Exit2-DR, Shift-DR (3), Exit1-DR, Update-DR,
// Run-Test/Idle (3), its wait, the way back into Shift-DR (3) and the 16 bits again. A retry
// grows the wait by a quarter (whole microseconds, rounded down) before it waits, and the wait
// after the last attempt is the grown one. Batched, the scan first goes out as if it passed (into
// Shift-DR, the bits, Update-DR, Run-Test/Idle and the wait: 3 + 16 + 2 + the wait), and the
// schedule follows from its shift as before.
TEST_F(PlayerTest, XsvfRetryScheduleGrowsEachWaitBeforeItIsWaited) {
    struct Row {
        uint8_t repeat;
        uint32_t waitUs;
        uint16_t expected;  // 0xFFFF matches on the second attempt, 0x1234 never
        std::vector<uint64_t> retryWaits;
    };
    const Row rows[] = {
        {1, 100, 0xFFFF, {125}},
        {3, 100, 0x1234, {125, 156, 195}},
        {2, 7, 0x1234, {8, 10}},
        {2, 3, 0x1234, {3, 3}},  // a quarter of 3 rounds down to nothing
    };
    SetChain(kOne);
    for (const Row& row : rows) {
        for (const bool batch : {false, true}) {
            uint64_t cycles[2] = {};
            for (const uint8_t repeat : {uint8_t{0}, row.repeat}) {
                vc_jtag_set_user_register(0, 0, 0);
                const Program program = ParsedXsvf(RetryFile(repeat, row.waitUs, row.expected));
                PlayResult result;
                PlayOptions options;
                options.keepGoing = true;
                options.batchChecks = batch;
                const uint64_t before = vc_mpsse_tck_cycles(0);
                ASSERT_TRUE(PlayProgram(program, result, options));
                EXPECT_EQ(result.retries, repeat ? row.retryWaits.size() : 0u);
                cycles[repeat ? 1 : 0] = vc_mpsse_tck_cycles(0) - before;
            }
            uint64_t extra = row.retryWaits.back() - row.waitUs;  // the longer wait after the scan
            for (const uint64_t wait : row.retryWaits) extra += 3 + 3 + wait + 3 + 16;
            if (batch) extra += 3 + 16 + 2 + row.waitUs;
            EXPECT_EQ(cycles[1] - cycles[0], extra)
                << "XREPEAT " << int(row.repeat) << ", XRUNTEST " << row.waitUs
                << (batch ? ", batched" : "");
        }
    }
}

TEST_F(PlayerTest, OneDeviceScansLeaveTheOthersInBypass) {
    SetChain(kFour);
    ChainMeasurement measured;
    CallResult call;
    ASSERT_TRUE(MeasureChain(measured, call)) << call.Describe();
    ChainLayout layout;
    std::string error;
    ASSERT_TRUE(ChooseIrLengths(measured, {}, layout, error)) << error;
    EXPECT_EQ(layout.irLengths, (std::vector<uint32_t>{2, 3, 8, 5}));

    Bits instruction;
    Bits value;
    ASSERT_TRUE(ParseValue("0x02", 8, instruction, error));
    ASSERT_TRUE(ParseValue("0x12345678AB", 40, value, error));
    Program program;
    program.ops = {{0, "ir", OneDeviceIr(layout, 2, instruction)},
                   {0, "dr", OneDeviceDr(layout, 2, value)}};
    PlayResult result;
    PlayOptions options;
    ASSERT_TRUE(PlayProgram(program, result, options));
    uint64_t user = 0;
    vc_jtag_user_register(0, 2, &user);
    EXPECT_EQ(user, 0x12345678ABu);
    const uint32_t bypass[] = {0x3, 0x7, 0x02, 0x1F};
    for (int d = 0; d < 4; ++d) {
        uint32_t ir = 0;
        vc_jtag_instruction(0, d, &ir);
        EXPECT_EQ(ir, bypass[d]) << "device " << d;
    }
    EXPECT_EQ(DeviceBits(layout, 2, true, result.captures[0]).ToHex(), "01");
    EXPECT_EQ(DeviceBits(layout, 2, false, result.captures[1]).ToHex(), "0000000000");

    EXPECT_FALSE(ChooseIrLengths(measured, {2, 3, 8, 6}, layout, error));
    EXPECT_EQ(error,
              "--ir-lengths 2,3,8,6 do not fit the chain: it has 4 device(s) and 18 "
              "instruction bits in all");
}

TEST(IrSplits, OnlyAPatternThatSplitsOneWayGivesLengths) {
    struct Row {
        const char* capture;  // first bit out first
        size_t devices;
        std::vector<std::vector<uint32_t>> splits;
    };
    const Row rows[] = {
        {"10"
         "1000",
         2,
         {{4, 2}}},
        {"10101010", 2, {{6, 2}, {4, 4}}},  // more than one way (limit 2)
        {"0110", 1, {}},                    // does not start with 1, 0
        {"1011", 2, {}},
    };
    for (const Row& row : rows) {
        Bits capture(std::string(row.capture).size());
        for (size_t i = 0; i < capture.size(); ++i) capture.Set(i, row.capture[i] == '1');
        EXPECT_EQ(IrSplits(capture, row.devices), row.splits) << row.capture;
    }
}

TEST(Frequency, FastestDivisorNotAboveTheRate) {
    const std::pair<double, uint32_t> rows[] = {{30e6, 0}, {6e6, 0},     {5.9e6, 1}, {2.5e6, 2},
                                                {1e6, 5},  {6e6 / 7, 6}, {10, 65535}};
    for (const auto& [hz, divisor] : rows) EXPECT_EQ(DivisorFor(hz), divisor) << hz;
}

}  // namespace
}  // namespace kestrel::jtag

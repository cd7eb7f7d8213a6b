// Checks that wait for nothing go out as queued captures and are compared when their replies are
// collected together: the same verdicts, reports and chain states as collecting each one at once,
// in fewer reads. Also TRST, and the totals that dry runs and progress bars show.
#include <gtest/gtest.h>

#include "player_fixture.h"

namespace kestrel::jtag {
namespace {

vc_jtag_device Device(int irLength, uint32_t idcode, int userLength) {
    return {irLength, idcode, 0x01, 0x02, userLength};
}
const std::vector<vc_jtag_device> kOne = {Device(4, 0x2A5C3093, 16)};
const std::vector<vc_jtag_device> kThree = {Device(4, 0x0BA00477, 32), Device(10, 0x13631093, 32),
                                            Device(5, 0x41111043, 16)};

// `count` read-backs of the user register, one command a line, TDI all ones and all zeros in
// turn; each loads what it shifted, so the next expects it. Line `wrongAt` expects 0x1234.
std::string VerifyRun(int count, int wrongAt) {
    std::string svf = "SIR 4 TDI(2);\nSDR 16 TDI(BEEF);\n";
    std::string last = "BEEF";
    for (int i = 0; i < count; ++i) {
        const std::string tdi = i % 2 ? "0000" : "FFFF";
        const int line = 3 + i;
        svf += "SDR 16 TDI(" + tdi + ") TDO(" + (line == wrongAt ? "1234" : last) + ");\n";
        last = tdi;
    }
    return svf;
}

struct Outcome {
    bool completed;
    PlayResult result;
    std::vector<std::string> reports;
    std::vector<int> taps;
    std::vector<uint64_t> users;
    uint64_t cycles;
    uint32_t reads;
};

struct BatchRow {
    const char* name;
    const std::vector<vc_jtag_device>* chain;
    std::string svf;
    bool keepGoing;
    uint64_t mismatches;
    const char* firstReport;  // the first mismatch line, or ""
};

class BatchTable : public PlayerTest, public ::testing::WithParamInterface<BatchRow> {
  protected:
    Outcome PlayOnce(bool batch) {
        const BatchRow& row = GetParam();
        SetChain(*row.chain);
        vc_log_clear();
        reports.clear();
        Outcome out{};
        const uint64_t before = vc_mpsse_tck_cycles(0);
        PlayOptions options;
        options.keepGoing = row.keepGoing;
        options.batchChecks = batch;
        options.pause = [](double) {};
        out.completed = PlaySvf(row.svf, out.result, options);
        out.cycles = vc_mpsse_tck_cycles(0) - before;
        out.reads = vc_log_count_entry("FT_Read");
        out.reports = reports;
        for (int d = 0; d < vc_jtag_device_count(0); ++d) {
            uint64_t user = 0;
            vc_jtag_user_register(0, d, &user);
            out.users.push_back(user);
            out.taps.push_back(vc_jtag_tap_state(0, d));
        }
        return out;
    }
};

TEST_P(BatchTable, BatchedAndUnbatchedPlaybackAgree) {
    const BatchRow& row = GetParam();
    const Outcome batched = PlayOnce(true);
    const Outcome single = PlayOnce(false);
    EXPECT_EQ(batched.completed, row.keepGoing);
    EXPECT_EQ(batched.completed, single.completed);
    EXPECT_EQ(batched.result.mismatches, row.mismatches);
    EXPECT_EQ(single.result.mismatches, row.mismatches);
    EXPECT_EQ(batched.result.stoppedAt, single.result.stoppedAt);
    EXPECT_EQ(batched.reports, single.reports);
    if (row.mismatches > 0) {
        ASSERT_FALSE(batched.reports.empty());
        EXPECT_TRUE(batched.reports[0].starts_with(row.firstReport)) << batched.reports[0];
    }
    // Playing on to the end, both clock the same path and leave the same registers.
    if (row.keepGoing) {
        EXPECT_EQ(batched.result.checks, single.result.checks);
        EXPECT_EQ(batched.cycles, single.cycles);
        EXPECT_EQ(batched.taps, single.taps);
        EXPECT_EQ(batched.users, single.users);
        EXPECT_LT(batched.reads, single.reads);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BatchTable,
    ::testing::Values(
        BatchRow{"VerifyRunPasses", &kOne, VerifyRun(40, 0), true, 0, ""},
        BatchRow{"MismatchInsideTheBatchCounted", &kOne, VerifyRun(40, 17), true, 1,
                 "17: SDR 16: TDO mismatch: expected 0x1234, actual 0x"},
        // Without --continue both stop at the mismatch and name its own line, though the batched
        // playback learns of it only when the batch's replies come back.
        BatchRow{"MismatchInsideTheBatchStops", &kOne, VerifyRun(40, 23), false, 1,
                 "23: SDR 16: TDO mismatch: expected 0x1234, actual 0x"},
        // A pattern (the capturing shift) and a pause collect what is queued before them; the
        // padding bits of a three-device chain take the level of the TDI around them.
        BatchRow{"PatternsAndPausesBetweenQueuedChecks", &kThree,
                 "HIR 5 TDI(1F);\nTIR 4 TDI(F);\nHDR 1 TDI(0) SMASK(0);\nTDR 1 TDI(0) SMASK(0);\n"
                 "SIR 10 TDI(002);\nSDR 32 TDI(ABCDEF01);\nSDR 32 TDI(0) TDO(ABCDEF01);\n"
                 "SDR 32 TDI(12345678) TDO(00000000);\nRUNTEST 1E-3 SEC;\n"
                 "SDR 32 TDI(FFFFFFFF) TDO(12345678);\nSDR 32 TDI(0) TDO(FFFFFFFE);\n",
                 true, 1, "11: SDR 32: TDO mismatch: expected 0xFFFFFFFE, actual 0xFFFFFFFF"}),
    [](const ::testing::TestParamInfo<BatchRow>& info) { return info.param.name; });

// XSVF scans with retries (XREPEAT 2, XRUNTEST 100 us) through the user register, which captures
// what the last Update-DR loaded: scan i shifts 0x1111 x (i + 1) and expects the one before, but
// scan `wrongAt` expects 0x1234 and never matches. XSIR selects the register and waits in
// Run-Test/Idle, where the run starts.
std::vector<uint8_t> RetryRun(int count, int wrongAt) {
    std::vector<uint8_t> file = {0x07, 2,    0x04, 0, 0, 0,  100,  0x02, 4,
                                 0x02, 0x08, 0,    0, 0, 16, 0x01, 0xFF, 0xFF};
    uint16_t last = 0;
    for (int i = 0; i < count; ++i) {
        const auto tdi = static_cast<uint16_t>(0x1111 * (i + 1));
        const uint16_t expected = i == wrongAt ? 0x1234 : last;
        file.insert(file.end(),
                    {0x09, static_cast<uint8_t>(tdi >> 8), static_cast<uint8_t>(tdi),
                     static_cast<uint8_t>(expected >> 8), static_cast<uint8_t>(expected)});
        last = tdi;
    }
    file.push_back(0x00);
    return file;
}

// The host's side of the wire as the engine decoded it (what the chain answered left out).
std::vector<std::string> HostWire(const std::vector<std::string>& trace) {
    std::vector<std::string> wire;
    for (const std::string& line : trace) wire.push_back(line.substr(0, line.find(" reply=")));
    return wire;
}

// Batched, the run's scans go out as if each check passed and are judged together; the failed
// one is played again from its shift, retries and all, and the scans after it again too. So the
// batched wire is the one-by-one wire with one block in it, the speculative attempts of the
// failed scan and those after it (into Shift-DR, 16 bits, Update-DR, Run-Test/Idle and 100 us
// each: 121 TCK), and the verdicts, retries, reports and the register's end value are the same.
TEST_F(PlayerTest, SpeculativeScansAreRedoneFromTheFailedOne) {
    constexpr int kScans = 4;
    SetChain(kOne);
    for (const int wrongAt : {0, 1, kScans - 1}) {
        for (const bool keepGoing : {true, false}) {
            SCOPED_TRACE("scan " + std::to_string(wrongAt) + (keepGoing ? ", --continue" : ""));
            const Program program = ParsedXsvf(RetryRun(kScans, wrongAt));
            struct Run {
                bool completed;
                PlayResult result;
                std::vector<std::string> reports, wire;
                uint64_t cycles, user;
            } runs[2];
            for (const bool batch : {false, true}) {
                Run& run = runs[batch];
                vc_jtag_set_user_register(0, 0, 0);
                reports.clear();
                std::vector<std::string> trace;
                vc_mpsse_set_trace(
                    0,
                    [](void* lines, const char* line) {
                        static_cast<std::vector<std::string>*>(lines)->push_back(line);
                    },
                    &trace);
                const uint64_t before = vc_mpsse_tck_cycles(0);
                PlayOptions options;
                options.keepGoing = keepGoing;
                options.batchChecks = batch;
                run.completed = PlayProgram(program, run.result, options);
                vc_mpsse_set_trace(0, nullptr, nullptr);
                run.cycles = vc_mpsse_tck_cycles(0) - before;
                run.reports = reports;
                run.wire = HostWire(trace);
                vc_jtag_user_register(0, 0, &run.user);
            }
            const Run& single = runs[0];
            const Run& batched = runs[1];
            EXPECT_EQ(batched.completed, keepGoing);
            EXPECT_EQ(batched.completed, single.completed);
            EXPECT_EQ(batched.result.retries, 2u);
            EXPECT_EQ(single.result.retries, 2u);
            EXPECT_EQ(batched.result.mismatches, 1u);
            EXPECT_EQ(batched.result.stoppedAt, single.result.stoppedAt);
            EXPECT_EQ(batched.reports, single.reports);
            EXPECT_EQ(batched.user, single.user);
            EXPECT_EQ(batched.result.scans, single.result.scans);
            EXPECT_EQ(batched.cycles - single.cycles, (kScans - wrongAt) * 121u);
            // The one-by-one wire is the batched one less a block: their common start and end
            // cover it.
            const std::vector<std::string>& a = single.wire;
            const std::vector<std::string>& b = batched.wire;
            ASSERT_GE(b.size(), a.size());
            size_t head = 0, tail = 0;
            while (head < a.size() && a[head] == b[head]) ++head;
            while (tail < a.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
                ++tail;
            EXPECT_EQ(head + tail, a.size());
        }
    }
}

// TRST ON pulses the cable's reset line when it is wired to the chain (the pulse resets the
// devices' data registers here) and otherwise resets through TMS alone; either way the chain
// ends in Test-Logic-Reset. OFF, Z and ABSENT are accepted.
TEST_F(PlayerTest, TrstWithAndWithoutAWiredResetLine) {
    struct Row {
        const char* svf;
        bool wired;
        uint64_t user;  // after the command, from 0xBEEF before it
        const char* report;
    };
    const Row rows[] = {
        {"TRST ON;", true, 0,
         "3: TRST: TRST ON: pulsed the cable's reset line, then Test-Logic-Reset"},
        {"TRST ON;", false, 0xBEEF,
         "3: TRST: TRST ON: no reset line wired to the chain; Test-Logic-Reset through TMS"},
        {"TRST OFF;", true, 0xBEEF, "3: TRST: TRST OFF: the test reset is released"},
        {"TRST Z;", false, 0xBEEF, "3: TRST: TRST Z: the reset line is left undriven"},
        {"TRST ABSENT;", false, 0xBEEF, "3: TRST: TRST ABSENT: the chain has no test reset"},
    };
    SetChain(kOne);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.svf);
        vc_jtag_set_user_register(0, 0, 0xBEEF);
        reports.clear();
        PlayOptions options;
        options.trstWired = row.wired;
        PlayResult result;
        ASSERT_TRUE(
            PlaySvf("SIR 4 TDI(2);\nSDR 16 TDI(BEEF);\n" + std::string(row.svf), result, options))
            << result.call.Describe();
        uint64_t user = 0;
        vc_jtag_user_register(0, 0, &user);
        EXPECT_EQ(user, row.user);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0], row.report);
        const bool resets = std::string(row.svf) == "TRST ON;";
        EXPECT_EQ(vc_jtag_tap_state(0, 0), resets ? VC_TAP_TEST_LOGIC_RESET : VC_TAP_RUN_TEST_IDLE);
    }
}

// XRUNTEST waits belong to the totals: 5 ms after the XSIR and after each of two XSDRTDOs, at
// 1 MHz 5000 clocks each besides the 4 + 16 + 16 shifted bits. The progress the player reports
// ends at the same total.
TEST_F(PlayerTest, TotalsAndProgressCountTheXruntestWaits) {
    SetChain(kOne);
    const std::vector<uint8_t> file = {0x04, 0x00, 0x00, 0x13, 0x88, 0x02, 0x04, 0x02,
                                       0x08, 0x00, 0x00, 0x00, 0x10, 0x09, 0x00, 0x00,
                                       0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00};
    Program program;
    ParseError error;
    ASSERT_TRUE(ParseXsvf(file, program, error)) << error.message;
    EXPECT_DOUBLE_EQ(Totals(program).runSeconds, 0.015);
    EXPECT_EQ(ProgressTotal(program, 5), 3 * 5000u + 4 + 16 + 16);
    EXPECT_EQ(ProgressTotal(program, 11), 3 * 2500u + 4 + 16 + 16);  // 500 kHz
    uint64_t done = 0;
    uint64_t total = 0;
    PlayOptions options;
    options.progress = [&](uint64_t d, uint64_t t) { done = d, total = t; };
    PlayResult result;
    ASSERT_TRUE(PlayProgram(program, result, options)) << result.call.Describe();
    EXPECT_EQ(total, ProgressTotal(program, 5));
    EXPECT_EQ(done, total);
}

}  // namespace
}  // namespace kestrel::jtag

// Fault rules: n-th call once or from then on, short writes, unplug and injection at a call.
#include "vcable_fixture.h"

using namespace vcable;

namespace {

class FaultsTest : public VcableTest {};

// Statuses of `calls` successive FT_SetLatencyTimer calls on an open channel.
std::vector<uint32_t> LatencyStatuses(void* handle, int calls) {
    std::vector<uint32_t> statuses;
    for (int i = 0; i < calls; ++i) statuses.push_back(FT_SetLatencyTimer(handle, 2));
    return statuses;
}

TEST_F(FaultsTest, FailRulesActOnTheNthCallOnceOrFromThenOn) {
    struct Row {
        const char* name;
        uint32_t nth;
        int persistent;
        std::vector<uint32_t> expected;
    };
    const Row rows[] = {
        {"first once", 1, 0, {4, 0, 0, 0}},
        {"third once", 3, 0, {0, 0, 4, 0}},
        {"second on", 2, 1, {0, 4, 4, 4}},
    };
    for (const Row& row : rows) {
        vc_reset();
        void* a = OpenAt(0x0211);
        int rule = vc_fault_fail("FT_SetLatencyTimer", row.nth, kFtIoError, row.persistent);
        ASSERT_GE(rule, 0);
        EXPECT_EQ(LatencyStatuses(a, 4), row.expected) << row.name;
        uint32_t failures = 0;
        for (uint32_t s : row.expected) failures += s != 0;
        EXPECT_EQ(vc_fault_hits(rule), failures) << row.name;
    }
}

TEST_F(FaultsTest, CallsAreCountedFromTheRulesCreationAndPerEntryPoint) {
    void* a = OpenAt(0x0211);
    LatencyStatuses(a, 3);  // before the rule: not counted
    vc_fault_fail("FT_SetLatencyTimer", 2, kFtOtherError, 0);
    uint32_t rx = 0;
    EXPECT_EQ(FT_GetQueueStatus(a, &rx), kFtOk);  // other entry points do not count
    EXPECT_EQ(LatencyStatuses(a, 2), (std::vector<uint32_t>{0, kFtOtherError}));
}

TEST_F(FaultsTest, FailedCallHasNoEffect) {
    void* a = OpenAt(0x0211);
    vc_fault_fail("FT_SetBitMode", 1, kFtIoError, 0);
    EXPECT_EQ(FT_SetBitMode(a, 0, kBitModeMpsse), kFtIoError);
    VcChannelSettings s;
    vc_channel_settings(0, 0, &s);
    EXPECT_EQ(s.bit_mode, kBitModeReset);
    // A failed open hands out no handle and leaves the channel closed.
    vc_fault_fail("FT_OpenEx", 1, kFtDeviceNotFound, 0);
    void* b = nullptr;
    EXPECT_EQ(FT_OpenEx(reinterpret_cast<void*>(uintptr_t{0x0212}), kOpenByLocation, &b),
              kFtDeviceNotFound);
    EXPECT_EQ(b, nullptr);
    vc_channel_settings(0, 1, &s);
    EXPECT_EQ(s.open, 0);
}

TEST_F(FaultsTest, ShortWriteAcceptsOnlyTheFirstBytes) {
    void* a = OpenAt(0x0211);
    FT_SetBitMode(a, 0, kBitModeMpsse);
    vc_fault_short_write(2, 1);
    uint8_t bytes[] = {0xAA, 0xAB};
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(a, bytes, 2, &written), kFtOk);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(FT_Write(a, bytes, 2, &written), kFtOk);
    EXPECT_EQ(written, 1u);
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xAA, 0xAB, 0xAA}), TxCapture(0, 0));
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xFA, 0xAA, 0xFA, 0xAB, 0xFA, 0xAA}), ReadAll(a));
}

TEST_F(FaultsTest, UnplugAtACallMakesThatCallFail) {
    void* a = OpenAt(0x0211);
    vc_fault_unplug("FT_Write", 1, 0);
    uint8_t byte = 0xAA;
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(a, &byte, 1, &written), kFtIoError);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(ListDevices().empty());
}

TEST_F(FaultsTest, InjectionLandsBeforeTheNthCallRuns) {
    void* a = OpenAt(0x0211);
    uint8_t stale[] = {0x11, 0x22};
    vc_fault_inject_rx("FT_GetQueueStatus", 2, 0, 0, stale, 2);
    uint32_t rx = 0;
    EXPECT_EQ(FT_GetQueueStatus(a, &rx), kFtOk);
    EXPECT_EQ(rx, 0u);
    EXPECT_EQ(FT_GetQueueStatus(a, &rx), kFtOk);
    EXPECT_EQ(rx, 2u);
}

TEST_F(FaultsTest, RulesOnUnknownNamesOrZerothCallsAreRefused) {
    EXPECT_EQ(vc_fault_fail("FT_Nonexistent", 1, 4, 0), -1);
    EXPECT_EQ(vc_fault_fail("FT_Write", 0, 4, 0), -1);
    EXPECT_EQ(vc_fault_unplug(nullptr, 1, 0), -1);
}

TEST_F(FaultsTest, ResetAndClearRemoveRules) {
    vc_fault_fail("FT_Rescan", 1, kFtIoError, 1);
    EXPECT_EQ(FT_Rescan(), kFtIoError);
    vc_fault_clear();
    EXPECT_EQ(FT_Rescan(), kFtOk);
    vc_fault_fail("FT_Rescan", 1, kFtIoError, 1);
    vc_reset();
    EXPECT_EQ(FT_Rescan(), kFtOk);
}

}  // namespace

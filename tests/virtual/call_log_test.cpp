// The call log: what is recorded for each call, including failed and faulted ones.
#include "vcable_fixture.h"

using namespace vcable;

namespace {

class CallLogTest : public VcableTest {};

VcCall Get(uint32_t index) {
    VcCall call{};
    EXPECT_EQ(vc_log_get(index, &call), 0);
    return call;
}

std::vector<uint8_t> DataOf(const VcCall& call) {
    return {call.data, call.data + call.data_length};
}

TEST_F(CallLogTest, RecordsNamesHandlesArgumentsAndStatuses) {
    void* a = OpenAt(0x0211);
    FT_SetBitMode(a, 0x0B, kBitModeMpsse);
    FT_SetBaudRate(a, 0);
    ASSERT_EQ(vc_log_count(), 3u);

    VcCall open = Get(0);
    EXPECT_STREQ(open.entry, "FT_OpenEx");
    EXPECT_EQ(open.entry_index, 2u);  // in the resolution order, FT_ListDevices 0 to FT_Reload 37
    EXPECT_STREQ(vc_entry_name(37), "FT_Reload");
    EXPECT_EQ(vc_entry_name(38), nullptr);
    EXPECT_EQ(open.handle, nullptr);
    ASSERT_EQ(open.arg_count, 2u);
    EXPECT_EQ(open.args[0], 0x0211u);
    EXPECT_EQ(open.args[1], kOpenByLocation);

    VcCall mode = Get(1);
    EXPECT_STREQ(mode.entry, "FT_SetBitMode");
    EXPECT_EQ(mode.handle, a);
    EXPECT_EQ(mode.args[0], 0x0Bu);
    EXPECT_EQ(mode.args[1], kBitModeMpsse);
    EXPECT_EQ(mode.status, kFtOk);

    VcCall baud = Get(2);
    EXPECT_EQ(baud.status, kFtInvalidBaudRate);
    EXPECT_EQ(baud.faulted, 0);
    EXPECT_EQ(vc_log_get(3, &baud), -1);
}

TEST_F(CallLogTest, RecordsBytesWrittenAndRead) {
    void* a = OpenAt(0x0211);
    FT_SetBitMode(a, 0, kBitModeMpsse);
    vc_log_clear();
    uint8_t command[] = {0xAA, 0xAB};
    uint32_t n = 0;
    FT_Write(a, command, 2, &n);
    uint8_t reply[8] = {};
    FT_Read(a, reply, 8, &n);

    VcCall write = Get(0);
    EXPECT_EQ(write.args[0], 2u);
    EXPECT_EQ(write.transferred, 2u);
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xAA, 0xAB}), DataOf(write));
    VcCall read = Get(1);
    EXPECT_EQ(read.args[0], 8u);
    EXPECT_EQ(read.transferred, 4u);
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0xFA, 0xAA, 0xFA, 0xAB}), DataOf(read));
}

TEST_F(CallLogTest, FaultedCallsAreRecordedWithTheirArgumentsAndInjectedStatus) {
    void* a = OpenAt(0x0211);
    vc_fault_fail("FT_Write", 1, kFtIoError, 0);
    vc_fault_short_write(2, 1);
    uint8_t bytes[] = {0x80, 0xFA, 0xCB};
    uint32_t n = 0;
    FT_Write(a, bytes, 3, &n);
    FT_Write(a, bytes, 3, &n);
    VcCall failed = Get(1);
    EXPECT_EQ(failed.status, kFtIoError);
    EXPECT_EQ(failed.faulted, 1);
    EXPECT_BYTES_EQ((std::vector<uint8_t>{0x80, 0xFA, 0xCB}), DataOf(failed));
    VcCall shortened = Get(2);
    EXPECT_EQ(shortened.status, kFtOk);
    EXPECT_EQ(shortened.faulted, 1);
    EXPECT_EQ(shortened.transferred, 1u);
}

TEST_F(CallLogTest, CallsOnBadHandlesAndPerEntryCountsAreRecorded) {
    void* bogus = reinterpret_cast<void*>(uintptr_t{0x1234});
    FT_Close(bogus);
    FT_Rescan();
    FT_Rescan();
    EXPECT_EQ(vc_log_count_entry("FT_Rescan"), 2u);
    EXPECT_EQ(vc_log_count_entry("FT_Close"), 1u);
    EXPECT_EQ(vc_log_count_entry("FT_Bogus"), 0u);
    EXPECT_EQ(Get(0).handle, bogus);
    EXPECT_EQ(Get(0).status, kFtInvalidHandle);
}

TEST_F(CallLogTest, WrittenDataIsCappedPerCall) {
    void* a = OpenAt(0x0211);
    std::vector<uint8_t> big(10000, 0x5A);
    uint32_t n = 0;
    FT_Write(a, big.data(), static_cast<uint32_t>(big.size()), &n);
    VcCall write = Get(1);
    EXPECT_EQ(write.transferred, 10000u);
    EXPECT_EQ(write.data_length, 4096u);
    EXPECT_EQ(vc_tx_size(0, 0), 10000u);
}

}  // namespace

// OpenDevice: the bring-up bytes the cable receives, the state it leaves, and the result code of
// every failing step.
#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "mpsse/stream.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class OpenDeviceTest : public LibraryTest {};

TEST_F(OpenDeviceTest, BringsChannelAUpAndOpensChannelB) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    EXPECT_BYTES((Bytes{0xAA, 0x80, 0xFA, 0xCB, 0x85, 0x86, 0x05, 0x00}), WrittenToChannelA());
    VcChannelSettings a{}, b{};
    ASSERT_EQ(vc_channel_settings(0, 0, &a), 0);
    ASSERT_EQ(vc_channel_settings(0, 1, &b), 0);
    EXPECT_EQ(a.bit_mode, 2);
    EXPECT_EQ(a.latency_ms, 2);
    EXPECT_EQ(a.resets, 1u);
    EXPECT_TRUE(b.open);
    EXPECT_EQ(b.resets, 0u);
    EXPECT_EQ(binding::CurrentHandle(), a.handle);
    EXPECT_TRUE(connection::ConnectionOpen());
    EXPECT_EQ(mpsse::Pins().lowValue, 0xFA);
    EXPECT_EQ(mpsse::Pins().lowDirection, 0xCB);
    EXPECT_EQ(mpsse::Pins().clockDivisor, 5u);
    EXPECT_EQ(vc_rx_pending(0, 0), 0u);
    ASSERT_FALSE(Pauses().empty());
    for (uint32_t pause : Pauses()) EXPECT_EQ(pause, 20u);
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(OpenDeviceTest, DropsQueuedCommandsOfTheLastConnection) {
    const uint8_t tms = 0x1F;
    ASSERT_EQ(JTAG_WriteTMS(4, &tms), rc::kTransferOk);
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    EXPECT_EQ(mpsse::QueuedBytes(), 0u);
    EXPECT_EQ(WrittenToChannelA().front(), 0xAA);
}

TEST_F(OpenDeviceTest, SecondOpenClosesOnlyTheCurrentHandle) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    ForgetTraffic();
    // Channel B of the first connection stays open, so the vendor library refuses to open it
    // again: the second open gets as far as channel B and fails there.
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenChannelBFailed);
    EXPECT_EQ(CallsOf("FT_Close").size(), 1u);
    EXPECT_EQ(CallsOf("FT_OpenEx").size(), 2u);
}

TEST_F(OpenDeviceTest, PurgesStaleBytesInBufferSizedBlocks) {
    std::vector<uint8_t> stale(2 * 131072 + 100, 0x55);
    ASSERT_GE(vc_fault_inject_rx("FT_GetQueueStatus", 2, 0, 0, stale.data(),
                                 static_cast<uint32_t>(stale.size())),
              0);
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    auto reads = CallsOf("FT_Read");
    ASSERT_GE(reads.size(), 4u);
    EXPECT_EQ(reads[0].transferred, 131072u);
    EXPECT_EQ(reads[1].transferred, 131072u);
    EXPECT_EQ(reads[2].transferred, 100u);
    EXPECT_EQ(CallsOf("FT_Write")[0].transferred, 1u);  // 0xAA only after the purge
}

TEST_F(OpenDeviceTest, DivisorAboveSixteenBitsFailsAfterThePins) {
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 0x10000), rc::kOpenClockFailed);
    EXPECT_BYTES((Bytes{0xAA, 0x80, 0xFA, 0xCB, 0x85}), WrittenToChannelA());
    EXPECT_EQ(mpsse::Pins().clockDivisor, 0x10000u);
    EXPECT_TRUE(connection::ConnectionOpen());
}

TEST_F(OpenDeviceTest, FinalPollMustSucceedAndFindNothing) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    const uint32_t finalPoll = static_cast<uint32_t>(CallsOf("FT_GetQueueStatus").size());
    const uint8_t stray = 0x00;

    CloseDevice();
    vc_reset();
    vc_fault_inject_rx("FT_GetQueueStatus", finalPoll, 0, 0, &stray, 1);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5),
              rc::kOpenBytesAfterClock);  // every vendor call succeeded

    CloseDevice();
    vc_reset();
    vc_fault_fail("FT_GetQueueStatus", finalPoll, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenBytesAfterClock);
    EXPECT_TRUE(connection::ConnectionOpen());
}

TEST_F(OpenDeviceTest, DiscoveryResults) {
    EXPECT_EQ(OpenDevice(u"NOPE", u"", 5), rc::kOpenNoMatch);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK A", u"", 5), rc::kOpenNotOnePair);
    EXPECT_EQ(OpenDevice(u"zv7300lnk", u"", 5), rc::kOpenNoMatch);
    vc_add_cable("ZV7300LNK", "ZV2", 1);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenNotOnePair);
    vc_clear_devices();
    EXPECT_EQ(OpenDevice(u"", u"", 5), rc::kOpenNoDevice);
    EXPECT_EQ(CallsOf("FT_OpenEx").size(), 0u);
}

TEST_F(OpenDeviceTest, WithoutTheVendorLibraryEveryCallGivesStatusOne) {
    UnLoadD2XXDLL();
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenRescanFailed);
    connection::SetConnectionOpen(true);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenStaleCloseFailed);
    EXPECT_FALSE(connection::ConnectionOpen());
}

TEST_F(OpenDeviceTest, EchoReadFailureIsReported) {
    vc_fault_fail("FT_Read", 1, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenNoEcho);
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_EQ(MessageBoxes()[0], u"FT_Read - General IO Error");
}

// One row per failing step: the entry point, which of its calls fails, and OpenDevice's result.
struct OpenFault {
    const char* entry;
    uint32_t nth;
    int result;
    bool connectionOpenAfter;
};

class OpenFaultTest : public LibraryTest, public ::testing::WithParamInterface<OpenFault> {};

TEST_P(OpenFaultTest, GivesTheStepsResult) {
    const OpenFault& row = GetParam();
    ASSERT_GE(vc_fault_fail(row.entry, row.nth, 4, 0), 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), row.result);
    EXPECT_EQ(connection::ConnectionOpen(), row.connectionOpenAfter);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenFaultTest,
    ::testing::Values(OpenFault{"FT_Rescan", 1, rc::kOpenRescanFailed, false},
                      OpenFault{"FT_CreateDeviceInfoList", 1, rc::kOpenNoDevice, false},
                      OpenFault{"FT_GetDeviceInfoList", 1, rc::kOpenListNotFetched, false},
                      OpenFault{"FT_OpenEx", 1, rc::kOpenChannelAFailed, false},
                      OpenFault{"FT_ResetDevice", 1, rc::kOpenChannelAResetFailed, false},
                      OpenFault{"FT_GetQueueStatus", 1, rc::kOpenChannelAPollFailed, false},
                      OpenFault{"FT_SetLatencyTimer", 1, rc::kOpenChannelALatencyFailed, true},
                      OpenFault{"FT_SetBitMode", 1, rc::kOpenChannelABitModeFailed, true},
                      OpenFault{"FT_SetBitMode", 2, rc::kOpenMpsseModeFailed, true},
                      OpenFault{"FT_GetQueueStatus", 2, rc::kOpenNoEcho, true},
                      OpenFault{"FT_Write", 1, rc::kOpenNoEcho, true},
                      OpenFault{"FT_Write", 2, rc::kOpenPinCommandFailed, true},
                      OpenFault{"FT_Write", 3, rc::kOpenClockFailed, true},
                      OpenFault{"FT_OpenEx", 2, rc::kOpenChannelBFailed, true}));

TEST_F(OpenDeviceTest, FailedStaleCloseGivesOne) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    vc_fault_fail("FT_Close", 1, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenStaleCloseFailed);
    EXPECT_FALSE(connection::ConnectionOpen());
}

}  // namespace
}  // namespace kl::testing

// Finding the cable's two channels in the device list, opening them by location, switching
// between them and closing them.
#include <string>

#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

class DiscoveryTest : public LibraryTest {};

void* ChannelHandle(int device, int channel) {
    VcChannelSettings settings{};
    vc_channel_settings(device, channel, &settings);
    return settings.open ? settings.handle : nullptr;
}

struct Attached {
    const char* name;
    void (*attach)();
    const char16_t* description;
    const char16_t* serial;
    int expected;
};

class PairingTest : public LibraryTest, public ::testing::WithParamInterface<Attached> {};

TEST_P(PairingTest, OpenDeviceFindsExactlyTwoMatches) {
    vc_clear_devices();
    GetParam().attach();
    EXPECT_EQ(OpenDevice(GetParam().description, GetParam().serial, 5), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, PairingTest,
    ::testing::Values(Attached{"NoDevice", [] {}, u"ZV7300LNK", u"", rc::kOpenNoDevice},
                      Attached{"OneCable", [] { vc_add_cable("ZV7300LNK", "ZV000001", 1); },
                               u"ZV7300LNK", u"", rc::kOpenOk},
                      Attached{"EmptyPartsMatchTheOnlyChip", [] { vc_add_cable("Other", "X1", 1); },
                               u"", u"", rc::kOpenOk},
                      Attached{"TwoIdenticalCables",
                               [] {
                                   vc_add_cable("ZV7300LNK", "ZV000001", 1);
                                   vc_add_cable("ZV7300LNK", "ZV000002", 1);
                               },
                               u"ZV7300LNK", u"", rc::kOpenNotOnePair},
                      Attached{"SerialPartPicksOneOfTwo",
                               [] {
                                   vc_add_cable("ZV7300LNK", "ZV000001", 1);
                                   vc_add_cable("ZV7300LNK", "ZV000002", 1);
                               },
                               u"ZV7300LNK", u"ZV000002", rc::kOpenOk},
                      Attached{"OnlyChannelAMatches",
                               [] { vc_add_cable("ZV7300LNK", "ZV000001", 1); }, u"ZV7300LNK A",
                               u"", rc::kOpenNotOnePair},
                      Attached{"CaseSensitive", [] { vc_add_cable("ZV7300LNK", "ZV000001", 1); },
                               u"zv7300lnk", u"", rc::kOpenNoMatch},
                      Attached{"OneSingleChannelDevice",
                               [] { vc_add_single("ZV7300LNK A", "ZV1"); }, u"ZV7300LNK", u"",
                               rc::kOpenNotOnePair},
                      Attached{"TwentyOneMatches",
                               [] {
                                   for (int i = 0; i < 21; ++i) vc_add_single("ZV7300LNK", "S");
                               },
                               u"ZV7300LNK", u"", rc::kOpenTooManyMatch},
                      Attached{"TwentyMatchesAreCounted",
                               [] {
                                   for (int i = 0; i < 20; ++i) vc_add_single("ZV7300LNK", "S");
                               },
                               u"ZV7300LNK", u"", rc::kOpenNotOnePair}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiscoveryTest, ChannelAIsTheFirstListedAndStaysCurrent) {
    vc_clear_devices();
    vc_add_single("Unrelated", "U1");
    vc_add_cable("ZV7300LNK", "ZV000001", 1);
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    EXPECT_EQ(connection::ChannelSlot(0), 1u);
    EXPECT_EQ(connection::ChannelSlot(1), 2u);
    EXPECT_EQ(binding::CurrentHandle(), ChannelHandle(1, 0));
    SelectChannelB();
    EXPECT_EQ(binding::CurrentHandle(), ChannelHandle(1, 1));
    SelectChannelA();
    EXPECT_EQ(binding::CurrentHandle(), ChannelHandle(1, 0));
}

// Either part may come from anywhere in a name, not only its start or end: each row opens the one
// cable whose names contain both parts.
TEST_F(DiscoveryTest, PartsMatchFromTheMiddleOfANameToo) {
    struct Row {
        const char16_t* description;
        const char16_t* serial;
        int opened;  // the device whose channels are then open
    };
    const Row rows[] = {
        {u"7300LNK", u"", 0},  // ZV7300LNK A / B
        {u"7300QR", u"", 1},   // ZV7300QRB A / B
        {u"", u"V1000", 1},    // ZV100001
        {u"LNK", u"0000", 0},  // both serials hold 0000; one description holds LNK
        {u"V73", u"V10", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(&row - rows));
        CloseDevice();
        vc_clear_devices();
        vc_add_cable("ZV7300LNK", "ZV000001", 1);
        vc_add_cable("ZV7300QRB", "ZV100001", 1);
        ASSERT_EQ(OpenDevice(row.description, row.serial, 5), rc::kOpenOk);
        EXPECT_NE(ChannelHandle(row.opened, 0), nullptr);
        EXPECT_NE(ChannelHandle(row.opened, 1), nullptr);
        EXPECT_EQ(ChannelHandle(1 - row.opened, 0), nullptr);
    }
}

TEST_F(DiscoveryTest, ChannelsAreOpenedByTheirLocationValue) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    auto opens = CallsOf("FT_OpenEx");
    ASSERT_EQ(opens.size(), 2u);
    for (int channel = 0; channel < 2; ++channel) {
        VcChannelSettings settings{};
        vc_channel_settings(0, channel, &settings);
        EXPECT_EQ(opens[channel].args[0], settings.location);
        EXPECT_EQ(opens[channel].args[1], 4u);  // open by location
    }
}

TEST_F(DiscoveryTest, FailedListStepsKeepTheirCodes) {
    vc_fault_fail("FT_CreateDeviceInfoList", 1, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenNoDevice);
    vc_fault_fail("FT_GetDeviceInfoList", 1, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenListNotFetched);
    vc_fault_fail("FT_Rescan", 1, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenRescanFailed);
}

TEST_F(DiscoveryTest, AfterAFailedChannelAOpenCloseReleasesOnlyTheList) {
    vc_fault_fail("FT_OpenEx", 1, 3, 0);
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenChannelAFailed);
    CloseDevice();
    EXPECT_TRUE(CallsOf("FT_Close").empty());
    EXPECT_FALSE(connection::HasDeviceList());
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
}

TEST_F(DiscoveryTest, CloseDeviceClosesBothChannelsOnce) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    void* a = ChannelHandle(0, 0);
    void* b = ChannelHandle(0, 1);
    CloseDevice();
    auto closes = CallsOf("FT_Close");
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].handle, a);
    EXPECT_EQ(closes[1].handle, b);
    EXPECT_FALSE(connection::ConnectionOpen());
    CloseDevice();  // nothing open, no list: nothing happens
    EXPECT_EQ(CallsOf("FT_Close").size(), 2u);
    SelectChannelA();
    EXPECT_EQ(binding::CurrentHandle(), nullptr);
}

TEST_F(DiscoveryTest, CloseDevice3LeavesChannelBOpen) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    CloseDevice3();
    EXPECT_EQ(CallsOf("FT_Close").size(), 1u);
    EXPECT_EQ(ChannelHandle(0, 0), nullptr);
    EXPECT_NE(ChannelHandle(0, 1), nullptr);
    EXPECT_FALSE(connection::HasDeviceList());
}

TEST_F(DiscoveryTest, CloseDevice2ReportsEachFailedChannelInTurn) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    vc_fault_fail("FT_Close", 1, 1, 1);
    CloseDevice2();
    ASSERT_EQ(MessageBoxes().size(), 2u);
    EXPECT_EQ(MessageBoxes()[0], u"Attempt to close FTD2232 failed.(Channel A)");
    EXPECT_EQ(MessageBoxes()[1], u"Attempt to close FTD2232 failed.(Channel B)");
    EXPECT_FALSE(connection::ConnectionOpen());
    EXPECT_FALSE(connection::HasDeviceList());
}

TEST_F(DiscoveryTest, CloseDevice2IsSilentWhenBothClose) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    CloseDevice2();
    EXPECT_TRUE(MessageBoxes().empty());
    EXPECT_EQ(CallsOf("FT_Close").size(), 2u);
}

TEST_F(DiscoveryTest, AFailedStaleCloseEndsTheOpenAndClearsTheFlag) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    vc_fault_fail("FT_Close", 1, 4, 0);
    EXPECT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenStaleCloseFailed);
    EXPECT_FALSE(connection::ConnectionOpen());
    EXPECT_TRUE(CallsOf("FT_Rescan").size() == 1u) << "the first open's rescan only";
}

TEST_F(DiscoveryTest, StaleCloseClosesWhicheverChannelIsCurrent) {
    ASSERT_EQ(OpenDevice(u"ZV7300LNK", u"", 5), rc::kOpenOk);
    void* b = ChannelHandle(0, 1);
    SelectChannelB();
    ForgetTraffic();
    OpenDevice(u"ZV7300LNK", u"", 5);
    auto closes = CallsOf("FT_Close");
    ASSERT_GE(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, b);
}

}  // namespace
}  // namespace kl::testing

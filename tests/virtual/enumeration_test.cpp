// Device list, open by location and index, handle validity.
#include <cstring>

#include "vcable_fixture.h"

using namespace vcable;

namespace {

class EnumerationTest : public VcableTest {};

TEST_F(EnumerationTest, DefaultScenarioListsTheCableAsTwoChannels) {
    auto nodes = ListDevices();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_STREQ(nodes[0].description, "ZV7300LNK A");
    EXPECT_STREQ(nodes[1].description, "ZV7300LNK B");
    EXPECT_STREQ(nodes[0].serialNumber, "ZV000001A");
    EXPECT_STREQ(nodes[1].serialNumber, "ZV000001B");
    EXPECT_EQ(nodes[0].locId, 0x0211u);
    EXPECT_EQ(nodes[1].locId, 0x0212u);
    EXPECT_EQ(nodes[0].type, kDeviceTypeDualChannel);
    EXPECT_EQ(nodes[0].flags, 0u);
    EXPECT_EQ(nodes[0].ftHandle, nullptr);
}

TEST_F(EnumerationTest, ListKeepsAdditionOrderAcrossKinds) {
    vc_clear_devices();
    vc_add_cable("StudyBenchUnit", "SB01", 1);
    vc_add_single("Widget", "W1");
    vc_add_cable("ignored", "ignored", 0);
    auto nodes = ListDevices();
    ASSERT_EQ(nodes.size(), 5u);
    const char* expected[] = {"StudyBenchUnit A", "StudyBenchUnit B", "Widget", "Dual RS232 A",
                              "Dual RS232 B"};
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_STREQ(nodes[i].description, expected[i]) << "node " << i;
        for (size_t j = 0; j < i; ++j) EXPECT_NE(nodes[i].locId, nodes[j].locId);
    }
    EXPECT_STREQ(nodes[2].serialNumber, "W1");
    EXPECT_EQ(nodes[2].type, kDeviceTypeSingleChannel);
    EXPECT_STREQ(nodes[3].serialNumber, "");  // a blank chip has no serial number
}

TEST_F(EnumerationTest, EmptyAndCrowdedBuses) {
    vc_clear_devices();
    EXPECT_TRUE(ListDevices().empty());
    for (int i = 0; i < 21; ++i) vc_add_single("Widget", ("W" + std::to_string(i)).c_str());
    EXPECT_EQ(ListDevices().size(), 21u);
}

TEST_F(EnumerationTest, ListSnapshotShowsOpenChannelsWithTheirHandles) {
    void* a = OpenAt(0x0211);
    auto nodes = ListDevices();
    EXPECT_EQ(nodes[0].flags & kNodeFlagOpened, kNodeFlagOpened);
    EXPECT_EQ(nodes[0].ftHandle, a);
    EXPECT_EQ(nodes[1].flags & kNodeFlagOpened, 0u);
}

TEST_F(EnumerationTest, OpenExFindsChannelsByEachKey) {
    struct Row {
        const char* name;
        void* arg;
        uint32_t flags;
        uint32_t status;
        uint32_t location;  // of the channel opened
    };
    char serialB[] = "ZV000001B";
    char descriptionA[] = "ZV7300LNK A";
    char partial[] = "ZV7300LNK";
    const Row rows[] = {
        {"location A", reinterpret_cast<void*>(uintptr_t{0x0211}), kOpenByLocation, kFtOk, 0x0211},
        {"serial B", serialB, kOpenBySerialNumber, kFtOk, 0x0212},
        {"description A", descriptionA, kOpenByDescription, kFtOk, 0x0211},
        {"partial description", partial, kOpenByDescription, kFtDeviceNotFound, 0},
        {"unknown location", reinterpret_cast<void*>(uintptr_t{0x0999}), kOpenByLocation,
         kFtDeviceNotFound, 0},
        {"unknown flags", serialB, 8, kFtInvalidParameter, 0},
    };
    for (const Row& row : rows) {
        vc_reset();
        void* handle = nullptr;
        EXPECT_EQ(FT_OpenEx(row.arg, row.flags, &handle), row.status) << row.name;
        if (row.status != kFtOk) continue;
        VcChannelSettings settings;
        int channel = row.location == 0x0211 ? 0 : 1;
        ASSERT_EQ(vc_channel_settings(0, channel, &settings), 0);
        EXPECT_EQ(settings.handle, handle) << row.name;
        EXPECT_EQ(settings.open, 1) << row.name;
    }
}

TEST_F(EnumerationTest, SecondOpenOfAChannelFailsAndHandlesNeverRepeat) {
    void* first = OpenAt(0x0211);
    void* again = nullptr;
    EXPECT_EQ(FT_OpenEx(reinterpret_cast<void*>(uintptr_t{0x0211}), kOpenByLocation, &again),
              kFtDeviceNotOpened);
    EXPECT_EQ(FT_Close(first), kFtOk);
    void* second = OpenAt(0x0211);
    EXPECT_NE(second, first);
    // The stale handle is refused by every call, including a second close.
    uint32_t rx = 0;
    EXPECT_EQ(FT_GetQueueStatus(first, &rx), kFtInvalidHandle);
    EXPECT_EQ(FT_Close(first), kFtInvalidHandle);
    EXPECT_EQ(FT_GetQueueStatus(second, &rx), kFtOk);
}

TEST_F(EnumerationTest, UnknownHandlesGetInvalidHandle) {
    // Values that were never handed out are looked up, never dereferenced.
    void* bogus[] = {nullptr, reinterpret_cast<void*>(uintptr_t{1}),
                     reinterpret_cast<void*>(uintptr_t{0xDEADBEEF})};
    for (void* handle : bogus) {
        uint8_t byte = 0;
        uint32_t n = 0;
        EXPECT_EQ(FT_Write(handle, &byte, 1, &n), kFtInvalidHandle);
        EXPECT_EQ(FT_SetBitMode(handle, 0, kBitModeMpsse), kFtInvalidHandle);
        EXPECT_EQ(FT_EE_UASize(handle, &n), kFtInvalidHandle);
    }
}

TEST_F(EnumerationTest, OpenByIndexAndListDevicesFollowEnumerationOrder) {
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, kListNumberOnly), kFtOk);
    EXPECT_EQ(count, 2u);
    char description[64] = {};
    EXPECT_EQ(FT_ListDevices(reinterpret_cast<void*>(uintptr_t{1}), description,
                             kListByIndex | kOpenByDescription),
              kFtOk);
    EXPECT_STREQ(description, "ZV7300LNK B");
    char serial0[16] = {};
    EXPECT_EQ(FT_ListDevices(reinterpret_cast<void*>(uintptr_t{0}), serial0, kListByIndex), kFtOk);
    EXPECT_STREQ(serial0, "ZV000001A");  // no field asked for: the serial number
    uint32_t locations[2] = {};
    EXPECT_EQ(FT_ListDevices(locations, &count, kListAll | kOpenByLocation), kFtOk);
    EXPECT_EQ(locations[0], 0x0211u);
    EXPECT_EQ(locations[1], 0x0212u);

    void* handle = nullptr;
    EXPECT_EQ(FT_Open(1, &handle), kFtOk);
    char serial[16] = {};
    uint32_t type = 0;
    EXPECT_EQ(FT_GetDeviceInfo(handle, &type, nullptr, serial, nullptr, nullptr), kFtOk);
    EXPECT_STREQ(serial, "ZV000001B");
    EXPECT_EQ(FT_Open(2, &handle), kFtDeviceNotFound);
}

TEST_F(EnumerationTest, PlatformsDifferInPortCyclesAndLocationsOfOpenChannels) {
    struct Row {
        int platform;
        uint32_t cycleStatus;
        uint32_t openLocation;  // what listings give for the open channel A
    };
    const Row rows[] = {
        {VC_PLATFORM_WINDOWS, kFtOk, 0x0211},
        {VC_PLATFORM_LINUX, kFtNotSupported, 0},
    };
    for (const Row& row : rows) {
        vc_reset();
        ASSERT_EQ(vc_set_platform(row.platform), 0);
        void* a = OpenAt(0x0211);
        auto nodes = ListDevices();
        EXPECT_EQ(nodes[0].locId, row.openLocation) << row.platform;
        EXPECT_EQ(nodes[1].locId, 0x0212u) << row.platform;  // closed channels keep theirs
        uint32_t locations[2] = {};
        uint32_t count = 0;
        EXPECT_EQ(FT_ListDevices(locations, &count, kListAll | kOpenByLocation), kFtOk);
        EXPECT_EQ(locations[0], row.openLocation) << row.platform;
        EXPECT_EQ(FT_CyclePort(a), row.cycleStatus) << row.platform;
        // A cycle closes the handle; where the platform cannot cycle it stays open.
        VcChannelSettings settings{};
        vc_channel_settings(0, 0, &settings);
        EXPECT_EQ(settings.open, row.cycleStatus == kFtOk ? 0 : 1) << row.platform;
    }
    vc_reset();
    EXPECT_EQ(vc_platform(), VC_PLATFORM_WINDOWS);
    EXPECT_EQ(vc_set_platform(7), -1);
}

}  // namespace

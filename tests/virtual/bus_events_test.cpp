// Port cycles, unplugging and replugging: handles die (a cycle's can still be closed), the list
// changes, identity follows the EEPROM.
#include <cstring>

#include "vcable_fixture.h"

using namespace vcable;

namespace {

class BusEventsTest : public VcableTest {};

TEST_F(BusEventsTest, CyclePortInvalidatesBothChannelsAndReenumeratesFromTheEeprom) {
    void* a = OpenAt(0x0211);
    void* b = OpenAt(0x0212);
    ASSERT_EQ(vc_eeprom_erase(0), 0);
    // The chip keeps its old identity until it enumerates again.
    EXPECT_STREQ(ListDevices()[0].description, "ZV7300LNK A");

    EXPECT_EQ(FT_CyclePort(a), kFtOk);
    EXPECT_EQ(FT_CyclePort(b), kFtInvalidHandle);  // channel B died with the port cycle
    EXPECT_EQ(FT_CyclePort(a), kFtInvalidHandle);
    // The dead handles can still be closed, once each, as a host that cycled its own port does.
    EXPECT_EQ(FT_Close(b), kFtOk);
    EXPECT_EQ(FT_Close(b), kFtInvalidHandle);
    EXPECT_EQ(FT_Close(a), kFtOk);
    auto nodes = ListDevices();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_STREQ(nodes[0].description, "Dual RS232 A");
    EXPECT_STREQ(nodes[1].description, "Dual RS232 B");
    EXPECT_EQ(nodes[0].id, 0x04036010u);
    EXPECT_EQ(nodes[0].locId, 0x0211u);  // same port, same location
    EXPECT_EQ(nodes[0].flags, 0u);
}

TEST_F(BusEventsTest, CycledDeviceStaysAwayForTheSetNumberOfListCreations) {
    vc_set_cycle_absence(0, 2);
    void* a = OpenAt(0x0211);
    ASSERT_EQ(FT_CyclePort(a), kFtOk);
    void* handle = nullptr;
    EXPECT_EQ(FT_OpenEx(reinterpret_cast<void*>(uintptr_t{0x0211}), kOpenByLocation, &handle),
              kFtDeviceNotFound);
    EXPECT_EQ(ListDevices().size(), 0u);
    EXPECT_EQ(ListDevices().size(), 0u);
    EXPECT_EQ(ListDevices().size(), 2u);
    EXPECT_NE(OpenAt(0x0211), nullptr);
}

TEST_F(BusEventsTest, UnpluggedDeviceFailsCallsAndLeavesTheList) {
    vc_add_cable("Other", "OT01", 1);
    void* a = OpenAt(0x0211);
    void* other = OpenAt(0x0311);
    ASSERT_EQ(vc_unplug(0), 0);

    auto nodes = ListDevices();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_STREQ(nodes[0].description, "Other A");
    uint32_t rx = 0;
    uint8_t byte = 0;
    EXPECT_EQ(FT_GetQueueStatus(a, &rx), kFtIoError);
    EXPECT_EQ(FT_Write(a, &byte, 1, &rx), kFtIoError);
    EXPECT_EQ(FT_GetQueueStatus(other, &rx), kFtOk);  // the other cable is untouched
    // Closing releases the handle but reports the lost device.
    EXPECT_EQ(FT_Close(a), kFtIoError);
    EXPECT_EQ(FT_Close(a), kFtInvalidHandle);
}

TEST_F(BusEventsTest, ReplugKillsOldHandlesAndEnumeratesTheNewIdentity) {
    void* b = OpenAt(0x0212);
    vc_eeprom_program(0, "Acme", "AC", "Gadget", "G7");
    vc_unplug(0);
    uint32_t rx = 0;
    EXPECT_EQ(FT_GetQueueStatus(b, &rx), kFtIoError);
    vc_replug(0);
    EXPECT_EQ(FT_GetQueueStatus(b, &rx), kFtInvalidHandle);
    auto nodes = ListDevices();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_STREQ(nodes[1].description, "Gadget B");
    EXPECT_STREQ(nodes[1].serialNumber, "G7B");
}

TEST_F(BusEventsTest, ListSnapshotIsKeptUntilTheNextCreation) {
    uint32_t count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), kFtOk);
    vc_unplug(0);
    FtDeviceListInfoNode nodes[2];
    uint32_t fetched = 0;
    EXPECT_EQ(FT_GetDeviceInfoList(nodes, &fetched), kFtOk);
    EXPECT_EQ(fetched, 2u);
    EXPECT_TRUE(ListDevices().empty());
}

}  // namespace

// A port cycle: the cable leaves the list for a while, comes back under what its EEPROM holds,
// and the handles it had are orphans that can still be closed.
#include <cstring>

#include "vcable_fixture.h"

namespace {

class PortCycleTest : public VcableTest {};

TEST_F(PortCycleTest, CycledCableReturnsUnderItsEepromIdentity) {
    vc_clear_devices();
    ASSERT_EQ(vc_add_cable("", "", 0), 0);
    auto blank = ListDevices();
    ASSERT_EQ(blank.size(), 2u);
    EXPECT_STREQ(blank[0].description, "Dual RS232 A");
    EXPECT_STREQ(blank[1].description, "Dual RS232 B");

    void* a = OpenAt(blank[0].locId);
    void* b = OpenAt(blank[1].locId);
    ASSERT_EQ(vc_eeprom_program(0, "Maker", "MK", "NEWNAME", "SN42"), 0);
    ASSERT_EQ(vc_set_cycle_absence(0, 2), 0);
    ASSERT_EQ(FT_CyclePort(a), vcable::kFtOk);

    EXPECT_TRUE(ListDevices().empty());
    EXPECT_TRUE(ListDevices().empty());
    auto back = ListDevices();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_STREQ(back[0].description, "NEWNAME A");
    EXPECT_STREQ(back[1].description, "NEWNAME B");
    EXPECT_STREQ(back[0].serialNumber, "SN42A");
    EXPECT_STREQ(back[1].serialNumber, "SN42B");

    // Both old handles are dead, but a close still releases each of them once.
    EXPECT_EQ(FT_CyclePort(b), vcable::kFtInvalidHandle);
    EXPECT_EQ(FT_Close(b), vcable::kFtOk);
    EXPECT_EQ(FT_Close(b), vcable::kFtInvalidHandle);
    EXPECT_EQ(FT_Close(a), vcable::kFtOk);
}

TEST_F(PortCycleTest, UserAreaWritesAreBoundedByTheAreaSize) {
    auto nodes = ListDevices();
    void* a = OpenAt(nodes[0].locId);
    ASSERT_EQ(vc_set_user_area_size(0, 8), 0);
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(a, &size), vcable::kFtOk);
    EXPECT_EQ(size, 8u);
    uint8_t text[9] = "12345678";
    EXPECT_EQ(FT_EE_UAWrite(a, text, 8), vcable::kFtOk);
    EXPECT_NE(FT_EE_UAWrite(a, text, 9), vcable::kFtOk);
    uint8_t out[16] = {};
    uint32_t got = 0;
    ASSERT_EQ(FT_EE_UARead(a, out, sizeof out, &got), vcable::kFtOk);
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(std::memcmp(out, text, 8), 0);
}

}  // namespace

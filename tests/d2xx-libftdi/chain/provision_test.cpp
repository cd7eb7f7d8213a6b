// ProgramDevice through the whole chain (the library, this D2XX library, libftdi1, the USB face),
// then an open by the new identity. The library's dlopen("libftd2xx.so") finds the copy this
// program links by its SONAME.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "entry_points.h"
#include "kestrellink.h"
#include "vcable.h"

namespace ftl {
namespace {

TEST(LibftdiProvisioning, ProgramDeviceThenOpenByTheNewIdentity) {
    vc_reset();
    ASSERT_EQ(LoadD2XXDLL(), 0);
    char folder[] = "/tmp/kestrel-libftdi-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::u16string log(folder, folder + std::char_traits<char>::length(folder));
    ASSERT_EQ(directoryB(log.c_str()), 0);

    ASSERT_EQ(ProgramDevice(u"Bench cable", u"BC000042", u"bench 7"), 0);
    VcEepromView view{};
    ASSERT_EQ(vc_eeprom_view(0, &view), 0);
    EXPECT_EQ(view.vendor_id, 0x1209);
    EXPECT_EQ(view.product_id, 0x0002);
    EXPECT_STREQ(view.manufacturer, "Zelvorinex");
    EXPECT_STREQ(view.description, "Bench cable");
    EXPECT_STREQ(view.serial_number, "BC000042");
    uint8_t text[8] = {};
    ASSERT_EQ(vc_eeprom_user_area(0, text, 7), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 7), "bench 7");

    // The chip takes its new identity when it enumerates again. ProgramDevice leaves its handles
    // open (CloseDevice closes the current one); on a real bus they die with the re-enumeration,
    // but the USB face keeps a libusb handle's session across a replug, so the test closes them
    // itself.
    CloseDevice();
    ASSERT_EQ(vc_unplug(0), 0);
    ASSERT_EQ(vc_replug(0), 0);
    uint32_t count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), kFtOk);
    FtDeviceListInfoNode nodes[4] = {};
    ASSERT_EQ(FT_GetDeviceInfoList(nodes, &count), kFtOk);
    ASSERT_EQ(count, 2u);
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(nodes[i].ID, 0x12090002u);
        if (nodes[i].ftHandle != nullptr) FT_Close(nodes[i].ftHandle);
    }
    EXPECT_EQ(OpenDevice(u"Bench cable", u"BC000042", 5), 0);
    CloseDevice();
    FtHandle handle = nullptr;
    ASSERT_EQ(FT_OpenEx(const_cast<char*>("BC000042B"), kOpenBySerialNumber, &handle), kFtOk);
    EXPECT_EQ(FT_Close(handle), kFtOk);
    UnLoadD2XXDLL();
    std::system((std::string("rm -rf ") + folder).c_str());
}

}  // namespace
}  // namespace ftl

// Exports that are thin shells over single vendor calls.
#include "connection/vendor_calls.h"

#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "platform/platform.h"

namespace kl::connection {
namespace {

constexpr int kVendorCallFailed = 4;

int ReloadDriver(unsigned short vendorId, unsigned short productId) {
    return ft::FT_Reload(vendorId, productId) == kFtOk ? 0 : kVendorCallFailed;
}

}  // namespace

int CycleCurrentPort() { return ft::FT_CyclePort() == kFtOk ? 0 : kVendorCallFailed; }

}  // namespace kl::connection

namespace kl::exports {

// 0 when the version cannot be read, 1 when it is at least the minimum, 2 when it is below.
int ChkDLLVer(kl_u32 minimumVersion) {
    uint32_t version = 0;
    if (ft::FT_GetLibraryVersion(&version) != kFtOk) return 0;
    return version < minimumVersion ? 2 : 1;
}

int ResetDevice2() { return connection::CycleCurrentPort(); }

// The three reload exports are one operation under three names.
int Reload_Driver(unsigned short vendorId, unsigned short productId) {
    return connection::ReloadDriver(vendorId, productId);
}

kl_ulong Reload_Driver_B7(unsigned short vendorId, unsigned short productId) {
    return static_cast<kl_ulong>(connection::ReloadDriver(vendorId, productId));
}

kl_ulong Reload_Driver_B8(unsigned short vendorId, unsigned short productId) {
    return static_cast<kl_ulong>(connection::ReloadDriver(vendorId, productId));
}

// Resets, then resets the port of, then cycles channel A, pausing only after a failed call.
void test_APA() {
    connection::SelectChannel(connection::kSlotA);
    if (ft::FT_ResetDevice() != kFtOk) platform::SleepMs(1000);
    if (ft::FT_ResetPort() != kFtOk) platform::SleepMs(1000);
    if (ft::FT_CyclePort() != kFtOk) platform::SleepMs(3000);
}

}  // namespace kl::exports

// Exports that are thin shells over single vendor calls.
#include "connection/vendor_calls.h"

#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "platform/platform.h"
#include "shell/export.h"

namespace kl::connection {
namespace {
constexpr int kVendorCallFailed = 4;
}  // namespace

int ReloadDriver(unsigned short vendorId, unsigned short productId) {
    return ft::FT_Reload(vendorId, productId) == kFtOk ? 0 : kVendorCallFailed;
}

int CycleCurrentPort() { return ft::FT_CyclePort() == kFtOk ? 0 : kVendorCallFailed; }

}  // namespace kl::connection

extern "C" int ChkDLLVer(kl_u32 minimumVersion) {
    uint32_t version = 0;
    if (kl::ft::FT_GetLibraryVersion(&version) != kl::kFtOk) return 0;
    return version < minimumVersion ? 2 : 1;
}

extern "C" int ResetDevice2(void) { return kl::connection::CycleCurrentPort(); }

extern "C" int Reload_Driver(unsigned short vendorId, unsigned short productId) {
    return kl::connection::ReloadDriver(vendorId, productId);
}

kl_ulong KL_DECORATED(Reload_Driver_B7)(unsigned short vendorId, unsigned short productId) {
    return static_cast<kl_ulong>(kl::connection::ReloadDriver(vendorId, productId));
}

kl_ulong KL_DECORATED(Reload_Driver_B8)(unsigned short vendorId, unsigned short productId) {
    return static_cast<kl_ulong>(kl::connection::ReloadDriver(vendorId, productId));
}

// Resets, then resets the port of, then cycles channel A, pausing only after a failed step.
extern "C" void test_APA(void) {
    kl::connection::SelectChannel(kl::connection::kSlotA);
    if (kl::ft::FT_ResetDevice() != kl::kFtOk) kl::platform::SleepMs(1000);
    if (kl::ft::FT_ResetPort() != kl::kFtOk) kl::platform::SleepMs(1000);
    if (kl::ft::FT_CyclePort() != kl::kFtOk) kl::platform::SleepMs(3000);
}

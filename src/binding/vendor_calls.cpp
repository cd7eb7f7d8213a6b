// Exports that are thin shells over single vendor calls.
#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "platform/platform.h"
#include "shell/export.h"

namespace {

constexpr int kReloadFailed = 4;

int ReloadDriver(unsigned short vendorId, unsigned short productId) {
    return kl::ft::FT_Reload(vendorId, productId) == kl::kFtOk ? 0 : kReloadFailed;
}

}  // namespace

extern "C" int ChkDLLVer(kl_u32 minimumVersion) {
    uint32_t version = 0;
    if (kl::ft::FT_GetLibraryVersion(&version) != kl::kFtOk) return 0;
    return version < minimumVersion ? 2 : 1;
}

extern "C" int ResetDevice2(void) { return kl::ft::FT_CyclePort() == kl::kFtOk ? 0 : 4; }

extern "C" int Reload_Driver(unsigned short vendorId, unsigned short productId) {
    return ReloadDriver(vendorId, productId);
}

kl_ulong KL_DECORATED(Reload_Driver_B7)(unsigned short vendorId, unsigned short productId) {
    return static_cast<kl_ulong>(ReloadDriver(vendorId, productId));
}

kl_ulong KL_DECORATED(Reload_Driver_B8)(unsigned short vendorId, unsigned short productId) {
    return static_cast<kl_ulong>(ReloadDriver(vendorId, productId));
}

// Resets, then resets the port of, then cycles channel A, pausing only after a failed step.
extern "C" void test_APA(void) {
    SelectChannelA();
    if (kl::ft::FT_ResetDevice() != kl::kFtOk) kl::platform::SleepMs(1000);
    if (kl::ft::FT_ResetPort() != kl::kFtOk) kl::platform::SleepMs(1000);
    if (kl::ft::FT_CyclePort() != kl::kFtOk) kl::platform::SleepMs(3000);
}

// Set_Dtr and Clr_Dtr: the DTR modem line of the current channel.
#include "binding/d2xx.h"
#include "kestrellink.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

int DtrResult(kl::FtStatus status, const kl::WChar* failureMessage) {
    if (status == kl::kFtOk) return 0;
    kl::platform::ShowMessage(failureMessage);
    return 1;
}

}  // namespace

extern "C" int Set_Dtr(void) {
    return DtrResult(kl::ft::FT_SetDtr(), KL_W("E11.05 Cannot Set DTR"));
}

extern "C" int Clr_Dtr(void) {
    return DtrResult(kl::ft::FT_ClrDtr(), KL_W("E11.05 Cannot Clear DTR"));
}

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

namespace kl::exports {

int Set_Dtr() { return DtrResult(ft::FT_SetDtr(), KL_W("E11.05 Cannot Set DTR")); }

int Clr_Dtr() { return DtrResult(ft::FT_ClrDtr(), KL_W("E11.05 Cannot Clear DTR")); }

}  // namespace kl::exports

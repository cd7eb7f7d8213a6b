// The binding's own procedures beyond the guarded calls of d2xx.h.
#pragma once

#include "binding/d2xx.h"
#include "platform/platform.h"

namespace kl::binding {

// Shows the operation name followed by the status text (" - Invalid Handle" for 1 and so on) in
// the library's message box. Statuses outside 1..18 show an empty box.
void ReportFtStatus(const WChar* operation, FtStatus status);

// The text for a status, or null outside 1..18.
const char* FtStatusText(FtStatus status);

}  // namespace kl::binding

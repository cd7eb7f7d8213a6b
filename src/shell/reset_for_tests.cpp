// The list of every subsystem's reset, in one place.
#include "shell/reset_for_tests.h"

#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "log/log.h"
#include "mpsse/stream.h"
#include "platform/platform.h"
#include "provision/provision.h"
#include "uart/uart.h"

namespace kl {

void ResetForTests() {
    platform::SetSleepHook(nullptr);
    binding::ResetBindingForTests();
    binding::SetVendorLibraryNameForTests(nullptr);
    log::ResetLogForTests();
    mpsse::ResetStreamForTests();
    connection::ResetConnectionForTests();
    uart::ResetUartForTests();
    provision::ResetProgramTemplateForTests();
}

}  // namespace kl

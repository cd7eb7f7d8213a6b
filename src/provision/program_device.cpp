// ProgramDevice and Erase_ProgedEEPROM: the factory procedures. Discovery problems are shown in
// message boxes, every later step is written to "Log.txt".
#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "connection/mpsse_open.h"
#include "connection/vendor_calls.h"
#include "kestrellink.h"
#include "log/log.h"
#include "platform/text.h"
#include "provision/provision.h"

namespace kl::provision {
namespace {

using connection::BringUpStep;

// The provisioning clock: 1 MHz, not stored as the connection's divisor.
constexpr uint32_t kProvisionDivisor = 5;

struct BringUpFailure {
    BringUpStep step;
    const WChar* logLine;
    int result;
};

// How each failing bring-up step is logged and reported during provisioning. The texts name
// "procedure OpenDevice" because that is what the factory's log readers look for.
constexpr BringUpFailure kBringUpFailures[] = {
    {BringUpStep::Reset, KL_W("E105. ZV7300LNK cannot be reset.\n"), 6},
    {BringUpStep::FirstPoll,
     KL_W("E106. Get USB Device QueuStatus command failed in procedure OpenDevice\n"), 7},
    {BringUpStep::LatencyTimer, KL_W("E107. Set USB Device Latency Timer failed\n"), 8},
    {BringUpStep::BitModeReset, KL_W("E108. Device reset failed in procedure OpenDevice.\n"), 9},
    {BringUpStep::MpsseMode, KL_W("E109. Set to MPSSE mode failed in procedure OpenDevice.\n"), 10},
    {BringUpStep::Sync,
     KL_W("E110. Unable to synchronise the MPSSE write/read cycle in procedure OpenDevice.\n"), 11},
    {BringUpStep::PinCommand, KL_W("Write I/O error. Please unplug cable and re-try\n"), 13},
    {BringUpStep::ClockDivisor,
     KL_W("E11.12 Set CLock divisor fail. Please unplug cable and re-try\n"), 14},
    {BringUpStep::FinalPoll, KL_W("Possible bad command detected in procedure OpenDevice.\n"), 12},
};

void LogChannelReset() { log::AppendLog(KL_W("204\n")); }
void LogConnectionOpen() { log::AppendLog(KL_W("205\n")); }

int BringUpForProgramming() {
    connection::BringUpOptions options;
    options.divisor = kProvisionDivisor;
    options.storeDivisor = false;
    options.pinCommand = &connection::InitialPinCommand();
    options.hooks.afterReset = LogChannelReset;
    options.hooks.afterConnectionOpen = LogConnectionOpen;
    BringUpStep step = connection::BringUpMpsse(options);
    for (const BringUpFailure& failure : kBringUpFailures) {
        if (failure.step == step) {
            log::AppendLog(failure.logLine);
            return failure.result;
        }
    }
    return kProvisionOk;
}

// Both ports are cycled so that the cable enumerates again under what its EEPROM now holds.
void CycleBothPorts() {
    connection::SelectChannel(connection::kSlotA);
    connection::CycleCurrentPort();
    connection::SelectChannel(connection::kSlotB);
    connection::CycleCurrentPort();
}

int Program(const WChar* description, const WChar* serial, const WChar* userText) {
    if (int result = DiscoverAndOpenCable(Discovery::Program); result != kProvisionOk) {
        return result;
    }
    if (int result = BringUpForProgramming(); result != kProvisionOk) return result;
    log::AppendLog(KL_W("210\n"));
    ProgramCableEeprom(description, serial, userText);  // its failures show in the log only
    CycleBothPorts();
    log::AppendLog(KL_W("Finish!!!\n"));
    return kProvisionOk;
}

int Erase() {
    if (int result = DiscoverAndOpenCable(Discovery::Erase); result != kProvisionOk) {
        return result;
    }
    if (ft::FT_ResetDevice() != kFtOk) {
        log::AppendLog(KL_W("E105. ZV7300LNK cannot be reset.\n"));
        return kProvisionResetFailed;
    }
    log::AppendLog(KL_W("204\n"));
    FtStatus status = kFtOk;
    ft::FT_EraseEE(status);  // a failed erase still ends in "Finish!!!"
    CycleBothPorts();
    log::AppendLog(KL_W("Finish!!!\n"));
    return kProvisionOk;
}

}  // namespace
}  // namespace kl::provision

namespace kl::exports {

int ProgramDevice(const kl_wchar* description, const kl_wchar* serial, const kl_wchar* userText) {
    return provision::Program(description, serial, userText);
}

int Erase_ProgedEEPROM() { return provision::Erase(); }

}  // namespace kl::exports

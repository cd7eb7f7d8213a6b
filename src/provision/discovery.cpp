// The discovery both provisioning procedures start with: take whatever single dual-channel device
// is attached, wait for it to be listed under a known description, open both channels. Problems
// up to the open are shown in message boxes; the stale close and the rescan are logged.
#include "binding/d2xx.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "log/log.h"
#include "mpsse/stream.h"
#include "platform/text.h"
#include "provision/provision.h"

namespace kl::provision {
namespace {

constexpr int kWaitAttempts = 10;
constexpr uint32_t kWaitPauseMs = 1000;
constexpr size_t kDescriptionUnits = 128;

// A cable is back when its first channel carries the chip's blank description or ours.
constexpr const WChar* kKnownDescriptions[] = {KL_W("Dual RS232 A"), KL_W("Dual RS232 B"),
                                               KL_W("ZV")};

bool HasKnownDescription(const WChar* description) {
    for (const WChar* known : kKnownDescriptions) {
        if (text::Contains(description, known)) return true;
    }
    return false;
}

// Re-reads the device list once a second, at most ten times, until its first node's description
// is known. Gives up silently: the count checks that follow decide.
void WaitForCable(Discovery kind) {
    for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
        ft::FT_CreateDeviceInfoList(connection::DeviceCountSlot());
        platform::SleepMs(kWaitPauseMs);
        if (connection::FetchDeviceList() != kFtOk) continue;

        WChar description[kDescriptionUnits] = {};
        const FtDeviceListInfoNode* first = connection::DeviceNode(0);
        if (first && connection::DeviceCount() > 0) {
            text::NarrowToWide(description, kDescriptionUnits, first->Description,
                               sizeof(first->Description));
        }
        if (kind == Discovery::Erase) platform::ShowMessage(description);
        if (HasKnownDescription(description)) {
            if (kind == Discovery::Erase) platform::ShowMessage(KL_W("201.1"));
            return;
        }
    }
}

int Report(const WChar* message, int result) {
    platform::ShowMessage(message);
    return result;
}

}  // namespace

int DiscoverAndOpenCable(Discovery kind) {
    mpsse::ResetQueueCursor();
    if (connection::CloseStaleChannel() != 0) {
        log::AppendLog(KL_W("E100. Attempt to close ZV7300LNK failed.\n"));
        return kProvisionCloseFailed;
    }
    if (ft::FT_Rescan() != kFtOk) {
        log::AppendLog(KL_W("199\n"));
        return kProvisionRescanFailed;
    }
    connection::SetConnectionOpen(false);

    switch (connection::BuildDeviceList()) {
        case 0:
            break;
        case connection::kListNotFetched:
            return Report(KL_W("E11.03 No ZV7300LNK found. Please unplug cable and re-try"),
                          kProvisionListNotFetched);
        default:
            return Report(KL_W("E11.01 No ZV7300LNK found. Please unplug cable and re-try"),
                          kProvisionListNotCreated);
    }
    WaitForCable(kind);

    uint32_t count = connection::DeviceCount();
    if (count == 0) {
        return Report(KL_W("E11.04 It is not ZV7300LNK-USB board"), kProvisionNoDevice);
    }
    for (uint32_t position = 0; position < count; ++position) {
        if (position == connection::kSlotCount) {
            return Report(KL_W("E11.02 Too many device connected!"), kProvisionTooManyDevices);
        }
        connection::SetChannelSlot(static_cast<int>(position), position);
    }
    if (count != 2) {
        return Report(KL_W("E11.05 More than one ZV7300LNK-USB board detected"),
                      kProvisionCountNot2);
    }
    log::AppendLog(KL_W("202\n"));
    log::AppendLog(KL_W("203\n"));

    FtStatus status = kFtOk;
    if (connection::OpenPairedChannel(connection::kSlotA, status) != kFtOk ||
        connection::OpenPairedChannel(connection::kSlotB, status) != kFtOk) {
        return Report(KL_W("E11.08 The open for ZV7300LNK did not complete successfully. Please "
                           "unplug cable and re-try"),
                      kProvisionOpenFailed);
    }
    connection::SelectChannel(connection::kSlotA);
    return kProvisionOk;
}

}  // namespace kl::provision

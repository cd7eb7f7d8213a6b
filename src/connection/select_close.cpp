// Switching between the two channels, and the three closes.
#include "connection/channel_pair.h"
#include "platform/text.h"
#include "shell/export.h"

namespace kl::connection {

void SelectChannel(int slot) {
    FtDeviceListInfoNode* node = DeviceNode(ChannelSlot(slot));
    binding::SetCurrentHandle(node ? node->ftHandle : nullptr);
}

namespace {

// Closes channel A, and channel B too when asked; calls onFailure with the channel's letter
// after a failed close. The connection counts as closed and the list is released either way.
template <typename OnFailure>
void CloseConnection(bool closeChannelB, OnFailure onFailure) {
    if (ConnectionOpen()) {
        FtStatus status = 0;
        SelectChannel(kSlotA);
        if (ft::FT_Close(status) != kFtOk) onFailure('A');
        if (closeChannelB) {
            SelectChannel(kSlotB);
            if (ft::FT_Close(status) != kFtOk) onFailure('B');
        }
        SetConnectionOpen(false);
    }
    ReleaseDeviceList();
}

}  // namespace
}  // namespace kl::connection

using namespace kl::connection;

extern "C" void SelectChannelA(void) { SelectChannel(kSlotA); }

extern "C" void SelectChannelB(void) { SelectChannel(kSlotB); }

extern "C" void CloseDevice(void) {
    CloseConnection(true, [](char) {});
}

extern "C" void CloseDevice2(void) {
    CloseConnection(true, [](char channel) {
        kl::platform::ShowMessage(channel == 'A'
                                      ? KL_W("Attempt to close FTD2232 failed.(Channel A)")
                                      : KL_W("Attempt to close FTD2232 failed.(Channel B)"));
    });
}

extern "C" void CloseDevice3(void) {
    CloseConnection(false, [](char) {});
}

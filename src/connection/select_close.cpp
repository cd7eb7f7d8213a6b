// Switching between the two channels, and the three closes.
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "platform/text.h"

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

namespace kl::exports {

void SelectChannelA() { connection::SelectChannel(connection::kSlotA); }

void SelectChannelB() { connection::SelectChannel(connection::kSlotB); }

void CloseDevice() {
    connection::CloseConnection(true, [](char) {});
}

void CloseDevice2() {
    connection::CloseConnection(true, [](char channel) {
        platform::ShowMessage(channel == 'A' ? KL_W("Attempt to close FTD2232 failed.(Channel A)")
                                             : KL_W("Attempt to close FTD2232 failed.(Channel B)"));
    });
}

void CloseDevice3() {
    connection::CloseConnection(false, [](char) {});
}

}  // namespace kl::exports

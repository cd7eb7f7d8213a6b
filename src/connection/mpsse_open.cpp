// The one MPSSE open sequence (OpenDevice and the variants that select parts of it).
#include "connection/mpsse_open.h"

#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "mpsse/stream.h"

namespace kl::connection {

int RunMpsseOpen(const WChar* descriptionPart, const WChar* serialPart, uint32_t divisor,
                 const OpenSequence& sequence) {
    mpsse::ResetQueueCursor();
    if (int result = CloseStaleChannel(); result != 0) return result;
    if (sequence.rescan && ft::FT_Rescan() != kFtOk) return kOpenRescanFailed;
    SetConnectionOpen(false);
    if (int result = BuildDeviceList(); result != 0) return result;
    if (int result = FindCablePair(descriptionPart, serialPart); result != 0) return result;

    FtStatus status = kFtOk;
    if (OpenPairedChannel(kSlotA, status) != kFtOk) return kOpenChannelAFailed;
    SelectChannel(kSlotA);

    BringUpOptions options;
    options.divisor = divisor;
    options.pinCommand = sequence.pinCommand;
    if (BringUpStep step = BringUpMpsse(options); step != BringUpStep::Done) {
        return static_cast<int>(step);
    }
    if (sequence.afterBringUp) sequence.afterBringUp(sequence.context);

    if (sequence.openChannelB) {
        if (OpenPairedChannel(kSlotB, status) != kFtOk) return kOpenChannelBFailed;
        SelectChannel(kSlotB);
        SelectChannel(kSlotA);
    }
    return 0;
}

}  // namespace kl::connection

namespace kl::exports {

int OpenDevice(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor) {
    return connection::RunMpsseOpen(descriptionPart, serialPart, divisor,
                                    connection::OpenSequence{});
}

}  // namespace kl::exports

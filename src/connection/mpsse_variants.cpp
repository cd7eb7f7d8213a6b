// The six MPSSE open variants and CheckDeviceTalkable. Each variant is OpenDevice's sequence
// with three choices made differently: whether the device list is rescanned first, whether
// channel B is opened, and which initial pin command channel A gets. The table below is the
// whole difference between them.
#include "connection/mpsse_variants.h"

#include "connection/channel_pair.h"
#include "connection/mpsse_open.h"
#include "kestrellink.h"
#include "mpsse/stream.h"

namespace kl::connection {
namespace {

enum class Variant { Open5, B7, B8, CopyE, Edp, Edp2 };

struct VariantRow {
    Variant variant;
    bool rescan;
    bool openChannelB;
    bool edpPins;
    bool readsUserArea;
};

constexpr VariantRow kVariants[] = {
    // variant         rescan  open B  EDP pins  user area
    {Variant::Open5, false, false, false, false}, {Variant::B7, true, false, false, false},
    {Variant::B8, false, false, false, false},    {Variant::CopyE, true, false, false, false},
    {Variant::Edp, true, true, true, false},      {Variant::Edp2, true, true, true, true},
};

constexpr const VariantRow& RowOf(Variant variant) {
    for (const VariantRow& row : kVariants) {
        if (row.variant == variant) return row;
    }
    return kVariants[0];
}

void ReadUserAreaAfterBringUp(void* context) {
    ReadUserAreaText(static_cast<WChar**>(context));  // its status does not decide the open
}

int RunVariant(Variant variant, const WChar* descriptionPart, const WChar* serialPart,
               uint32_t divisor, WChar** textOut = nullptr) {
    const VariantRow& row = RowOf(variant);
    OpenSequence sequence;
    sequence.rescan = row.rescan;
    sequence.openChannelB = row.openChannelB;
    sequence.pinCommand = row.edpPins ? &EdpPinCommand() : &InitialPinCommand();
    if (row.readsUserArea) {
        sequence.afterBringUp = ReadUserAreaAfterBringUp;
        sequence.context = textOut;
    }
    return RunMpsseOpen(descriptionPart, serialPart, divisor, sequence);
}

// CheckDeviceTalkable's result when there is no channel A to bring up: no device list (before
// any open, or after a close released it), or channel A could not be reopened.
constexpr int kNoChannelA = 10;

// Brings channel A of the pair from an earlier open up again as an MPSSE engine, without a new
// discovery. The stale close closes the current handle; when that was channel A's own handle,
// channel A is reopened by its location first, since a closed handle must not be used again.
int CheckTalkable(uint32_t divisor) {
    mpsse::ResetQueueCursor();
    FtDeviceListInfoNode* channelA = HasDeviceList() ? DeviceNode(ChannelSlot(kSlotA)) : nullptr;
    if (!channelA) return kNoChannelA;

    bool closesChannelA = ConnectionOpen() && binding::CurrentHandle() == channelA->ftHandle;
    if (CloseStaleChannel() != 0) return kStaleCloseFailed;
    if (closesChannelA) {
        FtStatus status = kFtOk;
        if (OpenPairedChannel(kSlotA, status) != kFtOk) {
            SetConnectionOpen(false);  // nothing open that a later close could rely on
            return kNoChannelA;
        }
    }
    SelectChannel(kSlotA);

    BringUpOptions options;
    options.divisor = divisor;
    options.pinCommand = &InitialPinCommand();
    return static_cast<int>(BringUpMpsse(options));
}

}  // namespace
}  // namespace kl::connection

namespace kl::exports {

using connection::RunVariant;
using connection::Variant;

int OpenDevice5(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor) {
    return RunVariant(Variant::Open5, descriptionPart, serialPart, divisor);
}

int OpenDevice5_B7(kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor) {
    return RunVariant(Variant::B7, descriptionPart, serialPart, static_cast<uint32_t>(divisor));
}

int OpenDevice5_B8(kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor) {
    return RunVariant(Variant::B8, descriptionPart, serialPart, static_cast<uint32_t>(divisor));
}

int OpenDevice5_CopyE(kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor) {
    return RunVariant(Variant::CopyE, descriptionPart, serialPart, static_cast<uint32_t>(divisor));
}

int OpenDevice_EDP(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor) {
    return RunVariant(Variant::Edp, descriptionPart, serialPart, divisor);
}

int OpenDevice_EDP2(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor,
                    kl_bstr* textOut) {
    return RunVariant(Variant::Edp2, descriptionPart, serialPart, divisor, textOut);
}

// The two strings are not used: the pair of the earlier open is brought up again.
int CheckDeviceTalkable(kl_wchar*, kl_wchar*, kl_ulong divisor) {
    return connection::CheckTalkable(static_cast<uint32_t>(divisor));
}

}  // namespace kl::exports

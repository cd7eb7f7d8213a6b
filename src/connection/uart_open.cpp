// The common sequence of the UART opens, the pairing by exact names and the serial set-up of one
// channel.
#include "connection/uart_open.h"

#include "connection/cable_descriptions.h"
#include "connection/channel_pair.h"
#include "kestrellink.h"
#include "mpsse/stream.h"
#include "platform/text.h"

namespace kl::connection {
namespace {

// Node descriptions hold at most 63 characters; the wide copy has room for them all.
constexpr size_t kDescriptionUnits = 128;

int Report(const OpenReport& report) {
    if (report.message) platform::ShowMessage(report.message);
    return report.code;
}

// Pairs the listed devices by substrings or by names: fills slots 0 and 1, or gives the
// failure's report.
const OpenReport* PairChannels(const UartPairing& pairing, const UartOpenReports& reports) {
    if (!pairing.byName) {
        switch (FindCablePair(pairing.descriptionPart, pairing.serialPart)) {
            case 0:
                return nullptr;
            case kNoMatch:
                return &reports.noMatch;
            case kTooManyMatches:
                return &reports.tooManyMatches;
            default:
                return &reports.matchCount;
        }
    }
    NameMatches matches = FindCablePairByName(
        CableDescription(pairing.channelANames[0]), CableDescription(pairing.channelANames[1]),
        CableDescription(pairing.channelBNames[0]), CableDescription(pairing.channelBNames[1]));
    if (matches.Total() == 0) return &reports.noMatch;
    // Two of one kind would leave the other channel's slot unset: rejected like any other count.
    if (matches.channelA != 1 || matches.channelB != 1) return &reports.matchCount;
    return nullptr;
}

}  // namespace

UartSetupResult ConfigureUartChannel(uint32_t baudRate) {
    FtStatus status = ft::FT_ResetDevice();
    if (status != kFtOk) return {UartSetupStep::Reset, status};
    mpsse::WaitRxAtLeast(status, 0, 1);
    if (status != kFtOk) return {UartSetupStep::QueuePoll, status};
    SetConnectionOpen(true);
    if (ft::FT_SetLatencyTimer(kUartLatencyMs, status) != kFtOk) {
        return {UartSetupStep::LatencyTimer, status};
    }
    if (ft::FT_SetBitMode(kFtBitMaskAllInputs, kFtBitModeReset, status) != kFtOk) {
        return {UartSetupStep::BitMode, status};
    }
    if (ft::FT_SetBaudRate(baudRate, status) != kFtOk) return {UartSetupStep::BaudRate, status};
    if (ft::FT_SetDataCharacteristics(kFtBits8, kFtStopBits1, kFtParityNone, status) != kFtOk) {
        return {UartSetupStep::DataCharacteristics, status};
    }
    if (ft::FT_SetFlowControl(kFtFlowNone, kFtNoXonXoffChar, kFtNoXonXoffChar, status) != kFtOk) {
        return {UartSetupStep::FlowControl, status};
    }
    return {};
}

NameMatches FindCablePairByName(const WChar* channelAName1, const WChar* channelAName2,
                                const WChar* channelBName1, const WChar* channelBName2) {
    NameMatches matches;
    for (uint32_t position = 0; position < DeviceCount(); ++position) {
        const FtDeviceListInfoNode* node = DeviceNode(position);
        if (!node) break;
        WChar description[kDescriptionUnits];
        text::NarrowToWide(description, kDescriptionUnits, node->Description,
                           sizeof(node->Description));
        if (text::Equal(description, channelAName1) || text::Equal(description, channelAName2)) {
            SetChannelSlot(kSlotA, position);
            ++matches.channelA;
        } else if (text::Equal(description, channelBName1) ||
                   text::Equal(description, channelBName2)) {
            SetChannelSlot(kSlotB, position);
            ++matches.channelB;
        }
    }
    return matches;
}

int RunUartOpen(const UartPairing& pairing, uint32_t baudRate, const UartOpenReports& reports) {
    mpsse::ResetQueueCursor();
    if (CloseStaleChannel() != 0) return Report(reports.staleClose);
    if (ft::FT_Rescan() != kFtOk) return Report(reports.rescan);
    SetConnectionOpen(false);
    switch (BuildDeviceList()) {
        case 0:
            break;
        case kListNotFetched:
            return Report(reports.listNotFetched);
        default:
            return Report(reports.listNotCreated);
    }
    if (const OpenReport* failure = PairChannels(pairing, reports)) return Report(*failure);

    FtStatus status = kFtOk;
    if (OpenPairedChannel(kSlotA, status) != kFtOk) return Report(reports.openChannelA);
    SelectChannel(kSlotA);
    UartSetupResult setup = ConfigureUartChannel(baudRate);
    if (setup.failedStep != UartSetupStep::Done) {
        return Report(reports.setupChannelA[static_cast<int>(setup.failedStep)]);
    }
    if (OpenPairedChannel(kSlotB, status) != kFtOk) return Report(reports.openChannelB);
    SelectChannel(kSlotB);
    setup = ConfigureUartChannel(baudRate);
    if (setup.failedStep != UartSetupStep::Done) {
        return Report(reports.setupChannelB[static_cast<int>(setup.failedStep)]);
    }
    return 0;
}

}  // namespace kl::connection

// The UART opens: one sequence that pairs the cable's channels (by substrings or by exact names),
// opens both and sets each up as an 8N1 serial port, and ends with channel B current. The three
// exports differ only in their pairing, their baud rate and their table of result codes and
// messages (uart_open_exports.cpp).
#pragma once

#include <cstdint>

#include "binding/d2xx.h"
#include "platform/platform.h"

namespace kl::connection {

// The latency timer of both UART channels and the baud rate OpenDevice2 sets.
constexpr uint8_t kUartLatencyMs = 2;
constexpr uint32_t kOpenDevice2Baud = 9600;

// The calls of ConfigureUartChannel in order; Done when all succeeded.
enum class UartSetupStep : int {
    Reset,
    QueuePoll,
    LatencyTimer,
    BitMode,
    BaudRate,
    DataCharacteristics,
    FlowControl,
    Done,
};
constexpr int kUartSetupStepCount = static_cast<int>(UartSetupStep::Done);

struct UartSetupResult {
    UartSetupStep failedStep = UartSetupStep::Done;
    FtStatus status = kFtOk;  // the failing call's status
};

// Sets the current channel up as a UART, stopping at the first failing call. Sets ConnectionOpen
// once the first queue poll succeeded.
UartSetupResult ConfigureUartChannel(uint32_t baudRate);

// Matches of FindCablePairByName, counted per kind.
struct NameMatches {
    uint32_t channelA = 0;
    uint32_t channelB = 0;
    uint32_t Total() const { return channelA + channelB; }
};

// Compares every node's whole description (case-sensitive) with the two channel-A names, then the
// two channel-B names; a match stores the node's position in slot 0 (A) or slot 1 (B), a later
// match of the same kind overwriting the earlier one. The serial number is not looked at.
NameMatches FindCablePairByName(const WChar* channelAName1, const WChar* channelAName2,
                                const WChar* channelBName1, const WChar* channelBName2);

// How an open finds its two channels: by description and serial substrings, or by exact names
// (indices into the table of cable descriptions).
struct UartPairing {
    bool byName = false;
    const WChar* descriptionPart = nullptr;
    const WChar* serialPart = nullptr;
    int channelANames[2] = {};
    int channelBNames[2] = {};
};

// What an open returns for one failure, and the message it shows first (null: none).
struct OpenReport {
    int code;
    const WChar* message;
};

// One open's reports, one row per way the sequence can fail.
struct UartOpenReports {
    OpenReport staleClose;
    OpenReport rescan;
    OpenReport listNotCreated;
    OpenReport listNotFetched;
    OpenReport noMatch;
    OpenReport matchCount;  // any count other than two, or two of one kind
    OpenReport tooManyMatches;
    OpenReport openChannelA;
    OpenReport openChannelB;
    OpenReport setupChannelA[kUartSetupStepCount];
    OpenReport setupChannelB[kUartSetupStepCount];
};

// The common sequence. 0 with both channels open as UARTs and channel B current; otherwise the
// report's code, after its message was shown. Nothing opened is closed again on failure.
int RunUartOpen(const UartPairing& pairing, uint32_t baudRate, const UartOpenReports& reports);

}  // namespace kl::connection

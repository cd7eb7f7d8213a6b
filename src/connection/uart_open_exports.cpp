// OpenDevice2, OpenDevice3 and OpenDevice4: the common UART open with each export's pairing,
// baud rate and table of result codes and messages.
#include "connection/cable_descriptions.h"
#include "connection/uart_open.h"
#include "kestrellink.h"
#include "platform/text.h"

namespace kl::connection {
namespace {

// Setup rows in the order of UartSetupStep; the name-matching opens report both channels alike.
#define KL_UART_SETUP_REPORTS(cableName)                                                        \
    {                                                                                           \
        {6, KL_W("E11.05 " cableName " cannot be reset. Please unplug cable and re-try")},      \
            {7, KL_W("E11.06 Get USB Device QueuStatus command failed in procedure "            \
                     "OpenDevice. Please unplug cable and re-try")},                            \
            {8, KL_W("E11.07 Set USB Device Latency Timer failed. Please unplug cable and "     \
                     "re-try")},                                                                \
            {9, KL_W("E11.08 Device reset failed in procedure OpenDevice. Please unplug cable " \
                     "and re-try")},                                                            \
            {17, KL_W("E11.08 Set Baud Rate failed. Please unplug cable and re-try")},          \
            {18, KL_W("E11.08 Set Data Characteristics failed. Please unplug cable and "        \
                      "re-try")},                                                               \
            {19, KL_W("E11.08 Set Flow Control failed. Please unplug cable and re-try")},       \
    }

constexpr UartOpenReports kOpenDevice2Reports = {
    .staleClose = {1, KL_W("E11.00 Attempt to close ZV7300LNK failed. Please unplug cable and "
                           "re-try")},
    .rescan = {2, nullptr},
    .listNotCreated = {3, KL_W("E11.01 No ZV7300LNK found. Please unplug cable and re-try")},
    .listNotFetched = {4, KL_W("E11.02 No ZV7300LNK found. Please unplug cable and re-try")},
    .noMatch = {5, KL_W("E11.03 It is not ZV7300LNK-USB board")},
    .matchCount = {6, KL_W("E11.04 More than one ZV7300LNK-USB board detected")},
    .tooManyMatches = {6, KL_W("E11.04 More than one ZV7300LNK-USB board detected")},
    .openChannelA = {5, KL_W("E11.04 The open for ZV7300LNK did not complete successfully. "
                             "Please unplug cable and re-try")},
    .openChannelB = {8, KL_W("E11.06 The open for ZV7300LNK did not complete successfully. "
                             "Please unplug cable and re-try")},
    .setupChannelA = KL_UART_SETUP_REPORTS("ZV7300LNK"),
    .setupChannelB = KL_UART_SETUP_REPORTS("ZV7300LNK"),
};

constexpr UartOpenReports kOpenDevice3Reports = {
    .staleClose = {1, KL_W("E11.00 Attempt to close Flashing Leash failed. Please unplug cable "
                           "and re-try")},
    .rescan = {2, KL_W("FT_Rescan failed")},
    .listNotCreated = {3, KL_W("E11.01 No Flashing Leash found. Please unplug cable and re-try")},
    .listNotFetched = {4, KL_W("E11.02 No Flashing Leash found. Please unplug cable and re-try")},
    .noMatch = {5, KL_W("E11.03 It is not Flashing Leash")},
    .matchCount = {6, KL_W("E11.04 More than one Flashing Leash detected")},
    .tooManyMatches = {6, KL_W("E11.04 More than one Flashing Leash detected")},
    .openChannelA = {5, KL_W("E11.04 The open for Flashing Leash did not complete successfully. "
                             "Please unplug cable and re-try")},
    .openChannelB = {8, KL_W("E11.06 The open for Flashing Leash did not complete successfully. "
                             "Please unplug cable and re-try")},
    .setupChannelA = KL_UART_SETUP_REPORTS("Flashing Leash"),
    .setupChannelB = KL_UART_SETUP_REPORTS("Flashing Leash"),
};

#undef KL_UART_SETUP_REPORTS

// OpenDevice4 is silent except when nothing matches; its codes name the channel.
constexpr UartOpenReports kOpenDevice4Reports = {
    .staleClose = {1, nullptr},
    .rescan = {2, nullptr},
    .listNotCreated = {3, nullptr},
    .listNotFetched = {4, nullptr},
    .noMatch = {5, KL_W("E11.03 It is not Flashing Leash")},
    .matchCount = {6, nullptr},
    .tooManyMatches = {19, nullptr},
    .openChannelA = {9, nullptr},
    .openChannelB = {17, nullptr},
    .setupChannelA = {{10, nullptr},
                      {11, nullptr},
                      {12, nullptr},
                      {13, nullptr},
                      {14, nullptr},
                      {15, nullptr},
                      {16, nullptr}},
    .setupChannelB = {{18, nullptr},
                      {19, nullptr},
                      {20, nullptr},
                      {21, nullptr},
                      {22, nullptr},
                      {23, nullptr},
                      {24, nullptr}},
};

UartPairing ByNames(int channelA1, int channelA2, int channelB1, int channelB2) {
    UartPairing pairing;
    pairing.byName = true;
    pairing.channelANames[0] = channelA1;
    pairing.channelANames[1] = channelA2;
    pairing.channelBNames[0] = channelB1;
    pairing.channelBNames[1] = channelB2;
    return pairing;
}

}  // namespace
}  // namespace kl::connection

namespace kl::exports {

using namespace connection;

int OpenDevice2() {
    return RunUartOpen(ByNames(kZv7300LnkA, kStudyBenchUnitA, kZv7300LnkB, kStudyBenchUnitB),
                       kOpenDevice2Baud, kOpenDevice2Reports);
}

int OpenDevice3(kl_u32 baudRate) {
    return RunUartOpen(ByNames(kZv7300LnkA, kFlashingLeashA, kZv7300LnkB, kFlashingLeashB),
                       baudRate, kOpenDevice3Reports);
}

int OpenDevice4(const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 baudRate) {
    UartPairing pairing;
    pairing.descriptionPart = descriptionPart;
    pairing.serialPart = serialPart;
    return RunUartOpen(pairing, baudRate, kOpenDevice4Reports);
}

}  // namespace kl::exports

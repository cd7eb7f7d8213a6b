#include "export_catalog.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "vcable.h"

namespace kl::hardening {
namespace {

namespace rc = kestrellink_result_codes;

constexpr int kDevice = 0;
constexpr int kChannelB = 1;
constexpr uint32_t kReceiveSize = 16;
constexpr uint8_t kJtagMode = 0x09;  // LSB first, TDO sampled on the rising edge
constexpr uint8_t kSpiReadOpcode = 0x20;
constexpr uint8_t kSpiWriteOpcode = 0x11;
constexpr uint8_t kTmsOpcode = 0x4B;
// The MPSSE opens' sync wait makes its ten polls whatever they return; then the open stops.
constexpr uint32_t kSyncWaitCalls = 12;

// What the reference call of an export without a result gives.
constexpr int kNoResult = 0;

// Code sets are written as the rows of a group of the result-code table, less some, or as lists
// of named codes and inclusive ranges.
struct Codes {
    std::vector<int> values;
    Codes(std::initializer_list<int> singles) : values(singles) {}
    template <int N>
    explicit Codes(const rc::ResultCode (&group)[N]) {
        for (const rc::ResultCode& row : group) values.push_back(row.code);
    }
    Codes& span(int first, int last) {
        for (int code = first; code <= last; ++code) values.push_back(code);
        return *this;
    }
    Codes& without(std::initializer_list<int> codes) {
        for (const int code : codes) std::erase(values, code);
        return *this;
    }
};

std::u16string Wide(const std::string& narrow) {
    return std::u16string(narrow.begin(), narrow.end());
}

void WriteScratchFile(const char* name, size_t size) {
    FILE* file = fopen(ScratchPath(name).c_str(), "wb");
    if (!file) return;
    for (size_t i = 0; i < size; ++i) fputc(static_cast<int>(i * 37 + 1), file);
    fclose(file);
}

void InjectOnChannelB(uint32_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(0xA0 + i);
    vc_inject_rx(kDevice, kChannelB, bytes.data(), count);
}

// Fills CommandBuffer with TMS commands to 2 bytes short of its end: the next append flushes.
void FillQueueToTheBrim() {
    const uint8_t tms = 0;
    for (int i = 0; i < 131070 / 3; ++i) JTAG_WriteTMS2(kTmsOpcode, 0, &tms);
}

int OpenEdp2() {
    kl_bstr text = nullptr;
    int result = OpenDevice_EDP2(u"ZV7300LNK", u"", 5, &text);
    free(text);
    return result;
}

int CaptureShift(int (*shift)(kl_u8, kl_u32, const kl_u8*, kl_u8*, kl_u32*, kl_u32)) {
    const uint8_t tdi[2] = {0xA5, 0x0C};
    uint8_t tdo[2] = {};
    kl_u32 bitsRead = 0;
    return shift(kJtagMode, 12, tdi, tdo, &bitsRead, 1);
}

int Void(void (*call)()) {
    call();
    return kNoResult;
}

std::vector<ExportRow> BuildExports() {
    const Codes opens(rc::kOpenDevice);
    // OpenDevice5 and OpenDevice5_B8 rescan nothing; none of the one-channel opens opens B.
    const Codes oneChannelOpens = Codes(rc::kOpenDevice).without({rc::kOpenChannelBFailed});
    const Codes unscannedOpens = Codes(oneChannelOpens).without({rc::kOpenRescanFailed});
    const Codes uartOpens(rc::kOpenDevice2);
    const Codes jtag(rc::kJTAG_WriteTDI);
    const Codes pins = Codes(rc::kJTAG_WriteTDI).without({rc::kTransferCountZero});
    const Codes uart(rc::kRead_UART);
    const Codes receivers(rc::kRead_FILE_UART);
    const Codes senders(rc::kWrite_FILE_UART);
    const Codes programCodes(rc::kProgramDevice);
    const Codes eraseCodes{
        rc::kProgramOk,         rc::kProgramStaleCloseFailed, rc::kProgramRescanFailed,
        rc::kProgramNoDevice,   rc::kProgramListNotFetched,   rc::kProgramNoDeviceAfterWait,
        rc::kProgramNotOnePair, rc::kProgramOpenFailed,       rc::kProgramTooManyDevices};
    using S = Start;
    using R = Recovery;
    std::vector<ExportRow> rows = {
        // D2XX binding
        {"LoadD2XXDLL", S::Loaded, R::Mpsse, nullptr, [] { return LoadD2XXDLL(); },
         Codes(rc::kLoadD2XXDLL).values},
        {"UnLoadD2XXDLL", S::Loaded, R::Mpsse, nullptr, [] { return UnLoadD2XXDLL(); },
         Codes(rc::kUnLoadD2XXDLL).values},
        {"ChkDLLVer", S::Loaded, R::Mpsse, nullptr, [] { return ChkDLLVer(0x00030216); },
         Codes(rc::kChkDLLVer).values},
        {"ResetDevice2", S::MpsseOpen, R::Mpsse, nullptr, [] { return ResetDevice2(); },
         pins.values},
        {"Reload_Driver", S::Loaded, R::Mpsse, nullptr,
         [] { return Reload_Driver(0x0403, 0x6010); }, pins.values},
        {"Reload_Driver_B7", S::Loaded, R::Mpsse, nullptr,
         [] { return static_cast<int>(Reload_Driver_B7(0x0403, 0x6010)); }, pins.values},
        {"Reload_Driver_B8", S::Loaded, R::Mpsse, nullptr,
         [] { return static_cast<int>(Reload_Driver_B8(0x0403, 0x6010)); }, pins.values},
        {"test_APA", S::MpsseOpen, R::Mpsse, nullptr, [] { return Void(test_APA); }, {kNoResult}},
        // Channel selection and close
        {"SelectChannelA",
         S::MpsseOpen,
         R::Mpsse,
         nullptr,
         [] { return Void(SelectChannelA); },
         {kNoResult}},
        {"SelectChannelB",
         S::MpsseOpen,
         R::Mpsse,
         nullptr,
         [] { return Void(SelectChannelB); },
         {kNoResult}},
        {"CloseDevice",
         S::MpsseOpen,
         R::Mpsse,
         nullptr,
         [] { return Void(CloseDevice); },
         {kNoResult}},
        {"CloseDevice2",
         S::MpsseOpen,
         R::Mpsse,
         nullptr,
         [] { return Void(CloseDevice2); },
         {kNoResult}},
        {"CloseDevice3",
         S::MpsseOpen,
         R::Mpsse,
         nullptr,
         [] { return Void(CloseDevice3); },
         {kNoResult}},
        // Opens, each from an open channel A so that the stale close is part of the path
        {"OpenDevice", S::ChannelA, R::Mpsse, nullptr,
         [] { return OpenDevice(u"ZV7300LNK", u"", 5); }, opens.values, 0, kSyncWaitCalls},
        {"OpenDevice2", S::ChannelA, R::Uart, nullptr, [] { return OpenDevice2(); },
         uartOpens.values},
        {"OpenDevice3", S::ChannelA, R::Uart, nullptr, [] { return OpenDevice3(115200); },
         uartOpens.values},
        {"OpenDevice4", S::ChannelA, R::Uart, nullptr,
         [] { return OpenDevice4(u"ZV7300LNK", u"", 115200); }, Codes(rc::kOpenDevice4).values},
        {"OpenDevice5", S::ChannelA, R::Mpsse, nullptr,
         [] { return OpenDevice5(u"ZV7300LNK", u"", 5); }, unscannedOpens.values, 0,
         kSyncWaitCalls},
        {"OpenDevice5_B7", S::ChannelA, R::Mpsse, nullptr,
         [] {
             std::u16string description = u"ZV7300LNK", serial = u"";
             return OpenDevice5_B7(description.data(), serial.data(), 5);
         },
         oneChannelOpens.values, 0, kSyncWaitCalls},
        {"OpenDevice5_B8", S::ChannelA, R::Mpsse, nullptr,
         [] {
             std::u16string description = u"ZV7300LNK", serial = u"";
             return OpenDevice5_B8(description.data(), serial.data(), 5);
         },
         unscannedOpens.values, 0, kSyncWaitCalls},
        {"OpenDevice5_CopyE", S::ChannelA, R::Mpsse, nullptr,
         [] {
             std::u16string description = u"ZV7300LNK", serial = u"";
             return OpenDevice5_CopyE(description.data(), serial.data(), 5);
         },
         oneChannelOpens.values, 0, kSyncWaitCalls},
        {"OpenDevice_EDP", S::ChannelA, R::Mpsse, nullptr,
         [] { return OpenDevice_EDP(u"ZV7300LNK", u"", 5); }, opens.values, 0, kSyncWaitCalls},
        {"OpenDevice_EDP2", S::ChannelA, R::Mpsse, nullptr, OpenEdp2, opens.values, 0,
         kSyncWaitCalls},
        {"CheckDeviceTalkable", S::UartOpen, R::Mpsse, nullptr,
         [] { return CheckDeviceTalkable(nullptr, nullptr, 5); },
         Codes{rc::kOpenOk, rc::kOpenStaleCloseFailed}
             .span(rc::kOpenChannelAResetFailed, rc::kOpenBytesAfterClock)
             .values,
         0, kSyncWaitCalls},
        // JTAG
        {"JTAG_WriteTMS", S::MpsseOpen, R::Mpsse, FillQueueToTheBrim,
         [] {
             const uint8_t tms = 0x1F;
             return JTAG_WriteTMS(4, &tms);
         },
         jtag.values},
        {"JTAG_WriteTMS2", S::MpsseOpen, R::Mpsse, FillQueueToTheBrim,
         [] {
             const uint8_t tms = 0x1F;
             return JTAG_WriteTMS2(kTmsOpcode, 4, &tms);
         },
         jtag.values},
        {"JTAG_Clk", S::MpsseOpen, R::Mpsse, nullptr,
         [] { return JTAG_Clk(kJtagMode, 8 * 130000); }, jtag.values},
        {"JTAG_WriteTDI", S::MpsseOpen, R::Mpsse, nullptr,
         [] { return CaptureShift(JTAG_WriteTDI); }, jtag.values},
        {"JTAG_WriteTDI2", S::MpsseOpen, R::Mpsse, nullptr,
         [] { return CaptureShift(JTAG_WriteTDI2); }, jtag.values},
        {"JTAG_ReadTDO2", S::MpsseOpen, R::Mpsse, [] { JTAG_Clk(kJtagMode, 8 * 50000); },
         [] { return JTAG_ReadTDO2(kJtagMode, 8 * 20000); }, jtag.values},
        {"JTAG_Send2FTDI", S::MpsseOpen, R::Mpsse, [] { JTAG_ReadTDO2(kJtagMode, 64); },
         [] { return JTAG_Send2FTDI(); }, jtag.values},
        {"JTAG_RxFTDI", S::MpsseOpen, R::Mpsse,
         [] {
             JTAG_ReadTDO2(kJtagMode, 64);
             JTAG_Send2FTDI();
         },
         [] {
             uint8_t reply[9] = {};
             kl_u32 received = 0;
             return JTAG_RxFTDI(9, reply, &received);
         },
         jtag.values},
        {"JTAG_ReadPort", S::MpsseOpen, R::Mpsse, nullptr,
         [] {
             uint8_t value = 0;
             return JTAG_ReadPort(&value);
         },
         jtag.values},
        {"ResetXilinx",
         S::MpsseOpen,
         R::Mpsse,
         nullptr,
         [] {
             ResetXilinx(1, 1);
             return kNoResult;
         },
         {kNoResult}},
        // SPI, GPIO and clock
        {"SPI_ReadDI", S::MpsseOpen, R::Mpsse, nullptr,
         [] {
             std::vector<uint8_t> buffer(1000);
             kl_u32 received = 0;
             return SPI_ReadDI(kSpiReadOpcode, 1000, buffer.data(), &received);
         },
         jtag.values},
        {"SPI_WriteDO", S::MpsseOpen, R::Mpsse, nullptr,
         [] {
             std::vector<uint8_t> data(70000, 0x5A);
             return SPI_WriteDO(kSpiWriteOpcode, 70000, data.data());
         },
         jtag.values},
        {"Disable_AllTalk", S::MpsseOpen, R::Mpsse, nullptr, [] { return Disable_AllTalk(); },
         pins.values},
        {"GPIOL_low", S::MpsseOpen, R::Mpsse, nullptr, [] { return GPIOL_low(); }, pins.values},
        {"GPIO2_low", S::MpsseOpen, R::Mpsse, nullptr, [] { return GPIO2_low(); }, pins.values},
        {"GPIO2_low2", S::MpsseOpen, R::Mpsse, nullptr, [] { return GPIO2_low2(); }, pins.values},
        {"GPIO3_low", S::MpsseOpen, R::Mpsse, nullptr, [] { return GPIO3_low(); }, pins.values},
        {"GPIOH2_high", S::MpsseOpen, R::Mpsse, nullptr, [] { return GPIOH2_high(); }, pins.values},
        {"GPIOH2_low", S::MpsseOpen, R::Mpsse, nullptr, [] { return GPIOH2_low(); }, pins.values},
        {"Wait_GPIOH1_Low", S::MpsseOpen, R::Mpsse, nullptr, [] { return Wait_GPIOH1_Low(); },
         Codes(rc::kWait_GPIOH1_Low).values},
        {"FTDI_SetClk", S::MpsseOpen, R::Mpsse, nullptr, [] { return FTDI_SetClk(5); },
         Codes(rc::kFTDI_SetClk).values},
        // UART and DTR
        {"Read_UART", S::UartOpen, R::Uart, [] { InjectOnChannelB(3); }, [] { return Read_UART(); },
         uart.values, 0, 0},
        {"Write_UART", S::UartOpen, R::Uart, nullptr, [] { return Write_UART(); }, uart.values},
        {"Read_FILE_UART", S::UartOpen, R::Uart, [] { InjectOnChannelB(kReceiveSize); },
         [] { return Read_FILE_UART(ScratchPath("received").c_str(), kReceiveSize); },
         receivers.values, kReceiveSize, 0},
        {"Write_FILE_UART", S::UartOpen, R::Uart, [] { WriteScratchFile("to_send", 40); },
         [] { return Write_FILE_UART(ScratchPath("to_send").c_str(), 100); }, senders.values},
        {"Read_FILE_UART_2", S::UartOpen, R::Uart, [] { InjectOnChannelB(kReceiveSize); },
         [] {
             return Read_FILE_UART_2(Wide(ScratchPath("received2")).c_str(), kReceiveSize, 1, 0.0);
         },
         receivers.values, kReceiveSize, 0},
        {"Write_FILE_UART_2", S::UartOpen, R::Uart, [] { WriteScratchFile("to_send2", 3); },
         [] { return Write_FILE_UART_2(Wide(ScratchPath("to_send2")).c_str(), 3, 1.0); },
         senders.values},
        {"Set_Dtr", S::UartOpen, R::Uart, nullptr, [] { return Set_Dtr(); }, uart.values},
        {"Clr_Dtr", S::UartOpen, R::Uart, nullptr, [] { return Clr_Dtr(); }, uart.values},
        // Provisioning
        {"directoryB", S::Loaded, R::Mpsse, nullptr,
         [] { return directoryB(Wide(ScratchPath("log")).c_str()); },
         Codes(rc::kdirectoryB).values},
        {"ProgramDevice", S::ChannelA, R::AnyCable, nullptr,
         [] { return ProgramDevice(u"ZV7300LNK", u"SN0001", u"user text"); }, programCodes.values,
         0, 40},
        {"Erase_ProgedEEPROM", S::ChannelA, R::AnyCable, nullptr,
         [] { return Erase_ProgedEEPROM(); }, eraseCodes.values, 0, 40},
    };
    return rows;
}

}  // namespace

const std::vector<ExportRow>& Exports() {
    static const std::vector<ExportRow> rows = BuildExports();
    return rows;
}

bool CodeAllowed(const ExportRow& row, int code) {
    for (int allowed : row.codes) {
        if (allowed == code) return true;
    }
    return code >= 1 && static_cast<uint32_t>(code) <= row.timeoutCountUpTo;
}

std::string CodeList(const ExportRow& row) {
    std::string text = "{";
    for (size_t i = 0; i < row.codes.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(row.codes[i]);
    }
    if (row.timeoutCountUpTo) text += ", 1.." + std::to_string(row.timeoutCountUpTo);
    return text + "}";
}

std::string ScratchPath(const char* name) {
    const char* tmp = getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    return dir + "/kl_hardening_" + std::to_string(getpid()) + "_" + name;
}

const ExportRow* FindExport(const std::string& name) {
    for (const ExportRow& row : Exports()) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

}  // namespace kl::hardening

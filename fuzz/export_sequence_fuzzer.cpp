// Fuzzes the library end to end. An input is a sequence of operations, as many as it holds: one
// byte picks the operation from kOps (an export call or a virtual-cable event: a call that fails
// at any later point, a short write, a pulled or replugged cable, bytes arriving), and the bytes
// after it are its arguments. After every call: the result is one the export may give, and the
// command queue's cursor lies inside CommandBuffer. Each input starts from a quick reset of a
// small scenario (the default cable without its flash), waits are shortened, pauses and message
// boxes go to hooks, so inputs are quick and none blocks. fuzz/export_sequence_seeds.py writes
// the seed corpus by operation name.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export_catalog.h"
#include "kestrellink.h"
#include "mpsse/stream.h"
#include "platform/platform.h"
#include "shell/reset_for_tests.h"
#include "uart/uart.h"
#include "vcable.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"

// Message boxes are dismissed at once.
extern "C" void KestrelLinkMessageBox(const char16_t*) {}

namespace {

// The default cable without its flash: it takes long to build, and every shift would clock it.
constexpr const char* kScenario = R"(
[[device]]
description = "ZV7300LNK"
serial = "ZV000001"
[device.flash]
present = false
[device.uart_b]
peer = "loopback"
)";

// The longest shift an input can ask for: past two command buffers, so that flushes inside a
// streamed shift can fail.
constexpr uint32_t kLongestShiftBytes = 300000;
// The longest unpaced send (past StagingBuffer) and SPI write (past one command).
constexpr uint32_t kLongestSend = 140000;
constexpr uint32_t kLongestSpiWrite = 70000;

constexpr int kGpioH1Line = 9;  // ACBUS1, as the virtual cable numbers lines

// An input's operations stop once the cable has seen this many vendor calls: a reply wait alone
// makes 500 or 1000 polls, and a long input of waits would make the fuzzer slow to little gain.
constexpr uint32_t kVendorCallBudget = 3000;

// The input, consumed from the front; an exhausted input reads as zeros.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    uint32_t upTo(uint32_t limit) { return u32() % (limit + 1); }
    bool flag() { return u8() & 1; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::string logDirectory;
std::vector<uint8_t> tdi(kLongestShiftBytes + 1, 0xA5);
std::vector<uint8_t> tdo(65537);
std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// KL_FUZZ_TRACE=1 in the environment lists every call and its result (to read an input).
bool tracing = false;

void Fail(const char* what, const char* name, int result) {
    fprintf(stderr, "invariant broken: %s after %s (result %d)\n", what, name, result);
    __builtin_trap();
}

// Checks the result against the export's codes and the queue cursor against the buffer.
void Check(const char* name, int result) {
    if (tracing) fprintf(stderr, "%s -> %d\n", name, result);
    const kl::hardening::ExportRow* row = kl::hardening::FindExport(name);
    if (!row) Fail("unknown export", name, result);
    const bool receiver = std::string(name).find("Read_FILE_UART") == 0;
    if (receiver ? result < 0 : !kl::hardening::CodeAllowed(*row, result)) {
        Fail("result outside the export's codes", name, result);
    }
    if (kl::mpsse::QueuedBytes() > kl::mpsse::kBufferSize) Fail("queue cursor", name, result);
}

#define CALL(name, expr) Check(#name, (expr))
#define CALL_VOID(name, expr) ((expr), Check(#name, 0))
// Rows of kOps for the exports without arguments.
// clang-format off
#define NO_ARGUMENTS(name) Op{#name, [](Input&) { CALL(name, name()); }}
#define NO_ARGUMENTS_VOID(name) Op{#name, [](Input&) { CALL_VOID(name, name()); }}
// clang-format on

const char16_t* Description(Input& in) {
    static const char16_t* const kParts[] = {u"ZV7300LNK", u"", u"ZV7300LNK A", u"Dual", u"zv"};
    return kParts[in.u8() % 5];
}

uint32_t Divisor(Input& in) {
    const uint8_t d = in.u8();
    return d == 0xFF ? 0x10000 : d;
}

// A count up to largest on one of four scales, picked by a byte: mostly short, so that inputs
// stay quick (0 to 15: up to 16, 16 to 23: up to 256, 24 to 30: up to 4096), and for 31 up to
// largest: past a command, a buffer or StagingBuffer, which is slow.
uint32_t Scaled(Input& in, uint32_t largest) {
    const uint8_t pick = in.u8() % 32;
    return in.upTo(pick < 16 ? 16 : pick < 24 ? 256 : pick < 31 ? 4096 : largest);
}

uint32_t Bits(Input& in) { return Scaled(in, kLongestShiftBytes * 8); }

bool IsAnyByte(uint8_t option) { return (option & 0xE0) == 0xE0; }

// A shift's option byte, or with moves a whole shift opcode: mostly a valid one (the edge and
// bit-order bits of the byte), one time in eight any byte.
uint8_t ShiftOption(Input& in, uint8_t moves = 0) {
    const uint8_t byte = in.u8();
    return IsAnyByte(byte) ? byte : (byte & 0x0D) | moves;
}

// A byte that makes no shift opcode turns the shift's data into commands, each answered with a
// message: slow for a long shift, so such shifts stay short.
uint32_t Shortened(uint8_t option, uint32_t count) {
    return IsAnyByte(option) ? std::min<uint32_t>(count, 4096) : count;
}

// The n-th call of an entry point from now, anywhere in what is left of the sequence.
uint32_t Nth(Input& in) { return 1 + in.u16(); }

void WriteTdi(Input& in, bool second) {
    const uint8_t mode = ShiftOption(in);
    const uint32_t bits = Shortened(mode, Bits(in));
    uint8_t* out = in.flag() && bits <= 8 * 65536 ? tdo.data() : nullptr;
    kl_u32 bitsRead = 0;
    const kl_u32 lastWithTms = in.flag();
    if (second) {
        CALL(JTAG_WriteTDI2, JTAG_WriteTDI2(mode, bits, tdi.data(), out, &bitsRead, lastWithTms));
    } else {
        CALL(JTAG_WriteTDI, JTAG_WriteTDI(mode, bits, tdi.data(), out, &bitsRead, lastWithTms));
    }
}

// The arguments of an open, read in order.
struct Opening {
    const char16_t* part;
    uint32_t divisor;
};
Opening ReadOpening(Input& in) { return {Description(in), Divisor(in)}; }

// The decorated opens take writable strings.
void DecoratedOpen(Input& in, int (*open)(kl_wchar*, kl_wchar*, kl_ulong), const char* name) {
    const Opening at = ReadOpening(in);
    std::u16string description = at.part, serial;
    Check(name, open(description.data(), serial.data(), at.divisor));
}

template <typename Result>
void ReloadDriver(Input& in, Result (*reload)(unsigned short, unsigned short), const char* name) {
    const uint16_t ids[] = {in.u16(), in.u16()};
    Check(name, static_cast<int>(reload(ids[0], ids[1])));
}

std::string Scratch(const char* name) { return kl::hardening::ScratchPath(name); }

struct Op {
    const char* name;  // how export_sequence_seeds.py refers to it
    void (*run)(Input& in);
};

// Appending keeps the seeds' meaning; any other change needs the seeds written again.
const Op kOps[] = {
    {"OpenDevice",
     [](Input& in) {
         const Opening at = ReadOpening(in);
         CALL(OpenDevice, OpenDevice(at.part, u"", at.divisor));
     }},
    NO_ARGUMENTS(OpenDevice2),
    {"OpenDevice3",
     [](Input& in) { CALL(OpenDevice3, OpenDevice3(in.flag() ? 115200 : in.u32())); }},
    {"OpenDevice4", [](Input& in) { CALL(OpenDevice4, OpenDevice4(Description(in), u"", 9600)); }},
    {"OpenDevice5",
     [](Input& in) {
         const Opening at = ReadOpening(in);
         CALL(OpenDevice5, OpenDevice5(at.part, nullptr, at.divisor));
     }},
    {"OpenDevice_EDP",
     [](Input& in) {
         const Opening at = ReadOpening(in);
         CALL(OpenDevice_EDP, OpenDevice_EDP(at.part, u"", at.divisor));
     }},
    {"OpenDevice_EDP2",
     [](Input& in) {
         kl_bstr text = nullptr;
         const Opening at = ReadOpening(in);
         CALL(OpenDevice_EDP2, OpenDevice_EDP2(at.part, u"", at.divisor, &text));
         free(text);
     }},
    {"CheckDeviceTalkable",
     [](Input& in) {
         CALL(CheckDeviceTalkable, CheckDeviceTalkable(nullptr, nullptr, Divisor(in)));
     }},
    {"OpenDevice5_B7", [](Input& in) { DecoratedOpen(in, OpenDevice5_B7, "OpenDevice5_B7"); }},
    {"OpenDevice5_B8", [](Input& in) { DecoratedOpen(in, OpenDevice5_B8, "OpenDevice5_B8"); }},
    {"OpenDevice5_CopyE",
     [](Input& in) { DecoratedOpen(in, OpenDevice5_CopyE, "OpenDevice5_CopyE"); }},
    NO_ARGUMENTS_VOID(CloseDevice),
    NO_ARGUMENTS_VOID(CloseDevice2),
    NO_ARGUMENTS_VOID(CloseDevice3),
    NO_ARGUMENTS_VOID(SelectChannelA),
    NO_ARGUMENTS_VOID(SelectChannelB),
    {"JTAG_WriteTMS",
     [](Input& in) {
         const uint8_t count = in.u8() % 8, tms = in.u8();
         CALL(JTAG_WriteTMS, JTAG_WriteTMS(count, &tms));
     }},
    {"JTAG_WriteTMS2",
     [](Input& in) {
         const uint8_t opcode = in.u8(), count = in.u8() % 8, tms = in.u8();
         CALL(JTAG_WriteTMS2, JTAG_WriteTMS2(opcode, count, &tms));
     }},
    {"JTAG_Clk",
     [](Input& in) {
         const uint8_t mode = ShiftOption(in);
         CALL(JTAG_Clk, JTAG_Clk(mode, static_cast<int16_t>(in.u16())));
     }},
    {"JTAG_WriteTDI", [](Input& in) { WriteTdi(in, false); }},
    {"JTAG_WriteTDI2", [](Input& in) { WriteTdi(in, true); }},
    {"JTAG_ReadTDO2",
     [](Input& in) {
         const uint8_t mode = ShiftOption(in);
         CALL(JTAG_ReadTDO2, JTAG_ReadTDO2(mode, Bits(in)));
     }},
    NO_ARGUMENTS(JTAG_Send2FTDI),
    {"JTAG_RxFTDI",
     [](Input& in) {
         const uint32_t count = in.upTo(600);
         std::vector<uint8_t> buffer(count);
         kl_u32 received = 0;
         CALL(JTAG_RxFTDI, JTAG_RxFTDI(count, count ? buffer.data() : nullptr, &received));
         if (received > count) Fail("more received than expected", "JTAG_RxFTDI", 0);
     }},
    {"JTAG_ReadPort",
     [](Input& in) {
         uint8_t value = 0;
         CALL(JTAG_ReadPort, JTAG_ReadPort(in.flag() ? nullptr : &value));
     }},
    {"ResetXilinx",
     [](Input& in) {
         const kl_u32 pausesMs[] = {in.u8() % 3u, in.u8() % 3u};
         CALL_VOID(ResetXilinx, ResetXilinx(pausesMs[0], pausesMs[1]));
     }},
    {"SPI_ReadDI",
     [](Input& in) {
         const uint8_t opcode = ShiftOption(in, 0x20);  // data in
         const uint32_t count = in.upTo(1024);
         std::vector<uint8_t> buffer(count);
         kl_u32 received = 0;
         CALL(SPI_ReadDI,
              SPI_ReadDI(opcode, count, in.flag() ? nullptr : buffer.data(), &received));
     }},
    {"SPI_WriteDO",
     [](Input& in) {
         // The first bytes come from the input (a flash command and its address), then a pattern.
         const uint8_t opcode = ShiftOption(in, 0x10);  // data out
         const uint32_t count = Shortened(opcode, Scaled(in, kLongestSpiWrite));
         std::vector<uint8_t> data(count, 0xA5);
         for (uint32_t i = 0; i < count && i < 4; ++i) data[i] = in.u8();
         CALL(SPI_WriteDO, SPI_WriteDO(opcode, count, data.data()));
     }},
    NO_ARGUMENTS(Disable_AllTalk),
    NO_ARGUMENTS(GPIOL_low),
    NO_ARGUMENTS(GPIO2_low),
    NO_ARGUMENTS(GPIO2_low2),
    NO_ARGUMENTS(GPIO3_low),
    NO_ARGUMENTS(GPIOH2_high),
    NO_ARGUMENTS(GPIOH2_low),
    NO_ARGUMENTS(Wait_GPIOH1_Low),
    {"FTDI_SetClk", [](Input& in) { CALL(FTDI_SetClk, FTDI_SetClk(in.u32() % 0x20000)); }},
    NO_ARGUMENTS(Read_UART),
    NO_ARGUMENTS(Write_UART),
    NO_ARGUMENTS(Set_Dtr),
    NO_ARGUMENTS(Clr_Dtr),
    {"Read_FILE_UART",
     [](Input& in) {
         CALL(Read_FILE_UART, Read_FILE_UART(Scratch("received").c_str(), in.upTo(300)));
     }},
    {"Read_FILE_UART_2",
     [](Input& in) {
         const uint32_t size = in.upTo(300);
         CALL(Read_FILE_UART_2,
              Read_FILE_UART_2(Wide(Scratch("received")).c_str(), size, in.flag(), -1.0));
     }},
    {"Write_FILE_UART",
     [](Input& in) {
         CALL(Write_FILE_UART, Write_FILE_UART(Scratch("to_send").c_str(), in.upTo(300)));
     }},
    {"Write_FILE_UART_2",
     [](Input& in) {
         // Paced sends make one write per byte: kept short so that an input stays quick.
         const bool paced = in.flag();
         const uint32_t size = paced ? in.upTo(300) : Scaled(in, kLongestSend);
         CALL(Write_FILE_UART_2,
              Write_FILE_UART_2(Wide(Scratch("to_send")).c_str(), size, paced ? 1.0 : 0));
     }},
    {"ChkDLLVer", [](Input& in) { CALL(ChkDLLVer, ChkDLLVer(in.u32())); }},
    NO_ARGUMENTS(ResetDevice2),
    {"Reload_Driver", [](Input& in) { ReloadDriver(in, Reload_Driver, "Reload_Driver"); }},
    {"Reload_Driver_B7", [](Input& in) { ReloadDriver(in, Reload_Driver_B7, "Reload_Driver_B7"); }},
    {"Reload_Driver_B8", [](Input& in) { ReloadDriver(in, Reload_Driver_B8, "Reload_Driver_B8"); }},
    NO_ARGUMENTS_VOID(test_APA),
    NO_ARGUMENTS(UnLoadD2XXDLL),
    NO_ARGUMENTS(LoadD2XXDLL),
    {"ProgramDevice",
     [](Input& in) { CALL(ProgramDevice, ProgramDevice(Description(in), u"SN", u"user text")); }},
    NO_ARGUMENTS(Erase_ProgedEEPROM),
    {"directoryB",
     [](Input& in) {
         const std::u16string directory = in.flag() ? Wide(logDirectory) : u"/nonexistent";
         CALL(directoryB, directoryB(directory.c_str()));
     }},
    {"fault fail",
     [](Input& in) {
         const char* entry = vc_entry_name(in.u8() % 38);
         const uint32_t nth = Nth(in);
         vc_fault_fail(entry, nth, 1 + in.u8() % 18, in.u8() % 4 == 0);
     }},
    {"fault unplug",
     [](Input& in) {
         const char* entry = vc_entry_name(in.u8() % 38);
         vc_fault_unplug(entry, Nth(in), 0);
     }},
    {"fault short write",
     [](Input& in) {
         const uint32_t nth = Nth(in);
         vc_fault_short_write(nth, in.u8() % 16);
     }},
    {"replug", [](Input&) { vc_replug(0); }},
    {"unplug", [](Input&) { vc_unplug(0); }},
    {"inject",
     [](Input& in) {
         uint8_t bytes[64];
         const int channel = in.flag();
         const uint32_t count = in.u8() % 64;
         for (uint32_t i = 0; i < count; ++i) bytes[i] = in.u8();
         vc_inject_rx(0, channel, bytes, count);
     }},
    {"fault clear", [](Input&) { vc_fault_clear(); }},
    {"GPIOH1 low later", [](Input& in) { vc_gpio_schedule(0, kGpioH1Line, 0, in.u8() % 8); }},
};
constexpr size_t kOpCount = sizeof kOps / sizeof kOps[0];

void StartFresh() {
    vc_reset();
    kl::ResetForTests();
    kl::platform::SetSleepHook([](uint32_t) {});
    kl::mpsse::SetNoProgressLimitMsForTests(0);  // replies are there at once, or never
    kl::uart::SetReadFilePassLimitForTests(50);
    kl::uart::SetPacingIntervalMsForTests(0);
    directoryB(Wide(logDirectory).c_str());
    LoadD2XXDLL();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tracing = getenv("KL_FUZZ_TRACE") != nullptr;
    char pattern[] = "/tmp/kl-fuzz-XXXXXX";
    if (mkdtemp(pattern)) logDirectory = pattern;
    // As long as the longest send. 0xAA, should it reach channel A's engine by mistake, is the
    // sync probe, which the engine answers cheaply: a whole file of slow commands would not be.
    FILE* file = fopen(kl::hardening::ScratchPath("to_send").c_str(), "wb");
    if (file) {
        const std::vector<uint8_t> bytes(kLongestSend, 0xAA);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    char error[256] = "";
    if (vc_set_reset_scenario(kScenario, error, sizeof error) != 0) {
        fprintf(stderr, "fuzz scenario: %s\n", error);
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StartFresh();
    Input in(data, size);
    while (!in.done() && vc_log_count() < kVendorCallBudget) kOps[in.u8() % kOpCount].run(in);
    CloseDevice();
    while (UnLoadD2XXDLL() != 0) {
    }
    // What the input made the model grow is freed now, so an input allocates no more than it
    // frees unless it leaks (libFuzzer runs a leak check on inputs that do).
    vc_reset();
    return 0;
}

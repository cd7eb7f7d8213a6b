// Fuzzes the library end to end: the input is read as a sequence of export calls with their
// arguments, interleaved with virtual-cable events (failing calls, short writes, a pulled or
// replugged cable, bytes arriving). After every call: the result is one the export may give, and
// the command queue's cursor lies inside CommandBuffer. Waits are shortened, pauses and message
// boxes go to hooks, so no input blocks.
#include <stdlib.h>
#include <unistd.h>

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

// Message boxes are dismissed at once.
extern "C" void KestrelLinkMessageBox(const char16_t*) {}

namespace {

using kl::hardening::FindExport;

// The input, consumed from the front; an exhausted input reads as zeros.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    uint32_t upTo(uint32_t limit) { return u32() % (limit + 1); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::string logDirectory;
std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void Fail(const char* what, const char* name, int result) {
    fprintf(stderr, "invariant broken: %s after %s (result %d)\n", what, name, result);
    __builtin_trap();
}

// Checks the result against the export's codes and the queue cursor against the buffer.
void Check(const char* name, int result) {
    const kl::hardening::ExportRow* row = FindExport(name);
    if (!row) Fail("unknown export", name, result);
    bool receiver = std::string(name).find("Read_FILE_UART") == 0;
    if (receiver ? result < 0 : !kl::hardening::CodeAllowed(*row, result)) {
        Fail("result outside the export's codes", name, result);
    }
    if (kl::mpsse::QueuedBytes() > kl::mpsse::kBufferSize) Fail("queue cursor", name, result);
}

#define CALL(name, expr) Check(#name, (expr))
#define CALL_VOID(name, expr) ((expr), Check(#name, 0))

void StartFresh() {
    vc_reset();
    kl::ResetForTests();
    kl::platform::SetSleepHook([](uint32_t) {});
    kl::mpsse::SetNoProgressLimitMsForTests(1);
    kl::uart::SetReadFilePassLimitForTests(50);
    kl::uart::SetPacingIntervalMsForTests(0);
    directoryB(Wide(logDirectory).c_str());
    LoadD2XXDLL();
}

const char16_t* Description(Input& in) {
    static const char16_t* const kParts[] = {u"ZV7300LNK", u"", u"ZV7300LNK A", u"Dual", u"zv"};
    return kParts[in.u8() % 5];
}

void OpenSomething(Input& in) {
    const uint32_t divisor = in.u8() == 0xFF ? 0x10000 : in.u8();
    switch (in.u8() % 12) {
        case 0:
            CALL(OpenDevice, OpenDevice(Description(in), u"", divisor));
            break;
        case 1:
            CALL(OpenDevice2, OpenDevice2());
            break;
        case 2:
            CALL(OpenDevice3, OpenDevice3(in.u8() & 1 ? 115200 : in.u32()));
            break;
        case 3:
            CALL(OpenDevice4, OpenDevice4(Description(in), u"", 9600));
            break;
        case 4:
            CALL(OpenDevice5, OpenDevice5(Description(in), nullptr, divisor));
            break;
        case 5:
            CALL(OpenDevice_EDP, OpenDevice_EDP(Description(in), u"", divisor));
            break;
        case 6: {
            kl_bstr text = nullptr;
            CALL(OpenDevice_EDP2, OpenDevice_EDP2(Description(in), u"", divisor, &text));
            free(text);
            break;
        }
        case 7:
            CALL(CheckDeviceTalkable, CheckDeviceTalkable(nullptr, nullptr, divisor));
            break;
        case 8: {
            std::u16string d = Description(in), s;
            CALL(OpenDevice5_B7, OpenDevice5_B7(d.data(), s.data(), divisor));
            CALL(OpenDevice5_CopyE, OpenDevice5_CopyE(d.data(), s.data(), divisor));
            break;
        }
        case 9:
            CALL_VOID(CloseDevice, CloseDevice());
            break;
        case 10:
            CALL_VOID(CloseDevice2, CloseDevice2());
            break;
        default:
            CALL_VOID(CloseDevice3, CloseDevice3());
            break;
    }
}

void Jtag(Input& in) {
    const uint8_t mode = in.u8();
    std::vector<uint8_t> bytes(512 + 2, in.u8());
    switch (in.u8() % 10) {
        case 0:
            CALL(JTAG_WriteTMS, JTAG_WriteTMS(in.u8() % 8, bytes.data()));
            break;
        case 1:
            CALL(JTAG_WriteTMS2, JTAG_WriteTMS2(in.u8(), in.u8() % 8, bytes.data()));
            break;
        case 2:
            CALL(JTAG_Clk, JTAG_Clk(mode, static_cast<int16_t>(in.u16())));
            break;
        case 3:
        case 4: {
            const uint32_t bits = in.upTo(512 * 8);
            std::vector<uint8_t> tdo(bits / 8 + 1);
            kl_u32 bitsRead = 0;
            uint8_t* out = in.u8() & 1 ? tdo.data() : nullptr;
            if (in.u8() & 1) {
                CALL(JTAG_WriteTDI, JTAG_WriteTDI(mode, bits, bytes.data(), out, &bitsRead, 1));
            } else {
                CALL(JTAG_WriteTDI2, JTAG_WriteTDI2(mode, bits, bytes.data(), out, nullptr, 0));
            }
            break;
        }
        case 5:
            CALL(JTAG_ReadTDO2, JTAG_ReadTDO2(mode, in.upTo(4096)));
            break;
        case 6:
            CALL(JTAG_Send2FTDI, JTAG_Send2FTDI());
            break;
        case 7: {
            const uint32_t count = in.upTo(600);
            std::vector<uint8_t> buffer(count);
            kl_u32 received = 0;
            CALL(JTAG_RxFTDI, JTAG_RxFTDI(count, count ? buffer.data() : nullptr, &received));
            if (received > count) Fail("more received than expected", "JTAG_RxFTDI", 0);
            break;
        }
        case 8: {
            uint8_t value = 0;
            CALL(JTAG_ReadPort, JTAG_ReadPort(in.u8() & 1 ? &value : nullptr));
            break;
        }
        default:
            CALL_VOID(ResetXilinx, ResetXilinx(in.u8() % 3, in.u8() % 3));
            break;
    }
}

void SpiAndPins(Input& in) {
    switch (in.u8() % 12) {
        case 0: {
            const uint32_t count = in.upTo(1024);
            std::vector<uint8_t> buffer(count);
            kl_u32 received = 0;
            CALL(SPI_ReadDI,
                 SPI_ReadDI(in.u8(), count, in.u8() & 1 ? buffer.data() : nullptr, &received));
            break;
        }
        case 1: {
            const uint32_t count = in.upTo(70000);
            std::vector<uint8_t> data(count, 0xA5);
            CALL(SPI_WriteDO, SPI_WriteDO(in.u8(), count, data.data()));
            break;
        }
        case 2:
            CALL(Disable_AllTalk, Disable_AllTalk());
            break;
        case 3:
            CALL(GPIOL_low, GPIOL_low());
            break;
        case 4:
            CALL(GPIO2_low, GPIO2_low());
            break;
        case 5:
            CALL(GPIO2_low2, GPIO2_low2());
            break;
        case 6:
            CALL(GPIO3_low, GPIO3_low());
            break;
        case 7:
            CALL(GPIOH2_high, GPIOH2_high());
            break;
        case 8:
            CALL(GPIOH2_low, GPIOH2_low());
            break;
        case 9:
            CALL(Wait_GPIOH1_Low, Wait_GPIOH1_Low());
            break;
        default:
            CALL(FTDI_SetClk, FTDI_SetClk(in.u32() % 0x20000));
            break;
    }
}

void Uart(Input& in) {
    const std::string received = kl::hardening::ScratchPath("fuzz_received");
    const std::string toSend = kl::hardening::ScratchPath("fuzz_to_send");
    switch (in.u8() % 10) {
        case 0:
            CALL(Read_UART, Read_UART());
            break;
        case 1:
            CALL(Write_UART, Write_UART());
            break;
        case 2:
            CALL(Set_Dtr, Set_Dtr());
            break;
        case 3:
            CALL(Clr_Dtr, Clr_Dtr());
            break;
        case 4:
            CALL(Read_FILE_UART, Read_FILE_UART(received.c_str(), in.upTo(300)));
            break;
        case 5:
            CALL(Read_FILE_UART_2,
                 Read_FILE_UART_2(Wide(received).c_str(), in.upTo(300), in.u8() & 1, -1.0));
            break;
        case 6:
            CALL(Write_FILE_UART, Write_FILE_UART(toSend.c_str(), in.upTo(300)));
            break;
        case 7: {
            // Paced sends make one write per byte: kept short so that an input stays quick.
            const bool paced = in.u8() & 1;
            const uint32_t size = paced ? in.upTo(300) : in.upTo(140000);
            CALL(Write_FILE_UART_2, Write_FILE_UART_2(Wide(toSend).c_str(), size, paced ? 1.0 : 0));
            break;
        }
        case 8:
            CALL(SelectChannelB, (SelectChannelB(), 0));
            break;
        default:
            CALL(SelectChannelA, (SelectChannelA(), 0));
            break;
    }
}

void Binding(Input& in) {
    switch (in.u8() % 8) {
        case 0:
            CALL(ChkDLLVer, ChkDLLVer(in.u32()));
            break;
        case 1:
            CALL(ResetDevice2, ResetDevice2());
            break;
        case 2:
            CALL(Reload_Driver, Reload_Driver(in.u16(), in.u16()));
            break;
        case 3:
            CALL(Reload_Driver_B8, static_cast<int>(Reload_Driver_B8(in.u16(), in.u16())));
            break;
        case 4:
            CALL_VOID(test_APA, test_APA());
            break;
        case 5:
            CALL(UnLoadD2XXDLL, UnLoadD2XXDLL());
            break;
        case 6:
            CALL(LoadD2XXDLL, LoadD2XXDLL());
            break;
        default:
            if (in.u8() & 1) {
                CALL(ProgramDevice, ProgramDevice(Description(in), u"SN", u"user text"));
            } else {
                CALL(Erase_ProgedEEPROM, Erase_ProgedEEPROM());
            }
            break;
    }
}

void CableEvent(Input& in) {
    const char* entry = vc_entry_name(in.u8() % 38);
    const uint32_t nth = 1 + in.u8() % 8;
    switch (in.u8() % 7) {
        case 0:
            vc_fault_fail(entry, nth, 1 + in.u8() % 18, in.u8() % 4 == 0);
            break;
        case 1:
            vc_fault_unplug(entry, nth, 0);
            break;
        case 2:
            vc_fault_short_write(nth, in.u8() % 16);
            break;
        case 3:
            vc_replug(0);
            break;
        case 4:
            vc_unplug(0);
            break;
        case 5: {
            uint8_t bytes[64];
            const uint32_t count = in.u8() % 64;
            for (uint32_t i = 0; i < count; ++i) bytes[i] = in.u8();
            vc_inject_rx(0, in.u8() & 1, bytes, count);
            break;
        }
        default:
            vc_fault_clear();
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/kl-fuzz-XXXXXX";
    if (mkdtemp(pattern)) logDirectory = pattern;
    FILE* file = fopen(kl::hardening::ScratchPath("fuzz_to_send").c_str(), "wb");
    if (file) {
        fputs("bytes to send over the serial line", file);
        fclose(file);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StartFresh();
    Input in(data, size);
    for (int step = 0; step < 48 && !in.done(); ++step) {
        switch (in.u8() % 6) {
            case 0:
                OpenSomething(in);
                break;
            case 1:
                Jtag(in);
                break;
            case 2:
                SpiAndPins(in);
                break;
            case 3:
                Uart(in);
                break;
            case 4:
                Binding(in);
                break;
            default:
                CableEvent(in);
                break;
        }
    }
    vc_fault_clear();
    CloseDevice();
    while (UnLoadD2XXDLL() != 0) {
    }
    return 0;
}

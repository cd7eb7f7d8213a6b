#include "session/session.h"

#include <cstdio>

#include "common/d2xx_library.h"
#include "common/os.h"

namespace kestrel {
namespace {

template <class Fn>
bool Find(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(os::FindLibraryExport(name));
    return fn != nullptr;
}

}  // namespace

const UartExports* FindUartExports() {
    static UartExports exports;
    static const bool found = Find(exports.OpenDevice4, "OpenDevice4") &&
                              Find(exports.Write_FILE_UART, "Write_FILE_UART") &&
                              Find(exports.Read_FILE_UART, "Read_FILE_UART") &&
                              Find(exports.Write_FILE_UART_2, "Write_FILE_UART_2") &&
                              Find(exports.Read_FILE_UART_2, "Read_FILE_UART_2") &&
                              Find(exports.Set_Dtr, "Set_Dtr") && Find(exports.Clr_Dtr, "Clr_Dtr");
    return found ? &exports : nullptr;
}

const ProvisionExports* FindProvisionExports() {
    static ProvisionExports exports;
    static const bool found = Find(exports.directoryB, "directoryB") &&
                              Find(exports.ProgramDevice, "ProgramDevice") &&
                              Find(exports.Erase_ProgedEEPROM, "Erase_ProgedEEPROM");
    return found ? &exports : nullptr;
}

std::string OpenResultText(int code, bool uart) {
    switch (code) {
        case 0:
            return "opened";
        case 1:
            return "closing the previous connection failed";
        case 2:
            return "FT_Rescan failed";
        case 3:
            return "no device found";
        case 4:
            return "the device list could not be read";
        case 5:
            return "no device matches the description and serial";
        case 6:
            return "the number of matching channels is not 2 (more than one cable?)";
        case 9:
            return "channel A could not be opened";
        case 19:
            return uart ? "channel B: flow control failed" : "more than 20 devices match";
        default:
            break;
    }
    if (uart) {
        if (code >= 10 && code <= 16) return "setting up channel A as a UART failed";
        if (code == 17) return "channel B could not be opened";
        if (code >= 18 && code <= 24) return "setting up channel B as a UART failed";
    } else {
        if (code >= 10 && code <= 14) return "resetting channel A or entering MPSSE mode failed";
        if (code == 15) return "the MPSSE engine did not answer in step (no 0xAA echo)";
        if (code == 16 || code == 17) return "the pin or clock command failed";
        if (code == 18) return "bytes were left over after the bring-up";
        if (code == 21) return "channel B could not be opened";
    }
    return "unknown result";
}

Session::~Session() {
    if (loaded_) UnLoadD2XXDLL();
    if (started_) KeepVirtualMemory(kExitOk);
}

std::string Session::CableName() const {
    if (!virtual_) return d2xxPath_.empty() ? "vendor D2XX library" : "D2XX library " + d2xxPath_;
    const std::string& scenario = *options_.virtualScenario;
    return scenario.empty() ? "virtual cable (embedded default scenario)"
                            : "virtual cable (scenario " + scenario + ")";
}

int Session::LoadChosenD2xx(std::string& error) {
    D2xxChoice choice;
    if (!ChooseD2xxLibrary(options_.d2xx, choice, error)) return kExitNoLibrary;
    d2xxPath_ = choice.path;
    if (choice.path.empty()) return kExitOk;
    std::string reason;
    if (!os::LoadLibraryFile(choice.path, reason)) {
        error = "cannot load the D2XX library " + choice.path + ": " + reason;
        return kExitNoLibrary;
    }
    return kExitOk;
}

int Session::Start(bool virtualByDefault) {
    if (!options_.virtualScenario && virtualByDefault && !options_.hardware) {
        options_.virtualScenario = "";
    }
    std::string error;
    if (options_.virtualScenario && !options_.d2xx.empty()) {
        return Fail(kExitUsage, "--d2xx chooses the library for a real cable; not with --virtual");
    }
    if (options_.virtualScenario) {
        virtual_ = std::make_unique<VirtualCable>();
        if (!virtual_->Load(error)) return Fail(kExitNoLibrary, error);
        if (!virtual_->LoadScenario(*options_.virtualScenario, error)) {
            return Fail(kExitScenario, error);
        }
        if (!options_.state.empty() && os::IsFile(options_.state) &&
            !virtual_->LoadState(options_.state, error)) {
            return Fail(kExitFile, "--state: " + error);
        }
    } else if (int code = LoadChosenD2xx(error)) {
        return Fail(code, error);
    } else if (!options_.trace.empty() || !options_.vcd.empty()) {
        return Fail(kExitUsage, "--trace and --vcd record the virtual cable; add --virtual");
    } else if (!options_.state.empty()) {
        return Fail(kExitUsage, "--state keeps the virtual cable's memory; add --virtual");
    }
    if (!options_.trace.empty()) {
        trace_ = std::make_unique<TraceRecorder>();
        if (!trace_->Open(options_.trace, error)) return Fail(kExitFile, error);
    }
    if (!options_.vcd.empty()) {
        vcd_ = std::make_unique<VcdRecorder>();
        if (!vcd_->Open(options_.vcd, error)) return Fail(kExitFile, error);
        if (!vcd_->Attach(*virtual_, options_.vcdCable, error))
            return Fail(kExitUnavailable, error);
    }
    if (trace_) trace_->Attach(*virtual_);
    const int loaded = LoadD2XXDLL();
    if (loaded == 1) {
        return Fail(kExitNoLibrary, virtual_ ? "LoadD2XXDLL could not load the virtual cable"
                                             : std::string("no D2XX library (") +
                                                   os::kVendorLibraryName +
                                                   ") was found; install the vendor's library "
                                                   "or use --virtual");
    }
    if (loaded != 0) {
        return Fail(kExitNoLibrary, "LoadD2XXDLL returned " + std::to_string(loaded) +
                                        ": the D2XX library lacks an entry point");
    }
    loaded_ = true;
    if (virtual_) {
        memory_ = virtual_->Remember();
        started_ = true;
    }
    return kExitOk;
}

int Session::Finish(int code) {
    if (loaded_) {
        CloseDevice();
        UnLoadD2XXDLL();
        loaded_ = false;
    }
    if (started_) code = KeepVirtualMemory(code);
    if (trace_) trace_->Finish();
    if (vcd_) vcd_->Finish();
    return code;
}

int Session::KeepVirtualMemory(int code) {
    started_ = false;
    std::string error;
    if (!options_.state.empty()) {
        if (virtual_->SaveState(options_.state, error)) return code;
        const int failed = Fail(kExitFile, "--state: " + error);
        return code == kExitOk ? failed : code;
    }
    const std::string changes = virtual_->ChangesSince(memory_);
    if (!changes.empty()) {
        EndProgressLine();
        std::fprintf(stderr,
                     "kestrel: note: the virtual cable's changes (%s) are dropped at exit; "
                     "--state FILE keeps them for the next command\n",
                     changes.c_str());
    }
    return code;
}

bool Session::OpenMpsse(CallResult& result) {
    const WideString description = Wide(options_.description);
    const WideString serial = Wide(options_.serial);
    const int code = OpenDevice(description.c_str(), serial.c_str(), options_.divisor);
    if (Check(code, "OpenDevice", result)) return true;
    result.detail =
        "OpenDevice returned " + std::to_string(code) + ": " + OpenResultText(code, false);
    return false;
}

bool Session::OpenUart(uint32_t baud, CallResult& result) {
    const UartExports* uart = FindUartExports();
    if (!uart) return Reject("the UART exports are not available in this build", result);
    const WideString description = Wide(options_.description);
    const WideString serial = Wide(options_.serial);
    const int code = uart->OpenDevice4(description.c_str(), serial.c_str(), baud);
    if (Check(code, "OpenDevice4", result)) return true;
    result.detail =
        "OpenDevice4 returned " + std::to_string(code) + ": " + OpenResultText(code, true);
    return false;
}

}  // namespace kestrel

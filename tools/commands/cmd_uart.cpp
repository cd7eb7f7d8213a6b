// kestrel uart send|receive|dtr: channel B as a serial port, opened with OpenDevice4.
#include <cstdio>

#include "commands/commands.h"
#include "commands/options.h"
#include "common/inputs.h"
#include "common/report.h"
#include "kestrellink_result_codes.h"

namespace kestrel {
namespace {

struct UartOptions {
    uint32_t baud = 115200;
    std::string file;
    uint32_t size = 0;
    double timeout = 5;
    bool paced = false;
    std::string dtr = "pulse";
};

namespace codes = kestrellink_result_codes;

// The highest baud rate the options take; the library refuses what the chip cannot do.
constexpr uint64_t kMaxBaud = 12000000;
constexpr double kMaxTimeoutSeconds = 86400;

void ShowPeerCount(Session& session) {
    const int device = VirtualDeviceIndex(session);
    const VirtualApi* api = session.isVirtual() ? &session.virtualCable()->api() : nullptr;
    if (device >= 0 && api->vc_uart_received_count) {
        report::Set("peer_bytes_received", json::Number(api->vc_uart_received_count(device, 1)));
        std::printf("the virtual peer on channel B has received %llu bytes\n",
                    static_cast<unsigned long long>(api->vc_uart_received_count(device, 1)));
    }
}

// The bytes to send are read (and counted) before the cable is opened; the transfer sends exactly
// those, from the file or from a copy of standard input.
int RunSend(Session& session, const UartOptions& o, const std::vector<uint8_t>& bytes,
            const std::string& from) {
    const auto size = static_cast<uint32_t>(bytes.size());
    const WideString name = Wide(from);
    Stopwatch watch;
    const int code = Write_FILE_UART_2(name.c_str(), size, o.paced ? 1.0 : 0.0);
    if (code != codes::kSendOk) {
        report::LibraryCall("Write_FILE_UART_2", code);
        return Fail(kExitLibraryCall,
                    "Write_FILE_UART_2 returned " + std::to_string(code) +
                        (code == codes::kSendCannotOpenFile ? " (the file cannot be opened)" : ""));
    }
    report::Set("bytes_sent", json::Number(size));
    std::printf("sent %u bytes from %s on channel B in %.1f ms\n", size, o.file.c_str(),
                watch.Milliseconds());
    ShowPeerCount(session);
    return kExitOk;
}

// The receiver writes a file of this process's own beside the target, renamed into place only
// when every byte came.
int RunReceive(const UartOptions& o) {
    const std::string temporary = TemporaryNameBeside(o.file);
    const int slot = RemoveOnInterrupt(temporary);
    const WideString name = Wide(temporary);
    Stopwatch watch;
    const int code = Read_FILE_UART_2(name.c_str(), o.size, 1, o.timeout);
    std::string error;
    const bool kept = code == codes::kReceiveOk && RenameIntoPlace(temporary, o.file, error);
    if (!kept) std::remove(temporary.c_str());
    ForgetOnInterrupt(slot);
    if (kept) {
        report::Set("bytes_received", json::Number(o.size));
        std::printf("received %u bytes into %s in %.1f ms\n", o.size, o.file.c_str(),
                    watch.Milliseconds());
        return kExitOk;
    }
    if (code == codes::kReceiveOk) return Fail(kExitFile, error + " (the bytes are lost)");
    if (code == codes::kReceiveCannotWriteFile)
        return Fail(kExitFile, "cannot write " + o.file + " (the bytes are lost)");
    // A receive that timed out returns the number of bytes waiting, or this code when none came.
    if (code == codes::kReceiveTimedOutEmpty) {
        report::LibraryCall("Read_FILE_UART_2", code);
        return Fail(kExitLibraryCall, "Read_FILE_UART_2 returned " + std::to_string(code) +
                                          ": nothing arrived in time");
    }
    report::LibraryCall("Read_FILE_UART_2", code);
    return Fail(kExitLibraryCall, "Read_FILE_UART_2 returned " + std::to_string(code) +
                                      " (a failure, or the bytes waiting when the time ran out; " +
                                      o.file + " is unchanged)");
}

int RunDtr(const std::string& action) {
    CallResult result;
    if (action == "set" || action == "pulse") Check(Set_Dtr(), "Set_Dtr", result);
    if (result.ok() && (action == "clear" || action == "pulse")) {
        Check(Clr_Dtr(), "Clr_Dtr", result);
    }
    if (!result.ok()) return FailCall(result);
    std::printf("DTR %s: done\n", action.c_str());
    return kExitOk;
}

// send reads its file, receive writes it.
CommandFiles UartFiles(const UartOptions& o, bool send, bool receive) {
    if (send) return {{{"the input file", o.file}}};
    if (receive) return {{}, {{"the output file", o.file}}};
    return {};
}

int RunUart(const GlobalOptions& options, const UartOptions& o, bool send, bool receive) {
    if (const int code = CheckCommandFiles(options, UartFiles(o, send, receive))) return code;
    // Files first: what is sent is read now, and what is received must have a place to go.
    std::vector<uint8_t> bytes;
    StandardInputCopy spool;  // the transfer sends from a file
    std::string error;
    if (send && !ReadInputFile(o.file, kMaxInputBytes, bytes, error)) {
        return Fail(kExitFile, error);
    }
    if (send && bytes.empty()) return Fail(kExitUsage, o.file + " is empty: nothing to send");
    if (send && o.file == "-" && !spool.Write(bytes, error)) return Fail(kExitFile, error);
    if (receive && !CheckOutputTarget(o.file, "the output file", false, error)) {
        return Fail(kExitFile, error);
    }
    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenUart(o.baud, result)) {
        return session.Finish(FailCall(result));
    }
    const int code = send      ? RunSend(session, o, bytes, o.file == "-" ? spool.path() : o.file)
                     : receive ? RunReceive(o)
                               : RunDtr(o.dtr);
    return session.Finish(code);
}

}  // namespace

Command AddUartCommand(CLI::App& root) {
    auto o = std::make_shared<UartOptions>();
    CLI::App* app = root.add_subcommand(
        "uart", "Serial transfers on channel B (OpenDevice4, then the UART file transfers)");
    app->require_subcommand(1);
    app->add_option("--baud", o->baud, "Baud rate of both channels")
        ->capture_default_str()
        ->transform(Number(1, kMaxBaud));
    CLI::App* send = app->add_subcommand("send", "Send a file's bytes (Write_FILE_UART_2)");
    send->add_option("file", o->file, "File to send (- for standard input)")->required();
    send->add_flag("--paced", o->paced, "One byte per second instead of one write");
    CLI::App* receive =
        app->add_subcommand("receive", "Receive a number of bytes into a file (Read_FILE_UART_2)");
    receive->add_option("file", o->file, "File to write")->required();
    receive->add_option("--size", o->size, "Bytes to wait for")
        ->required()
        ->transform(Number(1, kMaxInputBytes));
    receive->add_option("--timeout", o->timeout, "Seconds to wait")
        ->capture_default_str()
        ->transform(Seconds(kMaxTimeoutSeconds));
    CLI::App* dtr = app->add_subcommand("dtr", "Drive the DTR line (Set_Dtr / Clr_Dtr)");
    dtr->add_option("action", o->dtr, "set, clear or pulse (set, then clear)")
        ->check(CLI::IsMember({"set", "clear", "pulse"}))
        ->capture_default_str();
    return {app,
            [o, send, receive](const GlobalOptions& options) {
                return RunUart(options, *o, send->parsed(), receive->parsed());
            },
            [o, send, receive] { return UartFiles(*o, send->parsed(), receive->parsed()); }};
}

}  // namespace kestrel

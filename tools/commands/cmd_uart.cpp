// kestrel uart send|receive|dtr: channel B as a serial port, opened with OpenDevice4.
#include <sys/stat.h>

#include <cstdio>

#include "commands/commands.h"
#include "common/files.h"

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

// A receive that timed out returns the number of bytes waiting, or 6 when none came.
constexpr int kReceiveTimedOutEmpty = 6;

int RunSend(Session& session, const UartExports& uart, const UartOptions& o) {
    struct stat info {};
    std::string error;
    if (!CheckInputFile(o.file, error) || stat(o.file.c_str(), &info) != 0) {
        return Fail(kExitFile, error);
    }
    const auto size = static_cast<uint32_t>(info.st_size);
    const WideString name = Wide(o.file);
    Stopwatch watch;
    const int code = uart.Write_FILE_UART_2(name.c_str(), size, o.paced ? 1.0 : 0.0);
    if (code != 0) {
        return Fail(kExitFailed, "Write_FILE_UART_2 returned " + std::to_string(code) +
                                     (code == 7 ? " (the file cannot be opened)" : ""));
    }
    std::printf("sent %u bytes from %s on channel B in %.1f ms\n", size, o.file.c_str(),
                watch.Milliseconds());
    const int device = VirtualDeviceIndex(session);
    const VirtualApi* api = session.isVirtual() ? &session.virtualCable()->api() : nullptr;
    if (device >= 0 && api->vc_uart_received_count) {
        std::printf("the virtual peer on channel B has received %llu bytes\n",
                    static_cast<unsigned long long>(api->vc_uart_received_count(device, 1)));
    }
    return kExitOk;
}

int RunReceive(const UartExports& uart, const UartOptions& o) {
    const WideString name = Wide(o.file);
    Stopwatch watch;
    const int code = uart.Read_FILE_UART_2(name.c_str(), o.size, 1, o.timeout);
    if (code == 0) {
        std::printf("received %u bytes into %s in %.1f ms\n", o.size, o.file.c_str(),
                    watch.Milliseconds());
        return kExitOk;
    }
    if (code == 2) return Fail(kExitFile, "cannot write " + o.file + " (the bytes are lost)");
    if (code == kReceiveTimedOutEmpty) {
        return Fail(kExitFailed, "Read_FILE_UART_2 returned 6: nothing arrived in time");
    }
    return Fail(kExitFailed, "Read_FILE_UART_2 returned " + std::to_string(code) +
                                 " (a failure, or the bytes waiting when the time ran out)");
}

int RunDtr(const UartExports& uart, const std::string& action) {
    CallResult result;
    if (action == "set" || action == "pulse") Check(uart.Set_Dtr(), "Set_Dtr", result);
    if (result.ok() && (action == "clear" || action == "pulse")) {
        Check(uart.Clr_Dtr(), "Clr_Dtr", result);
    }
    if (!result.ok()) return Fail(kExitFailed, result.Describe());
    std::printf("DTR %s: done\n", action.c_str());
    return kExitOk;
}

}  // namespace

Command AddUartCommand(CLI::App& root) {
    auto o = std::make_shared<UartOptions>();
    CLI::App* app = root.add_subcommand(
        "uart", "Serial transfers on channel B (OpenDevice4, then the UART file transfers)");
    app->require_subcommand(1);
    app->add_option("--baud", o->baud, "Baud rate of both channels")->capture_default_str();
    CLI::App* send = app->add_subcommand("send", "Send a file's bytes (Write_FILE_UART_2)");
    send->add_option("file", o->file, "File to send")->required();
    send->add_flag("--paced", o->paced, "One byte per second instead of one write");
    CLI::App* receive =
        app->add_subcommand("receive", "Receive a number of bytes into a file (Read_FILE_UART_2)");
    receive->add_option("file", o->file, "File to write")->required();
    receive->add_option("--size", o->size, "Bytes to wait for")->required();
    receive->add_option("--timeout", o->timeout, "Seconds to wait")->capture_default_str();
    CLI::App* dtr = app->add_subcommand("dtr", "Drive the DTR line (Set_Dtr / Clr_Dtr)");
    dtr->add_option("action", o->dtr, "set, clear or pulse (set, then clear)")
        ->check(CLI::IsMember({"set", "clear", "pulse"}))
        ->capture_default_str();
    return {app, [o, send, receive](const GlobalOptions& options) {
                const UartExports* uart = FindUartExports();
                if (!uart) {
                    return Fail(kExitUnavailable,
                                "uart: not available in this build (the library has no UART "
                                "exports)");
                }
                // The file the receiver writes must be writable before anything arrives.
                std::string error;
                if (receive->parsed() && !CheckOutputFile(o->file, error)) {
                    return Fail(kExitFile, error);
                }
                Session session(options);
                if (const int code = session.Start()) return code;
                CallResult result;
                if (!session.OpenUart(o->baud, result)) {
                    return session.Finish(Fail(kExitFailed, result.Describe()));
                }
                const int code = send->parsed()      ? RunSend(session, *uart, *o)
                                 : receive->parsed() ? RunReceive(*uart, *o)
                                                     : RunDtr(*uart, o->dtr);
                return session.Finish(code);
            }};
}

}  // namespace kestrel

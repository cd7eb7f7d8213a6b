// kestrel demo: the typical exchange with the cable, step by step, with each step's result code
// and time. Runs on the virtual cable unless --hardware is given.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "commands/commands.h"
#include "common/os.h"
#include "common/report.h"
#include "flash/flash_geometry.h"
#include "flash/spi_ops.h"
#include "jtag/jtag_ops.h"

namespace kestrel {
namespace {

constexpr uint32_t kUartBaud = 115200;
constexpr uint32_t kUartBytes = 64;
constexpr uint32_t kBytesShown = 16;
constexpr uint32_t kPageBytes = 256;
const char* const kUserText = "KestrelLink demo";
constexpr double kBaseClockHz = 12e6;

struct Report {
    int passed = 0;
    int failed = 0;
    int skipped = 0;

    void Step(const char* name, const CallResult& result, double ms, const std::string& detail) {
        const bool ok = result.ok();
        ok ? ++passed : ++failed;
        std::printf("  [%s] %-22s result %-3d %8.1f ms  %s\n", ok ? " ok " : "FAIL", name,
                    result.code, ms, ok ? detail.c_str() : result.Describe().c_str());
        report::Append("steps",
                       json::Object({{"name", json::String(name)},
                                     {"status", json::String(ok ? "ok" : "failed")},
                                     {"code", json::Number(result.code)},
                                     {"ms", json::Number(static_cast<int64_t>(ms))},
                                     {"detail", json::String(ok ? detail : result.Describe())}}));
    }
    void Skip(const char* name, const std::string& why) {
        ++skipped;
        std::printf("  [skip] %-22s %s\n", name, why.c_str());
        report::Append("steps", json::Object({{"name", json::String(name)},
                                              {"status", json::String("skipped")},
                                              {"detail", json::String(why)}}));
    }
};

void JtagStep(Report& report) {
    Stopwatch watch;
    CallResult result;
    ChainScan scan;
    ScanChain(scan, result);
    std::string detail = std::to_string(scan.count) + " device(s):";
    for (const ChainDevice& d : scan.devices)
        detail += " " + (d.hasIdcode ? Hex32(d.idcode) : "bypass");
    report.Step("JTAG chain IDCODEs", result, watch.Milliseconds(), detail);
}

void SpiSteps(Session& session, Report& report) {
    Stopwatch watch;
    CallResult result;
    uint8_t id[3] = {0, 0, 0};
    Flash flash;
    FlashJedecId(flash, id, result);
    const uint64_t size = SizeFromJedec(id);
    report.Step("SPI flash JEDEC ID", result, watch.Milliseconds(),
                HexBytes(id, 3) + (size ? " (" + SizeText(size) + ")" : ""));

    Stopwatch pageWatch;
    CallResult pageResult;
    std::vector<uint8_t> page(kPageBytes);
    FlashRead(flash, 0, page.data(), kPageBytes, pageResult);
    const int device = VirtualDeviceIndex(session);
    if (pageResult.ok() && device >= 0) {
        std::vector<uint8_t> inside(kPageBytes);
        session.virtualCable()->api().vc_flash_read(device, 0, inside.data(), kPageBytes);
        if (inside != page) Reject("the page read differs from the flash's contents", pageResult);
    }
    report.Step("SPI flash page 0", pageResult, pageWatch.Milliseconds(),
                HexBytes(page.data(), kBytesShown) + " ... (" + std::to_string(kPageBytes) +
                    " bytes" + (device >= 0 ? ", as stored" : "") + ")");
}

void UartSteps(Session& session, const std::string& folder, Report& report) {
    // Both channels are still open from the MPSSE open, whose successor would close only the
    // current one: close the connection first.
    CloseDevice();
    Stopwatch watch;
    CallResult result;
    const std::string out = folder + "/uart-out.bin";
    const std::string in = folder + "/uart-in.bin";
    std::vector<uint8_t> bytes(kUartBytes);
    for (uint32_t i = 0; i < kUartBytes; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const bool opened = session.OpenUart(kUartBaud, result);
    if (opened && Check(Write_FILE_UART(out.c_str(), kUartBytes), "Write_FILE_UART", result) &&
        Check(Read_FILE_UART(in.c_str(), kUartBytes), "Read_FILE_UART", result)) {
        std::ifstream file(in, std::ios::binary);
        const std::vector<uint8_t> back{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
        if (back != bytes) Reject("the bytes read back differ from the bytes sent", result);
    }
    report.Step("UART round trip", result, watch.Milliseconds(),
                std::to_string(kUartBytes) + " bytes out on channel B at " +
                    std::to_string(kUartBaud) + " baud and back intact");

    if (!opened) {
        report.Skip("DTR set / clear", "channel B is not open");
        return;
    }
    Stopwatch dtrWatch;
    CallResult dtr;
    const int device = VirtualDeviceIndex(session);
    VcChannelSettings before{};
    if (device >= 0) session.virtualCable()->api().vc_channel_settings(device, 1, &before);
    if (Check(Set_Dtr(), "Set_Dtr", dtr) && Check(Clr_Dtr(), "Clr_Dtr", dtr) && device >= 0) {
        VcChannelSettings after{};
        session.virtualCable()->api().vc_channel_settings(device, 1, &after);
        if (after.dtr_changes != before.dtr_changes + 2 || after.dtr != 0) {
            Reject("channel B did not see DTR go up and down", dtr);
        }
    }
    report.Step("DTR set / clear", dtr, dtrWatch.Milliseconds(),
                std::string("Set_Dtr 0, Clr_Dtr 0") +
                    (device >= 0 ? "; channel B saw DTR rise and fall" : ""));
}

void ProvisionStep(Session& session, const std::string& folder, Report& report) {
    CloseDevice();
    Stopwatch watch;
    CallResult result;
    const WideString dir = Wide(folder);
    const WideString description = Wide(session.options().description);
    const WideString serial =
        Wide(session.options().serial.empty() ? std::string("ZV000001") : session.options().serial);
    const WideString text = Wide(kUserText);
    directoryB(dir.c_str());
    const std::string log = folder + "/Log.txt";
    const long before = FileSize(log);
    Check(ProgramDevice(description.c_str(), serial.c_str(), text.c_str()), "ProgramDevice",
          result);
    report.Step("EEPROM programming", result, watch.Milliseconds(),
                "ProgramDevice, user area \"" + std::string(kUserText) + "\"; Log.txt:");
    PrintLogLines(log, before, "           | ");
}

int RunDemo(const GlobalOptions& options, bool keep) {
    Session session(options);
    Stopwatch loadWatch;
    if (const int code = session.Start(true)) return code;
    // The demo is the reference run of the typical exchange: the same vendor calls on every
    // machine and in every test stage, so runs compare line for line. USB reply delivery would add
    // polls wherever a reply waits for the latency timer, so the demo keeps immediate delivery
    // whatever VCABLE_REPLY_DELIVERY says; scenarios run with --virtual follow their own choice.
    if (VirtualCable* cable = session.virtualCable(); cable && cable->api().vc_set_reply_delivery) {
        cable->api().vc_set_reply_delivery(VC_DELIVERY_IMMEDIATE);
    }
    std::printf("kestrel demo on the %s\n", session.CableName().c_str());
    Report report;
    report.Step("load D2XX library", CallResult{}, loadWatch.Milliseconds(), "LoadD2XXDLL");

    Stopwatch openWatch;
    CallResult open;
    session.OpenMpsse(open);
    const double clockHz = kBaseClockHz / ((1.0 + options.divisor) * 2);
    char clock[32];
    std::snprintf(clock, sizeof clock, clockHz >= 1e6 ? "%.4g MHz" : "%.4g kHz",
                  clockHz >= 1e6 ? clockHz / 1e6 : clockHz / 1e3);
    report.Step("open cable", open, openWatch.Milliseconds(),
                "OpenDevice(\"" + options.description + "\", \"" + options.serial + "\", " +
                    std::to_string(options.divisor) + "): channel A in MPSSE mode at " + clock +
                    ", channel B open");
    if (!open.ok()) {
        std::printf("demo: the cable could not be opened; nothing else was tried\n");
        return session.Finish(kExitFailed);
    }
    JtagStep(report);
    SpiSteps(session, report);
    const std::string folder = os::MakeTemporaryFolder("kestrel-demo-");
    if (folder.empty()) return session.Finish(Fail(kExitFile, "cannot create a temporary folder"));
    UartSteps(session, folder, report);
    ProvisionStep(session, folder, report);
    if (!keep) {
        for (const char* name : {"/uart-out.bin", "/uart-in.bin", "/Log.txt"}) {
            std::remove((folder + name).c_str());
        }
        os::RemoveFolder(folder);
    } else {
        std::printf("files kept in %s\n", folder.c_str());
    }
    std::printf("demo: %d passed, %d failed", report.passed, report.failed);
    if (report.skipped) std::printf(", %d not available in this build", report.skipped);
    std::printf("\n");
    return session.Finish(report.failed ? kExitFailed : kExitOk);
}

}  // namespace

Command AddDemoCommand(CLI::App& root) {
    auto keep = std::make_shared<bool>(false);
    CLI::App* app = root.add_subcommand(
        "demo",
        "Run the typical exchange (open, JTAG IDCODEs, SPI flash, UART, DTR, EEPROM) and "
        "report each step; uses the virtual cable unless --hardware is given");
    app->add_flag("--keep", *keep, "Keep the temporary files (UART data, Log.txt)");
    return {app, [keep](const GlobalOptions& options) { return RunDemo(options, *keep); }};
}

}  // namespace kestrel

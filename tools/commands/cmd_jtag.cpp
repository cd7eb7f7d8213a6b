// kestrel scan: the JTAG chain's length (through BYPASS) and the IDCODE of each device.
#include <cstdio>

#include "commands/commands.h"
#include "common/report.h"
#include "jtag/jtag_ops.h"

namespace kestrel {
namespace {

int RunScan(const GlobalOptions& options) {
    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    ChainScan scan;
    if (!session.OpenMpsse(result) || !ScanChain(scan, result)) {
        return session.Finish(FailCall(result, "scan failed"));
    }
    std::printf("JTAG chain: %d device(s) (device 0 is nearest TDI)\n", scan.count);
    report::Set("device_count", json::Number(scan.count));
    report::Set("devices", "[]");
    for (size_t i = 0; i < scan.devices.size(); ++i) {
        const ChainDevice& d = scan.devices[i];
        report::Append(
            "devices",
            json::Object({{"index", json::Number(uint64_t{i})},
                          {"idcode", d.hasIdcode ? json::String(Hex32(d.idcode)) : "null"}}));
        if (d.hasIdcode) {
            std::printf("  device %zu  IDCODE %s  %s\n", i, Hex32(d.idcode).c_str(),
                        DescribeIdcode(d.idcode).c_str());
        } else {
            std::printf("  device %zu  no IDCODE (BYPASS after reset)\n", i);
        }
    }
    return session.Finish(kExitOk);
}

}  // namespace

Command AddScanCommand(CLI::App& root) {
    CLI::App* app = root.add_subcommand(
        "scan", "Count the JTAG chain's devices through BYPASS and read their IDCODEs");
    return {app, RunScan};
}

}  // namespace kestrel

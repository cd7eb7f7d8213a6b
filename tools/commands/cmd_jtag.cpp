// kestrel scan: the JTAG chain's length (through BYPASS) and the IDCODE of each device.
#include <cstdio>

#include "commands/commands.h"
#include "jtag/jtag_ops.h"

namespace kestrel {
namespace {

int RunScan(const GlobalOptions& options) {
    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    ChainScan scan;
    if (!session.OpenMpsse(result) || !ScanChain(scan, result)) {
        return session.Finish(Fail(kExitFailed, "scan failed: " + result.Describe()));
    }
    std::printf("JTAG chain: %d device(s) (device 0 is nearest TDI)\n", scan.count);
    for (size_t i = 0; i < scan.devices.size(); ++i) {
        const ChainDevice& d = scan.devices[i];
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

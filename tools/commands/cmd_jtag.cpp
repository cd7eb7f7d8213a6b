// kestrel scan: the JTAG chain's length (through BYPASS) and the IDCODE of each device.
#include "commands/commands.h"
#include "commands/job_output.h"
#include "kestrel_engine.h"

namespace kestrel {
namespace {

int RunScan(const GlobalOptions& options) {
    Session session(options);
    if (const int code = session.Start()) return code;
    CallResult result;
    if (!session.OpenMpsse(result)) return session.Finish(FailCall(result, "scan failed"));
    kestrel_jtag_job job{};
    job.version = KESTREL_ENGINE_VERSION;
    job.verb = KESTREL_JTAG_SCAN;
    JobOutput out;
    return session.Finish(kestrel_jtag_run(&job, OnJobEvent, &out));
}

}  // namespace

Command AddScanCommand(CLI::App& root) {
    CLI::App* app = root.add_subcommand(
        "scan", "Count the JTAG chain's devices through BYPASS and read their IDCODEs");
    return {app, RunScan};
}

}  // namespace kestrel

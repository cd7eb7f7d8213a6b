// The C interface's JTAG functions: each runs one job for its caller and lets no C++ exception
// out (a job that cannot get its memory fails as an unavailable cable would).
#include "engine/jtag_job.h"

using kestrel::engine::Guarded;
using kestrel::engine::Job;

namespace {

int Check(const kestrel_jtag_job& request, Job& job) {
    kestrel::jtag::Program program;
    if (const int code = CheckJtagJob(request, program, job)) return code;
    return request.dry_run ? ReportParsed(request, program, job) : kestrel::kExitOk;
}

int Run(const kestrel_jtag_job& request, Job& job) {
    kestrel::jtag::Program program;
    if (const int code = CheckJtagJob(request, program, job)) return code;
    if (request.verb == KESTREL_JTAG_SCAN || request.verb == KESTREL_JTAG_IDCODE) {
        return RunChainScan(request, job);
    }
    return PlayJtagFile(request, program, job);
}

}  // namespace

extern "C" KESTREL_ENGINE_API int kestrel_jtag_check(const kestrel_jtag_job* request,
                                                     kestrel_event_fn events, void* context) {
    return Guarded(Check, request, "JTAG", events, context);
}

extern "C" KESTREL_ENGINE_API int kestrel_jtag_run(const kestrel_jtag_job* request,
                                                   kestrel_event_fn events, void* context) {
    return Guarded(Run, request, "JTAG", events, context);
}

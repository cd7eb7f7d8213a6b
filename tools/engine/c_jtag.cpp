// The C interface's JTAG functions: each runs one job for its caller and lets no C++ exception
// out (a job that cannot get its memory fails as an unavailable cable would).
#include <new>

#include "engine/jtag_job.h"

using kestrel::engine::Job;
using kestrel::engine::Readable;

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

// Runs `body` on a request the engine can read; no exception leaves it.
int Guarded(int (*body)(const kestrel_jtag_job&, Job&), const kestrel_jtag_job* request,
            kestrel_event_fn events, void* context) {
    Job job(events, context);
    if (!Readable(request, request ? request->version : 0, "JTAG", job)) {
        return kestrel::kExitUsage;
    }
    try {
        return body(*request, job);
    } catch (const std::bad_alloc&) {
        return job.Fail(kestrel::kExitUnavailable, "out of memory for the JTAG job");
    }
}

}  // namespace

extern "C" KESTREL_ENGINE_API int kestrel_jtag_check(const kestrel_jtag_job* request,
                                                     kestrel_event_fn events, void* context) {
    return Guarded(Check, request, events, context);
}

extern "C" KESTREL_ENGINE_API int kestrel_jtag_run(const kestrel_jtag_job* request,
                                                   kestrel_event_fn events, void* context) {
    return Guarded(Run, request, events, context);
}

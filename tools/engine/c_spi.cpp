// The C interface's SPI flash functions: each runs one job for its caller and lets no C++
// exception out (a job that cannot get its memory fails as an unavailable cable would).
#include "common/tck.h"
#include "engine/spi_job.h"
#include "flash/spi_ops.h"

using kestrel::engine::Guarded;
using kestrel::engine::Job;

extern "C" KESTREL_ENGINE_API int kestrel_spi_check(const kestrel_spi_job* request,
                                                    kestrel_event_fn events, void* context) {
    return Guarded(kestrel::engine::CheckSpiJob, request, "flash", events, context);
}

extern "C" KESTREL_ENGINE_API int kestrel_spi_run(const kestrel_spi_job* request,
                                                  kestrel_event_fn events, void* context) {
    return Guarded(kestrel::engine::RunSpiJob, request, "flash", events, context);
}

extern "C" KESTREL_ENGINE_API int kestrel_spi_transfer(const uint8_t* out, uint32_t out_count,
                                                       uint8_t* in, uint32_t in_count,
                                                       kestrel_event_fn events, void* context) {
    Job job(events, context);
    constexpr uint32_t kMaxTransfer = uint32_t{1} << 24;
    if ((out_count && !out) || (in_count && !in) || out_count > kMaxTransfer ||
        in_count > kMaxTransfer) {
        return job.Fail(kestrel::kExitUsage,
                        "a transfer's buffers must hold its counts, "
                        "each at most 16 MiB");
    }
    kestrel::CallResult result;
    try {
        kestrel::Flash flash;
        if (!kestrel::FlashTransfer(flash, out, out_count, in, in_count, result)) {
            return job.FailCall(result);
        }
    } catch (const std::bad_alloc&) {
        return job.Fail(kestrel::kExitUnavailable, "out of memory for the transfer");
    }
    return kestrel::kExitOk;
}

extern "C" KESTREL_ENGINE_API int kestrel_parse_clock(const char* text, double* hz,
                                                      kestrel_event_fn events, void* context) {
    Job job(events, context);
    if (!text || !hz) return job.Fail(kestrel::kExitUsage, "no clock given");
    try {
        std::string error;
        if (!kestrel::ParseClock(text, *hz, error)) return job.Fail(kestrel::kExitUsage, error);
    } catch (const std::bad_alloc&) {
        return job.Fail(kestrel::kExitUnavailable, "out of memory for the clock");
    }
    return kestrel::kExitOk;
}

extern "C" KESTREL_ENGINE_API uint32_t kestrel_clock_divisor(double hz) {
    return kestrel::DivisorFor(hz);
}

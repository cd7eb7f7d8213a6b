// The model clock's control functions.
#include "chip/bit_bang.h"
#include "chip/devices.h"
#include "entry_points/model_lock.h"
#include "record/wire_clock.h"
#include "vcable_clock.h"

using namespace vcable;

extern "C" {

VC_API void vc_clock_reset(void) {
    const ModelLock lock;
    ResetWireClock();
    // Replies already queued count as arrived: nothing waits for a time before the reset, and
    // asynchronous bit-bang samples from it on.
    for (int d = 0; d < DeviceCount(); ++d) {
        for (Channel& channel : DeviceAt(d)->channels) {
            channel.rx.SettleAll();
            RestartSampling(channel);
        }
    }
}

VC_API int vc_clock_read(int speed, VcClockReading* out) {
    const ModelLock lock;
    if (speed < 0 || speed >= kWireSpeeds || out == nullptr) return -1;
    const WireClockTotals t = ReadWireClock(speed);
    constexpr uint64_t kPsPerNs = 1000;
    out->elapsed_ns = t.elapsedPs / kPsPerNs;
    out->wire_ns = t.wirePs / kPsPerNs;
    out->limit_ns = t.limitPs / kPsPerNs;
    out->tck_cycles = t.tckCycles;
    out->uart_bits = t.uartBits;
    out->writes = t.writes;
    out->reads = t.reads;
    out->control_requests = t.controlRequests;
    out->reply_waits_ns = t.replyWaitPs / kPsPerNs;
    return 0;
}

VC_API void vc_clock_wait(uint64_t ns) {
    const ModelLock lock;
    HostWait(ns);
}

}  // extern "C"

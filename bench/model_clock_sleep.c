/* Preloaded into a peer that runs on the virtual cable (LD_PRELOAD), this turns the peer's sleeps
 * into waits on the cable's model clock (vc_clock_wait), as kestrel waits its pauses there: the
 * JTAG benchmarks then compare both tools on the same clock, their waits included, and the peer
 * takes no host time for them. Without the virtual cable in the process the sleeps stay sleeps. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>

typedef void (*ClockWait)(uint64_t ns);

static ClockWait ModelClock(void) { return (ClockWait)dlsym(RTLD_DEFAULT, "vc_clock_wait"); }

static uint64_t Nanoseconds(const struct timespec* t) {
    return (uint64_t)t->tv_sec * 1000000000u + (uint64_t)t->tv_nsec;
}

int usleep(useconds_t us) {
    ClockWait wait = ModelClock();
    if (wait) {
        wait((uint64_t)us * 1000u);
        return 0;
    }
    int (*next)(useconds_t) = (int (*)(useconds_t))dlsym(RTLD_NEXT, "usleep");
    return next ? next(us) : -1;
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    ClockWait wait = ModelClock();
    if (wait && request) {
        wait(Nanoseconds(request));
        if (remaining) remaining->tv_sec = remaining->tv_nsec = 0;
        return 0;
    }
    int (*next)(const struct timespec*, struct timespec*) =
        (int (*)(const struct timespec*, struct timespec*))dlsym(RTLD_NEXT, "nanosleep");
    return next ? next(request, remaining) : -1;
}

/* Relative sleeps only: an absolute deadline is left to the system. */
int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                    struct timespec* remaining) {
    ClockWait wait = ModelClock();
    if (wait && request && !(flags & TIMER_ABSTIME)) {
        wait(Nanoseconds(request));
        if (remaining) remaining->tv_sec = remaining->tv_nsec = 0;
        return 0;
    }
    int (*next)(clockid_t, int, const struct timespec*, struct timespec*) =
        (int (*)(clockid_t, int, const struct timespec*, struct timespec*))dlsym(
            RTLD_NEXT, "clock_nanosleep");
    return next ? next(clock, flags, request, remaining) : EINVAL;
}

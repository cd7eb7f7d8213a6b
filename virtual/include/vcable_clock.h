/* Control API of the virtual cable's model clock: how long the calls made since the last reset
 * would have taken on a real cable. Two speeds run side by side: a full-speed FT2232D (1 ms USB
 * frames, a 12 MHz clock base, TCK at most 6 MHz) and a high-speed H-series chip (125 us
 * microframes, a 60 MHz clock base, TCK at most 30 MHz). Plain C. */
#ifndef VCABLE_CLOCK_H
#define VCABLE_CLOCK_H

#include <stdint.h>

#include "vc_export.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VC_SPEED_FULL = 0, VC_SPEED_HIGH = 1 };

typedef struct VcClockReading {
    uint64_t elapsed_ns;       /* modelled time from the reset to the end of the last call */
    uint64_t wire_ns;          /* time spent clocking data: TCK at the divisor's rate, UART bits */
    uint64_t limit_ns;         /* the same cycles and bits at the chip's fastest clock and baud */
    uint64_t tck_cycles;       /* TCK cycles clocked on the MPSSE channels */
    uint64_t uart_bits;        /* bits sent on the UART lines, start and stop bits included */
    uint64_t writes;           /* FT_Write calls that moved bytes */
    uint64_t reads;            /* FT_Read calls that returned bytes */
    uint64_t control_requests; /* calls that cost a USB control transfer (opens, settings, ...) */
    uint64_t reply_waits_ns;   /* time polls and reads waited for replies (latency timer, USB) */
} VcClockReading;

/* Starts both clocks at 0 (vc_reset also does). */
VC_API void vc_clock_reset(void);
/* Copies the clock of one speed; returns 0, or -1 for an unknown speed or a null out. */
VC_API int vc_clock_read(int speed, VcClockReading* out);
/* Moves both clocks on by ns, as if the host had waited that long after its last call: a host
 * calls it instead of sleeping, so that what runs on the model clock goes on meanwhile (busy
 * devices finish, replies arrive and the latency timer runs out, asynchronous bit-bang samples).
 * It counts in elapsed_ns only, and stops the clock at about 106 days of waits. */
VC_API void vc_clock_wait(uint64_t ns);

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_CLOCK_H */

/* The flash and JTAG engine behind kestrel, as a small C interface: the kestrel tool and the
 * Python package both run their jobs through these functions, so a script gets the tool's results,
 * errors and progress events. A job runs on the cable the caller has opened for MPSSE (OpenDevice)
 * through the KestrelLink library in the same process; the engine calls the library's exports and
 * nothing else of the cable.
 *
 * Every job returns one of kestrel's exit codes (docs/kestrel.md: 0 done, 1 a check did not hold,
 * 2 a wrong argument, 6 the cable lacks what the job needs, 8 an export failed, 130 stopped) and
 * tells its caller what happens through one callback, each event a kind and a JSON value. */
#ifndef KESTREL_ENGINE_H
#define KESTREL_ENGINE_H

#include <stddef.h>
#include <stdint.h>

#if defined(KESTREL_ENGINE_STATIC)
#define KESTREL_ENGINE_API
#elif defined(_WIN32)
#ifdef KESTREL_ENGINE_BUILD
#define KESTREL_ENGINE_API __declspec(dllexport)
#else
#define KESTREL_ENGINE_API __declspec(dllimport)
#endif
#else
#define KESTREL_ENGINE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Raised when a job's structure gains fields; a caller passes the version it was built for. */
#define KESTREL_ENGINE_VERSION 1

/* The kinds of event and their JSON values:
 *   PROGRESS      {"phase": "writing", "done": N, "total": N, "unit": "bytes"}, every step (the
 *                 caller spaces them out)
 *   FIELD         {"name": "bytes_programmed", "value": <JSON>}: one of the fields of kestrel's
 *                 --json document; a later one of the same name replaces the earlier
 *   WARNING       "text": something the user must know, the job goes on
 *   ERROR         "text": why the job failed
 *   LIBRARY_CALL  {"export": "JTAG_RxFTDI", "code": 4}: the export whose result failed the job
 *   LINE          "text": what the job did, in words for people */
enum kestrel_event_kind {
    KESTREL_EVENT_PROGRESS = 1,
    KESTREL_EVENT_FIELD = 2,
    KESTREL_EVENT_WARNING = 3,
    KESTREL_EVENT_ERROR = 4,
    KESTREL_EVENT_LIBRARY_CALL = 5,
    KESTREL_EVENT_LINE = 6
};

/* Called in the job's thread for every event. A return other than 0 asks the job to stop at its
 * next safe point (no sector left half written, the protection it cleared put back); the job then
 * returns 130. */
typedef int (*kestrel_event_fn)(void* context, int kind, const char* json);

/* Where a read's bytes go: called once with all of them; returns 0, or the exit code the job
 * returns (the callee has reported why). */
typedef int (*kestrel_data_fn)(void* context, const uint8_t* bytes, uint64_t count);

enum kestrel_spi_verb {
    KESTREL_SPI_ID = 0,    /* the JEDEC ID, SFDP table, size and protection */
    KESTREL_SPI_READ = 1,  /* [address, address + size) to `receive` */
    KESTREL_SPI_WRITE = 2, /* `data` at address, the rest of each sector it touches kept */
    KESTREL_SPI_ERASE = 3, /* [address, address + size) to 0xFF, or the chip */
    KESTREL_SPI_VERIFY = 4 /* compare [address, address + data_size) with `data` */
};

/* One job on the SPI flash behind chip select GPIOL2; zero-filled fields take their defaults. */
struct kestrel_spi_job {
    uint32_t version;    /* KESTREL_ENGINE_VERSION */
    int32_t verb;        /* enum kestrel_spi_verb */
    uint64_t address;    /* the first byte */
    uint64_t size;       /* read: bytes (0: to the end of the flash); erase: bytes */
    uint64_t flash_size; /* the flash's size in place of what it announces (0: what it does) */
    double clock_hz;     /* the fastest clock to run at (0: the fastest the cable and part allow) */
    uint32_t divisor;    /* the divisor the cable was opened with */
    int32_t divisor_given; /* run the job at `divisor` instead of the fastest clock */
    const uint8_t* data;   /* write and verify: the bytes */
    uint64_t data_size;
    kestrel_data_fn receive; /* read: where the bytes go */
    void* receive_context;
    const char* name;       /* what the job's lines call the data (a file name); NULL: "the data" */
    int32_t no_erase;       /* write: program over what the sectors hold */
    int32_t no_verify;      /* write, erase: do not read back */
    int32_t chip;           /* erase: the whole chip (address and size left 0) */
    int32_t unprotect;      /* write, erase: clear the block protection for the job, then restore */
    int32_t handle_signals; /* SIGINT and SIGTERM stop a write or erase at its next safe point */
    int32_t keep_clock;     /* leave the job's clock set (else the cable's divisor is put back) */
};

/* The job's own checks (its numbers, its data, the range on a given flash_size), made with
 * nothing sent to the cable: 0, or the exit code kestrel_spi_run would return for them. */
KESTREL_ENGINE_API int kestrel_spi_check(const struct kestrel_spi_job* job, kestrel_event_fn events,
                                         void* context);

/* Checks the job, probes the flash and runs the verb: 0, or an exit code. */
KESTREL_ENGINE_API int kestrel_spi_run(const struct kestrel_spi_job* job, kestrel_event_fn events,
                                       void* context);

/* One SPI transaction: chip select low, `out_count` bytes out, `in_count` bytes in, select high.
 * Returns 0, 2 for a count past the limit, or 8 (an ERROR and a LIBRARY_CALL event say why). */
KESTREL_ENGINE_API int kestrel_spi_transfer(const uint8_t* out, uint32_t out_count, uint8_t* in,
                                            uint32_t in_count, kestrel_event_fn events,
                                            void* context);

enum kestrel_jtag_verb {
    KESTREL_JTAG_SCAN = 0,   /* the chain's devices and their IDCODEs, each described */
    KESTREL_JTAG_IDCODE = 1, /* the devices, their IDCODEs and instruction lengths */
    KESTREL_JTAG_SVF = 2,    /* play `data` as an SVF file */
    KESTREL_JTAG_XSVF = 3    /* play `data` as an XSVF file */
};

/* Waits out a playback's pause of `seconds` once everything before it has been clocked. */
typedef void (*kestrel_pause_fn)(void* context, double seconds);

/* One job on the JTAG chain; zero-filled fields take their defaults. A playback reports each
 * note of the file as a LINE and each TDO mismatch as a WARNING, both "NAME:WHERE: COMMAND: text";
 * it runs to its end or its first failure (a stop asked by the callback is not heard). */
struct kestrel_jtag_job {
    uint32_t version;           /* KESTREL_ENGINE_VERSION */
    int32_t verb;               /* enum kestrel_jtag_verb */
    const uint32_t* ir_lengths; /* idcode: the instruction lengths, device 0 (nearest TDI) first */
    uint32_t ir_length_count;   /* 0: found from the chain's capture pattern */
    const uint8_t* data;        /* svf, xsvf: the file's bytes */
    uint64_t data_size;
    const char* name;       /* what the job's lines call the file; NULL: "the data" */
    uint32_t divisor;       /* the divisor the cable was opened with */
    int32_t keep_going;     /* count TDO mismatches and play on instead of stopping at the first */
    int32_t check_each;     /* read each TDO check's answer before playback goes on */
    int32_t trst_wired;     /* the cable's reset line (GPIOL1) reaches the chain's TRST */
    int32_t dry_run;        /* kestrel_jtag_check: also report the file's totals and notes */
    kestrel_pause_fn pause; /* NULL: pauses sleep */
    void* pause_context;
};

/* The job's own checks, with nothing sent to the cable (a file is parsed whole): 0, or the exit
 * code kestrel_jtag_run would return for them. */
KESTREL_ENGINE_API int kestrel_jtag_check(const struct kestrel_jtag_job* job,
                                          kestrel_event_fn events, void* context);

/* Checks the job and runs it on the chain: 0, or an exit code. */
KESTREL_ENGINE_API int kestrel_jtag_run(const struct kestrel_jtag_job* job, kestrel_event_fn events,
                                        void* context);

/* A clock as kestrel's --clock takes it ("6000000", "1.5M", "500kHz", "1.5 MHz") in hertz: 0, or
 * 2 with an ERROR event for text that is not a rate the cable can run. */
KESTREL_ENGINE_API int kestrel_parse_clock(const char* text, double* hz, kestrel_event_fn events,
                                           void* context);

/* The divisor of the fastest clock not above `hz`: 12 MHz / ((1 + divisor) x 2). */
KESTREL_ENGINE_API uint32_t kestrel_clock_divisor(double hz);

#ifdef __cplusplus
}
#endif

#endif

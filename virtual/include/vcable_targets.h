/* Control API of the virtual cable's channel-A side: the MPSSE engine and the targets on its pins
 * (JTAG chain, SPI flash, GPIO inputs). For tests and tools; plain C.
 *
 * Every function takes the cable index (0-based, in scenario order). Functions returning int give
 * VC_OK or a negative VC_E* code. Lines are numbered 0 to 7 for ADBUS0 to ADBUS7 and 8 to 11 for
 * ACBUS0 to ACBUS3 (GPIOH0 to GPIOH3; channel A has no ACBUS4 to ACBUS7, whose bits read 1). JTAG
 * device 0 is the device nearest TDI; data leaving the chain on TDO comes from the last device
 * first. */
#ifndef VCABLE_TARGETS_H
#define VCABLE_TARGETS_H

#include <stddef.h>
#include <stdint.h>

#include "vc_export.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    VC_OK = 0,
    VC_E_NO_CABLE = -1,  /* no cable with this index */
    VC_E_ARGUMENT = -2,  /* device, line, address or length out of range */
    VC_E_NO_TARGET = -3, /* the cable has no such target (no flash, no JTAG memory) */
};

/* TAP controller states, as vc_jtag_tap_state returns them. */
enum {
    VC_TAP_TEST_LOGIC_RESET = 0,
    VC_TAP_RUN_TEST_IDLE,
    VC_TAP_SELECT_DR_SCAN,
    VC_TAP_CAPTURE_DR,
    VC_TAP_SHIFT_DR,
    VC_TAP_EXIT1_DR,
    VC_TAP_PAUSE_DR,
    VC_TAP_EXIT2_DR,
    VC_TAP_UPDATE_DR,
    VC_TAP_SELECT_IR_SCAN,
    VC_TAP_CAPTURE_IR,
    VC_TAP_SHIFT_IR,
    VC_TAP_EXIT1_IR,
    VC_TAP_PAUSE_IR,
    VC_TAP_EXIT2_IR,
    VC_TAP_UPDATE_IR,
};

typedef struct vc_jtag_device {
    int ir_length;               /* 2 to 32 */
    uint32_t idcode;             /* bit 0 set */
    uint32_t idcode_instruction; /* also the instruction after Test-Logic-Reset */
    uint32_t user_instruction;   /* selects the user data register */
    int user_length;             /* 1 to 64 bits */
} vc_jtag_device;

/* One SPI flash transaction (chip select low to high) as the flash saw it. */
typedef struct vc_flash_transaction {
    uint8_t command;     /* the first byte clocked in */
    uint32_t address;    /* the 3-byte address, for commands that take one (else 0) */
    uint32_t bytes;      /* whole bytes clocked while selected, command and address included */
    uint32_t extra_bits; /* clocks of an unfinished last byte (0 when it ended on a byte) */
} vc_flash_transaction;

/* Receives one decoded line per command, error or target note. Both hooks run on the thread whose
 * call made the change, with the model's lock held: they may call the control API, but must not
 * wait for another thread that calls the virtual cable. */
typedef void (*vc_trace_fn)(void* user, const char* line);
/* Receives the levels of all 16 lines (bit n = line n) after a change, with its time. */
typedef void (*vc_pin_fn)(void* user, uint64_t time, uint16_t levels);

/* Back to the default wiring, pins released, parser and counters cleared (the trace hook stays). */
VC_API int vc_targets_restore_default(int cable);

/* A device's memory array (scenario files describe it): its geometry, its address register and
 * the Run-Test/Idle clocks an erase or program still waits for (0: none pending). */
typedef struct vc_jtag_memory {
    uint32_t words;
    uint32_t word_bits; /* each word takes (word_bits + 7) / 8 bytes, bit 0 in bit 0 of the first */
    uint32_t address_bits;
    uint32_t address;
    uint32_t pending_tcks;
} vc_jtag_memory;

/* JTAG chain. The new chain starts in Test-Logic-Reset with user registers at 0. */
VC_API int vc_jtag_set_chain(int cable, int count, const vc_jtag_device* devices);
VC_API int vc_jtag_device_count(int cable);
/* The ADBUS line whose low level resets the chain (5, GPIOL1, the cable's reset line, unless the
 * scenario's jtag_reset says otherwise), or -1 when none is wired. */
VC_API int vc_jtag_reset_line(int cable, int* line);
VC_API int vc_jtag_tap_state(int cable, int device); /* VC_TAP_* or a negative code */
VC_API const char* vc_jtag_tap_state_name(int state);
VC_API int vc_jtag_instruction(int cable, int device, uint32_t* instruction);
/* The user register: the one behind user_instruction, or with an instruction table the first data
 * register it lists (its first 64 bits); VC_E_NO_TARGET when the table lists none. */
VC_API int vc_jtag_user_register(int cable, int device, uint64_t* value);
VC_API int vc_jtag_set_user_register(int cable, int device, uint64_t value);
/* The value of the data register the opcode selects (bit 0 in bit 0 of data[0]) into size bytes,
 * at least (length + 7) / 8; its length into *bits unless bits is null. VC_E_ARGUMENT when the
 * opcode selects no data register of the device's own. */
VC_API int vc_jtag_data_register(int cable, int device, uint32_t opcode, uint8_t* data,
                                 uint32_t size, uint32_t* bits);
/* The memory, bypassing the TAP: info, and its words as bytes (offset and count in bytes, words
 * one after another). Bits above a word's width read 0 and are not written. VC_E_NO_TARGET when
 * the device has no memory. */
VC_API int vc_jtag_memory_info(int cable, int device, vc_jtag_memory* info);
VC_API int vc_jtag_memory_read(int cable, int device, uint32_t offset, uint8_t* data,
                               uint32_t count);
VC_API int vc_jtag_memory_write(int cable, int device, uint32_t offset, const uint8_t* data,
                                uint32_t count);

/* SPI flash contents, bypassing the SPI bus. Status bits: 0x01 busy, 0x02 write enabled. */
VC_API int vc_flash_size(int cable, uint32_t* size);
VC_API int vc_flash_write(int cable, uint32_t address, const uint8_t* data, uint32_t count);
VC_API int vc_flash_read(int cable, uint32_t address, uint8_t* data, uint32_t count);
VC_API int vc_flash_status(int cable, uint8_t* status);
/* The flash's record of transactions since the scenario began or the last clear: every one is
 * counted, the first 65536 are kept (index 0 the oldest). The trace shows each as a note. */
VC_API int vc_flash_transaction_count(int cable, uint64_t* count);
VC_API int vc_flash_transaction_get(int cable, uint32_t index, vc_flash_transaction* out);
VC_API int vc_flash_clear_transactions(int cable);

/* Outside drive on a line (0 to 11): level 0 or 1 drives it, -1 releases it (an undriven input
 * reads 1).
 * vc_gpio_schedule applies the change at the after_polls-th receive-queue poll from now (0 and 1:
 * at the next poll). */
VC_API int vc_gpio_set_input(int cable, int line, int level);
VC_API int vc_gpio_schedule(int cable, int line, int level, uint32_t after_polls);

/* Levels of all 16 lines as the targets last saw them, and the chip's direction bits (1 = output).
 * Either pointer may be null. */
VC_API int vc_pins_get(int cable, uint16_t* levels, uint16_t* directions);

/* Engine counters. Errors are things the model could not do faithfully or host commands the chip
 * does not know (the sync probes 0xAA and 0xAB are answered but not counted as errors). */
VC_API uint32_t vc_mpsse_error_count(int cable);
/* 1 while a wait on GPIOL1 (0x88, 0x89) holds every later command, 0 otherwise, or a negative
 * code. A wait that never ends shows here and in the trace. */
VC_API int vc_mpsse_waiting(int cable);
VC_API int vc_mpsse_last_error(int cable, char* text, size_t size); /* NUL-terminated */
VC_API uint32_t vc_mpsse_bad_command_count(int cable);
VC_API void vc_mpsse_clear_errors(int cable);
VC_API uint64_t vc_mpsse_tck_cycles(int cable);
/* Time the clocked cycles took on the wire, in periods of the 12 MHz base clock. */
VC_API uint64_t vc_mpsse_base_clock_ticks(int cable);
VC_API int vc_mpsse_divisor(int cable);  /* 0 to 0xFFFF, or a negative code */
VC_API int vc_mpsse_loopback(int cable); /* 1 on, 0 off, or a negative code */
/* Fast paths of the data shifts (on by default): whole runs of TCK periods through the targets'
 * registers instead of edge by edge. Results are bit for bit the same; off is for comparing. */
VC_API int vc_mpsse_set_fast_paths(int cable, int enable);
/* Installs the trace hook; a null fn removes it. */
VC_API int vc_mpsse_set_trace(int cable, vc_trace_fn fn, void* user);
/* Installs the pin hook (a null fn removes it): it receives the levels of all 16 lines each time
 * one of them changes, with the time in base-clock ticks as vc_mpsse_base_clock_ticks counts them
 * (a clock period's edges come half a period and a whole period after its start; lines that
 * change without clocking share the time of the last edge). Like the trace hook, it stays through
 * vc_targets_restore_default. */
VC_API int vc_mpsse_set_pin_hook(int cable, vc_pin_fn fn, void* user);

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_TARGETS_H */

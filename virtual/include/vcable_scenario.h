/* Scenario and state files for the virtual cable: a TOML description of the cables and other
 * devices on the bus, the targets on each cable's pins (JTAG chain, SPI flash, GPIO drive), the
 * UART peers and the faults to inject. The format is described in docs/scenarios.md.
 *
 * Loading replaces the whole scenario (devices, fault rules, call log, model errors, library
 * version) only when the text is valid; on an error nothing changes and `error` receives one line
 * naming the place ("file.toml:12: ...") and what was expected there.
 *
 * When the library initialises, it loads the file named by the environment variable
 * VCABLE_SCENARIO instead of the embedded default scenario (on an error it reports the error on
 * standard error and keeps the default). */
#ifndef VCABLE_SCENARIO_H
#define VCABLE_SCENARIO_H

#include <stdint.h>

#include "vc_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Loads a scenario file; relative file names inside it are taken from the file's folder.
 * Returns 0, or -1 with a message in error (which may be null; the text is truncated to fit). */
VC_API int vc_load_scenario_file(const char* path, char* error, uint32_t error_capacity);

/* Loads a scenario from text; relative file names inside it are taken from the current folder. */
VC_API int vc_load_scenario_text(const char* text, char* error, uint32_t error_capacity);

/* Makes vc_reset restore this scenario instead of the embedded default, and resets to it now.
 * The text is parsed once and kept in parsed form; a reset then builds only what it describes,
 * so a small scenario (a small flash, say) resets in microseconds where the default, with its
 * 1 MiB flash, takes far longer: for programs that reset before every run, such as fuzzers.
 * A null text makes vc_reset restore the embedded default again (and resets to it). Returns 0,
 * or -1 with a message in error (nothing changes). */
VC_API int vc_set_reset_scenario(const char* text, char* error, uint32_t error_capacity);

/* State files keep what a real cable keeps across unplugging: each device's EEPROM (identity,
 * programming record, user area), each cable's SPI flash contents and the memories behind its
 * JTAG devices, so that a later run can go on where this one stopped (the layout is in
 * docs/scenarios.md).
 *
 * vc_state_save writes the state of the devices in force; it writes a new file and renames it over
 * the old one, so the file is never half written. vc_state_load loads a state saved from the same
 * scenario (the same devices in order, each flash and JTAG memory of the same size) and changes
 * nothing when the file does not fit or is damaged; the devices then enumerate from their loaded
 * EEPROMs, as after a replug (handles open on them are closed). Both return 0, or -1 with a
 * one-line message. */
VC_API int vc_state_save(const char* path, char* error, uint32_t error_capacity);
VC_API int vc_state_load(const char* path, char* error, uint32_t error_capacity);

/* 1 when this build reads scenario files, 0 when it was built without the TOML parser (the two
 * loaders then fail with a message saying so). */
VC_API int vc_scenario_files_supported(void);

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_SCENARIO_H */

/* Target plug-ins of the virtual cable: a shared object that implements the data registers of one
 * TAP controller in a scenario's JTAG chain ([[device.jtag]] key `plugin`), so that a part's own
 * programming algorithm can be modelled outside the cable. The cable keeps the TAP state machine,
 * the instruction register and the shift stage; the plug-in says which register an instruction
 * selects and what that register captures and does at Update-DR, and (from version 2) what the
 * instruction register captures. Plain C.
 *
 * Versions: the cable loads plug-ins of every version up to VC_PLUGIN_CURRENT_VERSION. A plug-in
 * is written for VC_PLUGIN_VERSION, which is the current one unless it defines another before
 * including this header; its table then has that version's entries and no others, and says the
 * version in its first field, so the cable reads no entry the plug-in does not have.
 *
 * Register values are bit streams in clock order: bit k (the k-th bit shifted in, the k-th bit
 * of an SVF value from the right) in bit k % 8 of byte k / 8. Buffers hold at least
 * (length + 7) / 8 bytes. All calls come from the thread driving the cable, with its lock held. */
#ifndef VCABLE_PLUGIN_H
#define VCABLE_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VC_PLUGIN_CURRENT_VERSION 2
#ifndef VC_PLUGIN_VERSION
#define VC_PLUGIN_VERSION VC_PLUGIN_CURRENT_VERSION
#endif

/* What the cable offers the plug-in. */
typedef struct vc_plugin_host {
    void* context;
    /* The model clock in nanoseconds (full speed), TCK periods clocked so far included; it never
     * goes back. Busy times are measured against it. */
    uint64_t (*now_ns)(void* context);
    /* A line for the cable's trace (what the device did, what the host got wrong). */
    void (*note)(void* context, const char* text);
} vc_plugin_host;

/* The device's side. `device` is what create returned. Null entries are allowed where noted. */
typedef struct vc_tap_plugin {
    uint32_t version; /* VC_PLUGIN_VERSION: the entries below that version has */
    /* A new device; config is the scenario's `plugin_config` text ("" when absent). Null on
     * failure: the scenario's device then has no plug-in, and the trace says so. */
    void* (*create)(const char* config, const vc_plugin_host* host);
    void (*destroy)(void* device);
    /* The chain's reset line (and the start): registers back to their reset values. May be null. */
    void (*reset)(void* device);
    /* An instruction was loaded (Update-IR, Test-Logic-Reset): the length in bits (1 to 65536) of
     * the data register it selects, or 0 to leave the opcode to the scenario's instruction table
     * (IDCODE, BYPASS and the rest). */
    uint32_t (*instruction)(void* device, uint32_t opcode);
    /* Capture-DR: the value the shift stage starts from. */
    void (*capture)(void* device, uint8_t* bits, uint32_t length);
    /* `periods` TCK periods went by in Shift-DR (counted, not the data). May be null. */
    void (*shift)(void* device, uint32_t periods);
    /* Update-DR: what was shifted in. */
    void (*update)(void* device, const uint8_t* bits, uint32_t length);
    /* `periods` TCK periods went by in Run-Test/Idle. May be null. */
    void (*idle)(void* device, uint64_t periods);
#if VC_PLUGIN_VERSION >= 2
    /* Version 2. Capture-IR: what the instruction register captures, given what the scenario says
     * it captures (`ir_capture`), so status bits (DONE, ISC_ENABLED) can follow the device's
     * state. Bits above the instruction length are dropped; the two lowest should stay binary 01,
     * which hosts look for when they count the devices of a chain. May be null: the scenario's
     * value. */
    uint32_t (*instruction_capture)(void* device, uint32_t scenario_capture);
#endif
} vc_tap_plugin;

/* The one symbol a plug-in exports, by this name: its table, which must outlive the device. */
#define VC_TAP_PLUGIN_ENTRY "vc_tap_plugin_entry"
typedef const vc_tap_plugin* (*vc_tap_plugin_entry_fn)(void);

#if defined(_WIN32)
#define VC_PLUGIN_EXPORT __declspec(dllexport)
#else
#define VC_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_PLUGIN_H */

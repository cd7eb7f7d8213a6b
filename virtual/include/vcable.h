/* Control API of the virtual cable: scenario, faults, call log and views of what the simulated
 * devices saw. Plain C; every function is exported next to the 38 vendor entry points.
 * Devices are numbered in the order they were added (0 first); channels are 0 (A) and 1 (B).
 *
 * Threads: the entry points and every control function may be called from any thread. They run
 * one at a time under one lock of the whole model, so each sees the model as the previous call
 * left it. The hooks (vcable_targets.h) run on the calling thread with that lock held. */
#ifndef VCABLE_H
#define VCABLE_H

#include <stddef.h>
#include <stdint.h>

#include "vc_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scenario ---------------------------------------------------------------------------- */

/* Restores the default scenario (one programmed ZV7300LNK cable); clears log, faults, errors. */
VC_API void vc_reset(void);
/* Removes every device; log and fault rules are kept. */
VC_API void vc_clear_devices(void);
/* Adds a dual-channel cable, blank (programmed == 0) or programmed; returns its device index. */
VC_API int vc_add_cable(const char* description, const char* serial, int programmed);
/* Adds a single-channel device with a programmed identity; returns its device index. */
VC_API int vc_add_single(const char* description, const char* serial);
/* Number of devices added (plugged or not). */
VC_API int vc_device_count(void);
/* Unplugs a device: it leaves the list and calls on its handles fail; returns 0 or -1. */
VC_API int vc_unplug(int device);
/* Plugs an unplugged device back in: old handles stay invalid, identity comes from the EEPROM. */
VC_API int vc_replug(int device);
/* After a port cycle, the device is absent from this many device-list creations (default 0). */
VC_API int vc_set_cycle_absence(int device, uint32_t creations);
/* Fixes the size of the device's EEPROM user area, whatever its strings leave (by default the
 * area is (48 - words of the string descriptors) x 2 bytes, as on the chip's 93C46); zeroed. */
VC_API int vc_set_user_area_size(int device, uint32_t size);
/* Attaches (enable != 0) or removes the loopback peer on a channel's UART. */
VC_API int vc_set_loopback_peer(int device, int channel, int enable);
/* Sets the version word FT_GetLibraryVersion reports (default 0x00030216). */
VC_API void vc_set_library_version(uint32_t version);

/* How replies reach the host. VC_DELIVERY_IMMEDIATE: every reply is in the receive queue, whole,
 * as soon as its command has run. VC_DELIVERY_USB: as the full-speed chip sends them, in packets
 * of 62 bytes, the rest when the latency timer runs out or a send-immediate (0x87) asks for it;
 * FT_Read waits on the model clock for its count or its read time-out. The scenario chooses
 * (reply_delivery), the environment variable VCABLE_REPLY_DELIVERY ("usb" or "immediate")
 * overrides the scenario, and this call overrides both until the next scenario (vc_reset, a
 * scenario load). Returns 0, or -1 for an unknown value. */
enum { VC_DELIVERY_IMMEDIATE = 0, VC_DELIVERY_USB = 1 };
VC_API int vc_set_reply_delivery(int delivery);
VC_API int vc_reply_delivery(void);

/* Whose vendor library is modelled. VC_PLATFORM_WINDOWS (the default): as the Windows library.
 * VC_PLATFORM_LINUX: FT_CyclePort reports FT_NOT_SUPPORTED, and device listings give no location
 * (0) for channels that are open. The scenario chooses (platform); this call until the next
 * scenario. Returns 0, or -1 for an unknown value. */
enum { VC_PLATFORM_WINDOWS = 0, VC_PLATFORM_LINUX = 1 };
VC_API int vc_set_platform(int platform);
VC_API int vc_platform(void);

/* ---- Fault rules (calls are counted per rule from its creation; nth is 1-based) -------------- */

/* The nth call of entry returns status without running; persistent != 0 also fails every later
 * call. Returns a rule id, or -1 for an unknown entry name or nth of 0. */
VC_API int vc_fault_fail(const char* entry, uint32_t nth, uint32_t status, int persistent);
/* The same, with the error the USB face gives for it: the libusb error code usb_error (negative)
 * for the transfer or request that runs entry. */
VC_API int vc_fault_fail_usb(const char* entry, uint32_t nth, uint32_t status, int usb_error,
                             int persistent);
/* The nth FT_Write call accepts at most max_bytes bytes (status 0, short count). */
VC_API int vc_fault_short_write(uint32_t nth, uint32_t max_bytes);
/* The device is unplugged just before the nth call of entry runs. */
VC_API int vc_fault_unplug(const char* entry, uint32_t nth, int device);
/* The bytes land in a channel's receive queue just before the nth call of entry runs. */
VC_API int vc_fault_inject_rx(const char* entry, uint32_t nth, int device, int channel,
                              const uint8_t* data, uint32_t length);
/* Shapes of reply delivery, for tests that want one, acting on a channel's receive queue at the
 * nth call of entry: split: the next poll shows at most max_bytes of what is waiting, the rest
 * comes at the poll after; hold: the next `polls` polls show nothing of it. Reads between those
 * polls get no more than they showed. */
VC_API int vc_fault_split_rx(const char* entry, uint32_t nth, int device, int channel,
                             uint32_t max_bytes);
VC_API int vc_fault_hold_rx(const char* entry, uint32_t nth, int device, int channel,
                            uint32_t polls);
/* How many times a rule has acted so far. */
VC_API uint32_t vc_fault_hits(int rule);
/* Removes every fault rule. */
VC_API void vc_fault_clear(void);

/* ---- Call log ----------------------------------------------------------------------------- */

/* One recorded entry-point call. Pointers stay valid until the log is cleared or reset, however
 * many calls other threads make meanwhile. */
typedef struct VcCall {
    const char* entry;    /* exported name, e.g. "FT_Write" */
    uint32_t entry_index; /* 0 = FT_ListDevices ... 37 = FT_Reload (the resolution order) */
    void* handle;         /* the handle argument, or NULL for calls without one */
    uint64_t args[4];     /* numeric arguments in order (counts, flags, modes, locations) */
    uint32_t arg_count;
    uint32_t status;      /* the status the call returned */
    uint32_t transferred; /* bytes written, read or reported by the call */
    const uint8_t* data;  /* bytes written (FT_Write, FT_EE_UAWrite, open strings), the strings of
                             FT_EE_Program's record (each ended by a NUL), or bytes read */
    uint32_t data_length; /* copied bytes; written data is capped at 4096 bytes per call */
    int faulted;          /* 1 when a fault rule decided the result */
} VcCall;

/* Number of recorded calls. */
VC_API uint32_t vc_log_count(void);
/* Number of recorded calls of one entry point (0 for an unknown name). */
VC_API uint32_t vc_log_count_entry(const char* entry);
/* Copies call number index (0 = oldest) into out; returns 0, or -1 when out of range. */
VC_API int vc_log_get(uint32_t index, VcCall* out);
/* Forgets every recorded call. */
VC_API void vc_log_clear(void);
/* Name of entry point index 0..37, or NULL. */
VC_API const char* vc_entry_name(uint32_t index);

/* ---- Model errors: things the simulator was asked to do but does not model ------------------- */

/* Number of model errors recorded since the last reset. */
VC_API uint32_t vc_model_error_count(void);
/* Text of model error index, or NULL; valid until the model errors are cleared or reset. */
VC_API const char* vc_model_error(uint32_t index);

/* ---- Channels ----------------------------------------------------------------------------- */

typedef struct VcChannelSettings {
    int open;
    void* handle; /* the open handle, or NULL */
    uint32_t location;
    uint8_t bit_mode; /* last mode of FT_SetBitMode: 0 reset (UART), 2 MPSSE, ... */
    uint8_t bit_mask;
    uint8_t latency_ms;
    uint8_t word_length;
    uint8_t stop_bits;
    uint8_t parity;
    uint16_t flow_control;
    uint8_t xon;
    uint8_t xoff;
    uint32_t baud_rate;   /* as the host asked */
    int dtr;              /* current DTR level (1 = set) */
    uint32_t dtr_changes; /* FT_SetDtr / FT_ClrDtr calls since the scenario began */
    uint32_t resets;      /* FT_ResetDevice calls since the scenario began */
    uint32_t read_timeout_ms;
    uint32_t write_timeout_ms;
    uint32_t achieved_baud_rate; /* the rate the UART runs: its divisor's nearest to baud_rate */
} VcChannelSettings;

/* Copies a channel's settings; returns 0, or -1 for an unknown device or channel. */
VC_API int vc_channel_settings(int device, int channel, VcChannelSettings* out);
/* Appends bytes to a channel's receive queue; returns 0 or -1. */
VC_API int vc_inject_rx(int device, int channel, const uint8_t* data, uint32_t length);
/* Bytes not read yet from a channel's receive queue, whether or not they have reached the host. */
VC_API uint32_t vc_rx_pending(int device, int channel);
/* Bytes captured from the channel's writes (capture stops at 16 MiB). */
VC_API uint32_t vc_tx_size(int device, int channel);
/* Copies captured bytes from offset into out; returns the number copied. */
VC_API uint32_t vc_tx_read(int device, int channel, uint32_t offset, uint8_t* out,
                           uint32_t capacity);
/* Forgets a channel's captured bytes. */
VC_API void vc_tx_clear(int device, int channel);

/* ---- EEPROM ------------------------------------------------------------------------------- */

typedef struct VcEepromView {
    int programmed;
    uint16_t vendor_id;
    uint16_t product_id;
    char manufacturer[32];
    char manufacturer_id[16];
    char description[64];
    char serial_number[16];
    uint32_t user_area_size;
    uint32_t programs; /* FT_EE_Program calls that succeeded */
    uint32_t erases;   /* FT_EraseEE calls that succeeded */
} VcEepromView;

/* Copies the device's EEPROM contents; returns 0 or -1. */
VC_API int vc_eeprom_view(int device, VcEepromView* out);
/* Copies up to capacity bytes of the user area; returns the number copied. */
VC_API uint32_t vc_eeprom_user_area(int device, uint8_t* out, uint32_t capacity);
/* Programs the EEPROM directly (no call logged): identity strings, user area zeroed. */
VC_API int vc_eeprom_program(int device, const char* manufacturer, const char* manufacturer_id,
                             const char* description, const char* serial);
/* Erases the EEPROM directly (no call logged). */
VC_API int vc_eeprom_erase(int device);

#ifdef __cplusplus
}
#endif

#endif /* VCABLE_H */

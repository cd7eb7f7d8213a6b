/* An example target plug-in: a small CPLD-like device whose array is programmed through JTAG the
 * way such parts are, with the details vendor files rely on:
 *
 *   0x10 ERASE    1-bit register; loading the instruction starts an erase that takes erase_us of
 *                 model time. The array reads all ones once it is over; a program before then is
 *                 lost (the trace says so).
 *   0x11 PROGRAM  24 bits: the word in bits 0 to 15, its address in bits 16 to 23. Update-DR
 *                 programs it (bits only go from 1 to 0, as in a flash array).
 *   0x12 READ     16 bits: the address to read in bits 0 to 7. Capture-DR loads the word at the
 *                 address given by the previous READ scan: reads are pipelined, so a verify
 *                 shifts address n + 1 while word n comes out.
 *   0x13 COPY     16 bits; loading the instruction copies the word at the last READ address into
 *                 the user register, which this register captures.
 *   0x14 DONE     1-bit register; loading the instruction ends programming: the device's DONE
 *                 cell is set (an erase clears it; one still running loses the DONE, the trace
 *                 says so).
 *
 * The instruction capture shows the DONE cell in bit 2 over the scenario's `ir_capture`, so a file
 * can check that programming took (an interface-version-2 entry: built with VC_PLUGIN_VERSION 1,
 * the example is a first-version plug-in whose capture stays the scenario's).
 *
 * Every other opcode is left to the scenario's instruction table (IDCODE, BYPASS). The config text
 * takes "words=N" (1 to 256, default 256) and "erase_us=N" (default 1000). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vcable_plugin.h"

enum { kErase = 0x10, kProgram = 0x11, kRead = 0x12, kCopy = 0x13, kDone = 0x14 };
enum { kMaxWords = 256 };
enum { kDoneBit = 1u << 2 }; /* in the instruction capture */

typedef struct Cpld {
    vc_plugin_host host;
    unsigned words;
    uint64_t eraseNs;
    uint64_t eraseEndsAt; /* 0: no erase running */
    uint16_t array[kMaxWords];
    uint32_t opcode;
    unsigned readAddress; /* latched by the last READ scan */
    uint16_t user;
    int done; /* the DONE cell */
} Cpld;

static uint64_t Now(Cpld* d) { return d->host.now_ns(d->host.context); }

static void Note(Cpld* d, const char* text) {
    if (d->host.note) d->host.note(d->host.context, text);
}

/* An erase whose time is over takes effect. */
static int Erasing(Cpld* d) {
    if (d->eraseEndsAt == 0) return 0;
    if (Now(d) < d->eraseEndsAt) return 1;
    memset(d->array, 0xFF, sizeof d->array);
    d->eraseEndsAt = 0;
    return 0;
}

static uint32_t Field(const uint8_t* bits, unsigned from, unsigned count) {
    uint32_t value = 0;
    for (unsigned k = 0; k < count; ++k) {
        value |= (uint32_t)((bits[(from + k) / 8] >> ((from + k) % 8)) & 1) << k;
    }
    return value;
}

static void Put16(uint8_t* bits, uint16_t value) {
    bits[0] = (uint8_t)value;
    bits[1] = (uint8_t)(value >> 8);
}

static uint16_t Word(const Cpld* d, unsigned address) {
    return address < d->words ? d->array[address] : 0xFFFF;
}

static void* Create(const char* config, const vc_plugin_host* host) {
    Cpld* d = calloc(1, sizeof *d);
    if (!d) return NULL;
    d->host = *host;
    d->words = kMaxWords;
    d->eraseNs = 1000 * 1000;
    const char* words = strstr(config, "words=");
    const char* erase = strstr(config, "erase_us=");
    if (words) d->words = (unsigned)strtoul(words + 6, NULL, 10);
    if (erase) d->eraseNs = strtoull(erase + 9, NULL, 10) * 1000;
    if (d->words < 1 || d->words > kMaxWords) {
        free(d);
        return NULL;
    }
    memset(d->array, 0xFF, sizeof d->array);
    return d;
}

static void Destroy(void* device) { free(device); }

static void Reset(void* device) {
    Cpld* d = device;
    d->readAddress = 0;
}

static uint32_t Instruction(void* device, uint32_t opcode) {
    Cpld* d = device;
    d->opcode = opcode;
    switch (opcode) {
        case kErase:
            if (Erasing(d)) Note(d, "erase started again while erasing");
            d->eraseEndsAt = Now(d) + d->eraseNs;
            d->done = 0;
            if (d->eraseNs == 0) Erasing(d);
            return 1;
        case kDone:
            if (Erasing(d)) {
                Note(d, "DONE lost: the erase is still running");
            } else {
                d->done = 1;
            }
            return 1;
        case kProgram:
            return 24;
        case kRead:
            return 16;
        case kCopy:
            d->user = Word(d, d->readAddress);
            return 16;
        default:
            return 0;
    }
}

static void Capture(void* device, uint8_t* bits, uint32_t length) {
    Cpld* d = device;
    memset(bits, 0, (length + 7) / 8);
    if (d->opcode == kRead) Put16(bits, Erasing(d) ? 0 : Word(d, d->readAddress));
    if (d->opcode == kCopy) Put16(bits, d->user);
}

static void Update(void* device, const uint8_t* bits, uint32_t length) {
    Cpld* d = device;
    (void)length;
    if (d->opcode == kRead) d->readAddress = Field(bits, 0, 8);
    if (d->opcode != kProgram) return;
    const unsigned address = Field(bits, 16, 8);
    char text[96];
    if (Erasing(d)) {
        snprintf(text, sizeof text, "program at 0x%02X lost: the erase is still running", address);
        Note(d, text);
    } else if (address >= d->words) {
        snprintf(text, sizeof text, "program at 0x%02X is past the last word, dropped", address);
        Note(d, text);
    } else {
        d->array[address] &= (uint16_t)Field(bits, 0, 16);
    }
}

#if VC_PLUGIN_VERSION >= 2
static uint32_t InstructionCapture(void* device, uint32_t scenarioCapture) {
    const Cpld* d = device;
    return d->done ? scenarioCapture | kDoneBit : scenarioCapture & ~(uint32_t)kDoneBit;
}
#endif

static const vc_tap_plugin kCpld = {
    .version = VC_PLUGIN_VERSION,
    .create = Create,
    .destroy = Destroy,
    .reset = Reset,
    .instruction = Instruction,
    .capture = Capture,
    .update = Update,
#if VC_PLUGIN_VERSION >= 2
    .instruction_capture = InstructionCapture,
#endif
};

VC_PLUGIN_EXPORT const vc_tap_plugin* vc_tap_plugin_entry(void) { return &kCpld; }

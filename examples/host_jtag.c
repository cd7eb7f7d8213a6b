/* A host program in C that loads KestrelLink at run time by name, opens the cable and reads the
 * IDCODEs of the first two devices of its JTAG chain.
 *
 *   Linux:   LD_LIBRARY_PATH=build/lib:build/virtual-cable ./host_jtag
 *   Windows: KestrelLink.dll on the search path, ftd2xx.dll in the program's folder
 *
 * Exit status: 0 with the IDCODEs printed; 1 when a call fails; 77 when the library lacks one of
 * the exports used here (the test suite counts that as skipped).
 */
#include <stdio.h>
#include <string.h>

#include "kestrellink.h"

#ifdef _WIN32
#include <windows.h>
#define KL_TEXT(literal) L##literal
#else
#include <dlfcn.h>
#define KL_TEXT(literal) u##literal
#endif

enum { kMissingExport = 77 };

typedef int (*LoadFn)(void);
typedef int (*OpenDeviceFn)(const kl_wchar*, const kl_wchar*, kl_u32);
typedef int (*WriteTmsFn)(kl_u8, const kl_u8*);
typedef int (*ReadTdoFn)(kl_u8, kl_u32);
typedef int (*SendFn)(void);
typedef int (*ReceiveFn)(kl_u32, kl_u8*, kl_u32*);
typedef void (*CloseFn)(void);

static void* library;

static int OpenLibrary(void) {
#ifdef _WIN32
    library = (void*)LoadLibraryW(L"KestrelLink.dll");
#else
    library = dlopen("libkestrellink.so", RTLD_NOW);
    if (!library) fprintf(stderr, "%s\n", dlerror());
#endif
    return library != NULL;
}

/* Copies the address into a function pointer of the caller's type; null when not exported. */
static int Resolve(const char* name, void* function, size_t size) {
#ifdef _WIN32
    FARPROC address = GetProcAddress((HMODULE)library, name);
#else
    void* address = dlsym(library, name);
#endif
    if (!address) fprintf(stderr, "the library does not export %s\n", name);
    memcpy(function, &address, size);
    return address != NULL;
}

#define RESOLVE(variable, name) Resolve(name, &(variable), sizeof(variable))

static void CloseLibrary(void) {
#ifdef _WIN32
    FreeLibrary((HMODULE)library);
#else
    dlclose(library);
#endif
}

static unsigned long Bits(const kl_u8* bits, int first, int count) {
    unsigned long value = 0;
    for (int i = 0; i < count; ++i) {
        value |= (unsigned long)((bits[(first + i) / 8] >> ((first + i) % 8)) & 1u) << i;
    }
    return value;
}

int main(void) {
    LoadFn load = NULL, unload = NULL;
    OpenDeviceFn openDevice = NULL;
    WriteTmsFn writeTms = NULL;
    ReadTdoFn readTdo = NULL;
    SendFn send = NULL;
    ReceiveFn receive = NULL;
    CloseFn closeDevice = NULL;

    if (!OpenLibrary()) {
        fprintf(stderr, "cannot load the KestrelLink library\n");
        return 1;
    }
    if (!(RESOLVE(load, "LoadD2XXDLL") & RESOLVE(unload, "UnLoadD2XXDLL") &
          RESOLVE(openDevice, "OpenDevice") & RESOLVE(writeTms, "JTAG_WriteTMS") &
          RESOLVE(readTdo, "JTAG_ReadTDO2") & RESOLVE(send, "JTAG_Send2FTDI") &
          RESOLVE(receive, "JTAG_RxFTDI") & RESOLVE(closeDevice, "CloseDevice"))) {
        CloseLibrary();
        return kMissingExport;
    }

    int result = load();
    if (result != 0) {
        fprintf(stderr, "LoadD2XXDLL returned %d\n", result);
        CloseLibrary();
        return 1;
    }
    result = openDevice(KL_TEXT("ZV7300LNK"), KL_TEXT(""), 5); /* channel A, MPSSE at 1 MHz */
    if (result != 0) {
        fprintf(stderr, "OpenDevice returned %d\n", result);
        unload();
        CloseLibrary();
        return 1;
    }

    /* TMS is clocked bit 0 first; the count is the number of bits minus one. */
    const kl_u8 toReset = 0x1F;   /* 1 1 1 1 1: Test-Logic-Reset, which selects IDCODE */
    const kl_u8 toShiftDr = 0x02; /* 0 1 0 0: Run-Test/Idle, Select-DR, Capture-DR, Shift-DR */
    const kl_u8 lsbFirstSampleOnRise = 0x09;
    kl_u8 reply[16] = {0};
    kl_u32 received = 0;
    int ok = writeTms(4, &toReset) == 0 && writeTms(3, &toShiftDr) == 0 &&
             readTdo(lsbFirstSampleOnRise, 64) == 0 && send() == 0 &&
             receive(9, reply, &received) == 0 && received == 9;
    closeDevice();
    unload();
    CloseLibrary();
    if (!ok) {
        fprintf(stderr, "the JTAG exchange failed (%u reply bytes)\n", (unsigned)received);
        return 1;
    }

    /* The reply: 7 whole bytes (bits 0..55), then a byte whose top 7 bits are bits 56..62, then
     * a byte whose top bit is bit 63, clocked out with TMS 1 (leaving Shift-DR). */
    kl_u8 bits[8];
    memcpy(bits, reply, 7);
    bits[7] = (kl_u8)((reply[7] >> 1) | (reply[8] & 0x80));
    printf("IDCODE 0: 0x%08lX\n", Bits(bits, 0, 32));
    printf("IDCODE 1: 0x%08lX\n", Bits(bits, 32, 32));
    return 0;
}

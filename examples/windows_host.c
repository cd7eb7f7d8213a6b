/* A Windows host in C, linked with KestrelLink's import library: it opens the cable with
 * OpenDevice_EDP2, which also hands back the text of the cable's EEPROM user area as an OLE
 * string, reads the IDCODEs of the first two devices of the JTAG chain, and asks the cable
 * whether it still answers through CheckDeviceTalkable, an export with a C++ decorated name,
 * which a C program reaches through GetProcAddress. See docs/windows.md.
 *
 *   MSVC:  cl /std:c11 windows_host.c /I <kit>\include <kit>\lib\KestrelLink.lib oleaut32.lib
 *   mingw: x86_64-w64-mingw32-gcc -std=c11 windows_host.c -I <kit>/include
 *              <kit>/lib/libKestrelLink.dll.a -loleaut32
 *
 * Run it with KestrelLink.dll beside it (or on PATH) and ftd2xx.dll beside it: the vendor's, or
 * the virtual cable's from <kit>/lib/kestrellink/virtual-cable. */
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

#include "kestrellink.h"

/* Message boxes come here instead of to a window: the library looks this function up among the
 * program's exports. */
__declspec(dllexport) void KestrelLinkMessageBox(const kl_wchar* text) {
    fprintf(stderr, "message: %ls\n", text);
}

typedef int (*TalkableFn)(kl_wchar*, kl_wchar*, kl_ulong);

int main(void) {
    if (LoadD2XXDLL() != 0) {
        fprintf(stderr, "ftd2xx.dll was not found beside the program or in the system folders\n");
        return 1;
    }
    kl_bstr userText = NULL;
    if (OpenDevice_EDP2(L"ZV7300LNK", L"", 5, &userText) != 0) return 1;
    printf("user area: %ls\n", userText ? userText : L"(none)");
    SysFreeString(userText); /* the caller owns the string */

    kl_u8 toReset = 0x1F, toShiftDr = 0x02;
    JTAG_WriteTMS(4, &toReset);
    JTAG_WriteTMS(3, &toShiftDr);
    JTAG_ReadTDO2(0x09, 64);
    if (JTAG_Send2FTDI() != 0) return 1;
    kl_u8 reply[9];
    kl_u32 got = 0;
    if (JTAG_RxFTDI(9, reply, &got) != 0 || got != 9) return 1;
    uint64_t scan = 0;
    for (int i = 0; i < 7; ++i) scan |= (uint64_t)reply[i] << (8 * i);
    scan |= (uint64_t)(reply[7] >> 1) << 56;
    scan |= (uint64_t)(reply[8] >> 7) << 63;
    printf("%08X %08X\n", (unsigned)scan, (unsigned)(scan >> 32));

    TalkableFn talkable = (TalkableFn)(void*)GetProcAddress(GetModuleHandleW(L"KestrelLink.dll"),
                                                            "?CheckDeviceTalkable@@YAHPEA_W0K@Z");
    if (!talkable) return 1;
    printf("CheckDeviceTalkable: %d\n", talkable(NULL, NULL, 5));

    CloseDevice();
    UnLoadD2XXDLL();
    return 0;
}

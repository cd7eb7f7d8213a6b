#include <stdio.h>

#include "kestrellink.h"

int main(void) {
    if (LoadD2XXDLL() != 0) return 1;                    /* loads libftd2xx.so / ftd2xx.dll */
    if (OpenDevice(u"ZV7300LNK", u"", 5) != 0) return 1; /* channel A as MPSSE at 1 MHz */
    kl_u8 toReset = 0x1F, toShiftDr = 0x02;
    JTAG_WriteTMS(4, &toReset);   /* five TMS ones: Test-Logic-Reset */
    JTAG_WriteTMS(3, &toShiftDr); /* Run-Test/Idle, Select-DR, Capture-DR, Shift-DR */
    JTAG_ReadTDO2(0x09, 64);      /* queue a 64-bit capture: LSB first, TDO in on the rising edge */
    if (JTAG_Send2FTDI() != 0) return 1;
    /* 64 bits come back as 9 bytes: 7 whole bytes, 7 bits in bits 1 to 7, the last bit in bit 7 */
    kl_u8 reply[9];
    kl_u32 got = 0;
    if (JTAG_RxFTDI(9, reply, &got) != 0 || got != 9) return 1;
    uint64_t scan = 0;
    for (int i = 0; i < 7; ++i) scan |= (uint64_t)reply[i] << (8 * i);
    scan |= (uint64_t)(reply[7] >> 1) << 56;
    scan |= (uint64_t)(reply[8] >> 7) << 63;
    /* bits 0 to 31: IDCODE of the device nearest TDO; bits 32 to 63: the next device's */
    printf("%08X %08X\n", (unsigned)scan, (unsigned)(scan >> 32));
    CloseDevice();
    UnLoadD2XXDLL();
    return 0;
}

/* A host's own test on the virtual cable: it gives the simulated cable a JTAG chain of its own
 * choosing, scans it through KestrelLink as the host would, and checks both what the host read
 * and what the chain saw, through the virtual cable's control API. Exit status 0 when all holds. */
#include <stdio.h>

#include "kestrellink.h"
#include "vcable.h"
#include "vcable_targets.h"

static int failures;

static void Expect(int holds, const char* what) {
    if (!holds) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    vc_reset();
    const vc_jtag_device device = {5, 0x1234ABCD, 0x01, 0x02, 32};
    Expect(vc_jtag_set_chain(0, 1, &device) == VC_OK, "the virtual cable takes a one-device chain");

    Expect(LoadD2XXDLL() == 0, "LoadD2XXDLL returns 0");
    Expect(OpenDevice(u"ZV7300LNK", u"", 5) == 0, "OpenDevice returns 0");
    kl_u8 toReset = 0x1F, toShiftDr = 0x02;
    JTAG_WriteTMS(4, &toReset);
    JTAG_WriteTMS(3, &toShiftDr);
    JTAG_ReadTDO2(0x09, 32); /* 32 bits: 3 whole bytes, 7 bits in bits 1 to 7, the last in bit 7 */
    Expect(JTAG_Send2FTDI() == 0, "JTAG_Send2FTDI returns 0");
    kl_u8 reply[5] = {0};
    kl_u32 got = 0;
    Expect(JTAG_RxFTDI(5, reply, &got) == 0 && got == 5, "JTAG_RxFTDI returns 5 bytes");
    const uint32_t idcode = reply[0] | (uint32_t)reply[1] << 8 | (uint32_t)reply[2] << 16 |
                            (uint32_t)(reply[3] >> 1) << 24 | (uint32_t)(reply[4] >> 7) << 31;
    printf("IDCODE %08X\n", (unsigned)idcode);
    Expect(idcode == device.idcode, "the host reads the chain's IDCODE");

    /* The last bit went out with TMS high: the device left Shift-DR for Exit1-DR. */
    printf("TAP state %s\n", vc_jtag_tap_state_name(vc_jtag_tap_state(0, 0)));
    Expect(vc_jtag_tap_state(0, 0) == VC_TAP_EXIT1_DR, "the device's TAP is in Exit1-DR");
    Expect(vc_mpsse_error_count(0) == 0, "the MPSSE engine saw no malformed command");

    CloseDevice();
    UnLoadD2XXDLL();
    printf("%s\n", failures ? "chain test FAILED" : "chain test passed");
    return failures ? 1 : 0;
}

#!/usr/bin/env python3
"""Writes the seed corpus of the export-sequence fuzzer (fuzz/corpus/export_sequence/): typical
exchanges with the cable, each encoded as the fuzzer reads its input: one byte for the
operation's place in kOps (export_sequence_fuzzer.cpp, read from there by name), then its
argument bytes in the order the operation reads them. Run it again whenever kOps changes other
than by appending:

    python3 fuzz/export_sequence_seeds.py
"""
import pathlib
import re
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
FUZZER = ROOT / "fuzz" / "export_sequence_fuzzer.cpp"
ENTRY_LIST = ROOT / "virtual" / "vendor_api" / "entry_list.h"
CORPUS = ROOT / "fuzz" / "corpus" / "export_sequence"

table = FUZZER.read_text().split("const Op kOps[] = {", 1)[1].split("\n};", 1)[0]
OPS = [quoted or plain for quoted, plain in
       re.findall(r'^    (?:\{"([^"]+)",|NO_ARGUMENTS(?:_VOID)?\((\w+)\))', table, re.M)]
ENTRIES = re.findall(r"VC_ENTRY\((FT_\w+)\)", ENTRY_LIST.read_text())


def u8(value):
    return bytes([value & 0xFF])


def u16(value):
    return struct.pack("<H", value)


def u32(value):
    return struct.pack("<I", value)


# Argument encodings, as the fuzzer reads them.
ZV7300LNK = u8(0)  # Description(): the first description part
FLAG_OFF, FLAG_ON = u8(0), u8(1)


SHORT, MEDIUM, LONG, LONGEST = 0, 16, 24, 31  # Scaled(): up to 16, 256, 4096, the largest


def scaled(count, scale):
    return u8(scale) + u32(count)


def op(name, *args):
    return u8(OPS.index(name)) + b"".join(args)


def fault_fail(entry, nth, status=4, persistent=False):
    return op("fault fail", u8(ENTRIES.index(entry)), u16(nth - 1), u8(status - 1),
              u8(0 if persistent else 1))


def fault_unplug(entry, nth):
    return op("fault unplug", u8(ENTRIES.index(entry)), u16(nth - 1))


OPEN = op("OpenDevice", ZV7300LNK, u8(5))
CLOSE = op("CloseDevice")

SEEDS = {
    # IDCODEs of the chain: reset, to Shift-DR, a 64-bit capture, send, collect.
    "idcode_scan": OPEN + op("JTAG_WriteTMS", u8(4), u8(0x1F)) +
    op("JTAG_WriteTMS", u8(3), u8(0x02)) + op("JTAG_ReadTDO2", u8(0x08), scaled(64, MEDIUM)) +
    op("JTAG_Send2FTDI") + op("JTAG_RxFTDI", u32(9)) + CLOSE,
    # A flash read: select, read command and address, 256 bytes, release.
    "spi_read": OPEN + op("GPIO2_low2") +
    op("SPI_WriteDO", u8(0x11), scaled(4, SHORT), u8(0x03), u8(0x00), u8(0x01), u8(0x00)) +
    op("SPI_ReadDI", u8(0x20), u32(256), FLAG_OFF) + op("Disable_AllTalk") + CLOSE,
    # A UART session through channel B's loopback: DTR, a file out and back, the pin command.
    "uart_file_round_trip": op("OpenDevice3", FLAG_ON) + op("Set_Dtr") +
    op("Write_FILE_UART_2", FLAG_OFF, scaled(34, MEDIUM)) + op("Read_FILE_UART", u32(34)) +
    op("Write_UART") + op("Read_UART") + op("Clr_Dtr") + CLOSE,
    # Factory steps: erase, program, the EDP open with its user-area text, the talk check.
    "provisioning": op("Erase_ProgedEEPROM") + op("ProgramDevice", ZV7300LNK) +
    op("OpenDevice_EDP2", ZV7300LNK, u8(5)) + op("CheckDeviceTalkable", u8(5)) +
    op("CloseDevice2"),
    # A bitstream-sized queued shift whose second buffer fails, the retries and a port read.
    "long_shift_failed_flush": OPEN + fault_fail("FT_Write", 2) +
    op("JTAG_WriteTDI", u8(0x08), scaled(2400000, LONGEST), FLAG_OFF, FLAG_ON) +
    op("JTAG_Send2FTDI") + op("JTAG_Send2FTDI") + op("JTAG_ReadPort", FLAG_OFF) + CLOSE,
    # The cable pulled while a file receiver waits, then plugged in and opened again.
    "uart_cable_pulled": op("OpenDevice2") + fault_unplug("FT_GetQueueStatus", 3) +
    op("Read_FILE_UART_2", u32(16), FLAG_OFF) + op("replug") + op("OpenDevice2") +
    op("OpenDevice2") + CLOSE,
    # Free clocks, a capturing shift, the clock, and GPIOH1 going low at the first wait's polls.
    "clocks_capture_gpio": OPEN + op("JTAG_Clk", u8(0x00), u16(1000)) +
    op("JTAG_WriteTDI2", u8(0x09), scaled(12, SHORT), FLAG_ON, FLAG_ON) +
    op("FTDI_SetClk", u32(2)) + op("GPIOH1 low later", u8(0)) + op("Wait_GPIOH1_Low") +
    op("Wait_GPIOH1_Low") + CLOSE,
}


def main():
    CORPUS.mkdir(parents=True, exist_ok=True)
    for old in CORPUS.iterdir():
        old.unlink()
    for name, data in SEEDS.items():
        (CORPUS / name).write_bytes(data)
    print(f"{len(SEEDS)} seeds written to {CORPUS.relative_to(ROOT)}")


if __name__ == "__main__":
    main()

"""The library's 56 exports: ordinal, name, C result and C parameters, and what each does.

The raw layer builds every method from this table. A test compares it with the export table the
library itself is built from, so the two cannot drift apart. Six exports carry C++ decorated
symbols; the raw layer looks those up by the symbol of the running platform.
"""

from typing import Callable, Dict, NamedTuple, Tuple

from ._result_codes import MEANINGS


class Export(NamedTuple):
    ordinal: int
    name: str
    result: str  # C result type
    parameters: str  # C parameter list, "void" when there is none
    doc: str  # what it does, units, result codes
    linux: str = ""  # symbol on Linux when it is not the plain name
    windows: str = ""  # symbol on Windows when it is not the plain name


_OPEN = "const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor"
_OPEN_DECORATED = "kl_wchar* descriptionPart, kl_wchar* serialPart, kl_ulong divisor"
_RELOAD = "unsigned short vendorId, unsigned short productId"
_TDI = ("kl_u8 mode, kl_u32 bitCount, const kl_u8* tdi, kl_u8* tdo, kl_u32* bitsRead, "
        "kl_u32 lastWithTms")


def _codes(group: str) -> str:
    """The result codes of an export group, as its docstrings list them."""
    return "; ".join(f"{code} {meaning}" for code, meaning in MEANINGS[group].items()) + "."


_MPSSE_OPEN_CODES = _codes("OpenDevice")
_PIN = "Sends 0x80, a level byte and the stored directions (ADBUS). 0; 4 the write failed."


def _decorated(linux: str, windows: str) -> Dict[str, str]:
    return {"linux": linux, "windows": windows}


EXPORTS: Tuple[Export, ...] = (
    Export(5, "ProgramDevice", "int",
           "const kl_wchar* description, const kl_wchar* serial, const kl_wchar* userText",
           "Programs the one attached FT2232's EEPROM (identity and user-area text), cycles its "
           "ports and logs each step in Log.txt; takes at least 1 s. 0; 1-14, 19 the failing step."),
    Export(6, "ResetXilinx", "void", "kl_u32 assertMs, kl_u32 releaseMs",
           "Pulses GPIOL1 low for assertMs milliseconds, then waits releaseMs milliseconds."),
    Export(7, "OpenDevice2", "int", "void",
           "Opens a ZV7300LNK or StudyBenchUnit cable as two 9600-baud UARTs, channel B current. "
           "0; 1-9, 17-19 the failing step (with a message)."),
    Export(8, "Read_UART", "int", "void",
           "Waits (at most 5 s) for received bytes on the current channel and discards them. "
           "0 bytes read; 1 nothing read."),
    Export(9, "Write_UART", "int", "void",
           "Sends the four bytes 80 F8 CB 85 on the current channel. 0; 1 the write failed."),
    Export(10, "Write_FILE_UART", "int", "const char* fileName, kl_u32 size",
           "Sends size bytes of a file (zero-padded) on the current channel. 0; 1 the write "
           "failed; 7 the file cannot be opened; 8 no memory."),
    Export(11, "Read_FILE_UART", "int", "const char* fileName, kl_u32 size",
           "Waits for exactly size bytes, then writes them to a file. 0; 1 read failed; 2 file "
           "not written; 8 no memory; on time-out the bytes waiting, or 6."),
    Export(12, "ChkDLLVer", "int", "kl_u32 minimumVersion",
           "Compares the vendor library's version word with a minimum. 0 version unreadable; "
           "1 equal or above; 2 below."),
    Export(13, "CheckDeviceTalkable", "int", "kl_wchar* unused1, kl_wchar* unused2, kl_ulong divisor",
           "Brings channel A of the paired cable up as an MPSSE engine again (strings unused). "
           "0; 10 no paired cable; 10-18 bring-up step failed.",
           **_decorated("_Z19CheckDeviceTalkablePDsS_j", "?CheckDeviceTalkable@@YAHPEA_W0K@Z")),
    Export(14, "OpenDevice5_B7", "int", _OPEN_DECORATED,
           "As OpenDevice without the rescan, channel A only. " + _MPSSE_OPEN_CODES,
           **_decorated("_Z14OpenDevice5_B7PDsS_j", "?OpenDevice5_B7@@YAHPEA_W0K@Z")),
    Export(15, "Set_Dtr", "int", "void", "Sets DTR on the current channel. 0; 1 failed."),
    Export(16, "Clr_Dtr", "int", "void", "Clears DTR on the current channel. 0; 1 failed."),
    Export(17, "OpenDevice3", "int", "kl_u32 baudRate",
           "Opens a ZV7300LNK or FlashingLeash cable as two UARTs at baudRate (bits/s). "
           "0; 1-9, 17-19 the failing step (with a message)."),
    Export(18, "CloseDevice2", "void", "void",
           "As CloseDevice, with a message for each channel that fails to close."),
    Export(19, "directoryB", "int", "const kl_wchar* directory",
           "Sets the folder of Log.txt. Always 0."),
    Export(20, "Erase_ProgedEEPROM", "int", "void",
           "Erases the one attached FT2232's EEPROM and cycles its ports; takes at least 1 s. "
           "0; 1-6, 8, 19 the failing step."),
    Export(21, "OpenDevice5_B8", "int", _OPEN_DECORATED,
           "As OpenDevice5_B7. " + _MPSSE_OPEN_CODES,
           **_decorated("_Z14OpenDevice5_B8PDsS_j", "?OpenDevice5_B8@@YAHPEA_W0K@Z")),
    Export(22, "OpenDevice5_CopyE", "int", _OPEN_DECORATED,
           "As OpenDevice5_B7. " + _MPSSE_OPEN_CODES,
           **_decorated("_Z17OpenDevice5_CopyEPDsS_j", "?OpenDevice5_CopyE@@YAHPEA_W0K@Z")),
    Export(23, "Reload_Driver_B7", "kl_ulong", _RELOAD,
           "As Reload_Driver. 0; 4 failed.",
           **_decorated("_Z16Reload_Driver_B7tt", "?Reload_Driver_B7@@YAKGG@Z")),
    Export(24, "Reload_Driver_B8", "kl_ulong", _RELOAD,
           "As Reload_Driver. 0; 4 failed.",
           **_decorated("_Z16Reload_Driver_B8tt", "?Reload_Driver_B8@@YAKGG@Z")),
    Export(25, "CloseDevice", "void", "void",
           "Closes both channels of an open connection and releases the device list."),
    Export(26, "CloseDevice3", "void", "void",
           "Closes channel A only and releases the device list."),
    Export(27, "Disable_AllTalk", "int", "void", _PIN + " Levels FA: every output at its default."),
    Export(28, "FTDI_SetClk", "int", "kl_u32 divisor",
           "Sets the MPSSE clock to 12 MHz / ((1 + divisor) x 2). 0; 17 divisor above 0xFFFF "
           "or the write failed."),
    Export(29, "GPIO2_low", "int", "void",
           _PIN + " Levels BA (GPIOL2 low), then every ACBUS line an input."),
    Export(30, "GPIO2_low2", "int", "void", _PIN + " Levels BA: GPIOL2 low."),
    Export(31, "GPIO3_low", "int", "void", _PIN + " Levels 7A: GPIOL3 low."),
    Export(32, "GPIOH2_high", "int", "void", "Drives GPIOH2 high where it is an output. 0; 4."),
    Export(33, "GPIOH2_low", "int", "void", "Drives GPIOH2 low where it is an output. 0; 4."),
    Export(34, "GPIOL_low", "int", "void", _PIN + " Levels EA: GPIOL0 low."),
    Export(35, "JTAG_Clk", "int", "kl_u8 mode, int bitCount",
           "Queues 8 x (bitCount / 8 + 1) TCK cycles at 1 MHz with TDI held. 0; 4 a flush failed."),
    Export(36, "JTAG_ReadPort", "int", "kl_u8* value",
           "Reads the ADBUS levels (bit 0 TCK ... bit 7 GPIOL3). 0; 4 failed."),
    Export(37, "JTAG_ReadTDO2", "int", "kl_u8 mode, kl_u32 bitCount",
           "Queues a capture of bitCount TDO bits whose last bit leaves the shift state. "
           "0; 4 a flush failed; 5 bitCount 0."),
    Export(38, "JTAG_RxFTDI", "int", "kl_u32 count, kl_u8* buffer, kl_u32* received",
           "Waits for count reply bytes of the queued commands and reads them. 0; 4 failed."),
    Export(39, "JTAG_Send2FTDI", "int", "void",
           "Sends the queued MPSSE commands in one write. 0; 4 the write failed."),
    Export(40, "JTAG_WriteTDI", "int", _TDI,
           "Shifts bitCount bits of tdi (bit 0 of byte 0 first); queued, or sent at once and "
           "captured when tdo is asked for. 0; 4 failed or too long; 5 bitCount 0."),
    Export(41, "JTAG_WriteTDI2", "int", _TDI,
           "As JTAG_WriteTDI, without flushing the queue first. 0; 4; 5 bitCount 0."),
    Export(42, "JTAG_WriteTMS", "int", "kl_u8 count, const kl_u8* tms",
           "Queues count + 1 TMS bits (bit 0 first), TDI held. 0; 4 count 6 or more."),
    Export(43, "JTAG_WriteTMS2", "int", "kl_u8 opcode, kl_u8 count, const kl_u8* data",
           "Queues a TMS command of the caller's opcode. 0; 4 count 6 or more."),
    Export(44, "LoadD2XXDLL", "int", "void",
           "Loads the vendor D2XX library. " + _codes("LoadD2XXDLL")),
    Export(45, "OpenDevice", "int", _OPEN,
           "Opens the cable whose channels match both substrings: channel A as an MPSSE engine "
           "at 12 MHz / ((1 + divisor) x 2), channel B idle, channel A current. "
           + _MPSSE_OPEN_CODES),
    Export(46, "OpenDevice4", "int",
           "const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 baudRate",
           "Opens the matching cable as two 8N1 UARTs at baudRate (bits/s), channel B current. "
           + _codes("OpenDevice4")),
    Export(47, "OpenDevice5", "int", _OPEN,
           "As OpenDevice without the rescan. " + _MPSSE_OPEN_CODES),
    Export(48, "OpenDevice_EDP", "int", _OPEN,
           "As OpenDevice, also driving GPIOL0 and GPIOH2. " + _MPSSE_OPEN_CODES),
    Export(49, "OpenDevice_EDP2", "int",
           "const kl_wchar* descriptionPart, const kl_wchar* serialPart, kl_u32 divisor, "
           "kl_bstr* textOut",
           "As OpenDevice_EDP, also returning the EEPROM user-area text (None when the open "
           "failed before reading it). " + _MPSSE_OPEN_CODES),
    Export(50, "Read_FILE_UART_2", "int",
           "const kl_wchar* fileName, kl_u32 size, kl_u32 deleteFirst, double timeoutSeconds",
           "Waits up to timeoutSeconds (whole-second clock) for size bytes and writes them to a "
           "file. 0; 1 read failed; 2 file not written; 8 no memory; on time-out the bytes "
           "waiting, or 6."),
    Export(51, "Reload_Driver", "int", _RELOAD,
           "Asks the vendor library to reload its driver for a USB vendor and product ID. "
           "0; 4 failed."),
    Export(52, "ResetDevice2", "int", "void",
           "Cycles the USB port of the current channel. 0; 4 failed."),
    Export(53, "SPI_ReadDI", "int",
           "kl_u8 opcode, kl_u32 count, kl_u8* buffer, kl_u32* received",
           "Clocks count bytes in with the given MPSSE read opcode, 384 per command. "
           "0; 4 failed; 5 count 0."),
    Export(54, "SPI_WriteDO", "int", "kl_u8 opcode, kl_u32 count, const kl_u8* data",
           "Clocks count bytes out with the given MPSSE write opcode. 0; 4 failed; 5 count 0."),
    Export(55, "SelectChannelA", "void", "void", "Makes channel A the current channel."),
    Export(56, "SelectChannelB", "void", "void", "Makes channel B the current channel."),
    Export(57, "UnLoadD2XXDLL", "int", "void",
           "Releases the vendor library once. 1 released; 0 not."),
    Export(58, "Wait_GPIOH1_Low", "int", "void",
           "Tests GPIOH1 once. 0 low; 8 high (or no single reply byte); 4 failed."),
    Export(59, "Write_FILE_UART_2", "int",
           "const kl_wchar* fileName, kl_u32 size, double pacing",
           "Sends size bytes of a file (zero-padded); pacing not 0: one byte per second. "
           "0; 1 the write failed; 7 the file cannot be opened; 8 no memory."),
    Export(60, "test_APA", "void", "void",
           "Resets, resets the port of and cycles channel A; pauses after failed calls."),
)


def _one_byte(_: Dict[str, int]) -> int:
    """The extent of a pointer to a single byte, whatever the other arguments."""
    return 1


# How many bytes a data pointer covers, from the call's other arguments.
EXTENTS: Dict[Tuple[str, str], Callable[[Dict[str, int]], int]] = {
    ("JTAG_WriteTMS", "tms"): _one_byte,
    ("JTAG_WriteTMS2", "data"): _one_byte,
    ("JTAG_WriteTDI", "tdi"): lambda a: (a["bitCount"] + 7) // 8,
    ("JTAG_WriteTDI", "tdo"): lambda a: (a["bitCount"] + 7) // 8,
    ("JTAG_WriteTDI2", "tdi"): lambda a: (a["bitCount"] + 7) // 8,
    ("JTAG_WriteTDI2", "tdo"): lambda a: (a["bitCount"] + 7) // 8,
    ("JTAG_RxFTDI", "buffer"): lambda a: a["count"],
    ("JTAG_ReadPort", "value"): _one_byte,
    ("SPI_ReadDI", "buffer"): lambda a: a["count"],
    ("SPI_WriteDO", "data"): lambda a: a["count"],
}

# Pointers to a single byte: as out-values they come back as an int, as in-values they also take
# one. A data buffer that happens to be one byte long stays bytes.
SINGLE_BYTES = {key for key, extent in EXTENTS.items() if extent is _one_byte}

# Out-buffers the library accepts as null: the caller says with True or False whether it wants
# them, and gets None when it did not.
OPTIONAL_BUFFERS = {("JTAG_WriteTDI", "tdo"), ("JTAG_WriteTDI2", "tdo"), ("SPI_ReadDI", "buffer")}

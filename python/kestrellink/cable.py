"""The cable as Python objects: open and close, JTAG, SPI flash, pins and the serial channel."""

import os
import shutil
import tempfile
from types import TracebackType
from typing import Optional, Type, Union

from ._native import VENDOR_NAME, StrPath
from .errors import CableError, KestrelLinkError
from .jtag import Jtag
from .library import Library, MessageHandler, load
from .spi import Spi

_OPEN_REASONS = {
    1: "closing the previous connection failed",
    3: "no device is attached",
    5: "no cable matches the description and serial number",
    6: "not exactly two channels match (two cables, or one channel visible)",
    9: "channel A cannot be opened",
    15: "the MPSSE engine does not answer",
    17: "the clock divisor is above 0xFFFF",
    21: "channel B cannot be opened",
}


class Cable:
    """An open cable: channel A as an MPSSE engine (:attr:`jtag`, :attr:`spi`, :attr:`gpio`),
    channel B as a serial port on demand (:meth:`uart`). Use :meth:`open`."""

    def __init__(self, lib: Library, description: str, serial: str, divisor: int) -> None:
        self.lib = lib
        self.description = description
        self.serial = serial
        self.divisor = divisor
        self.jtag = Jtag(self)
        self.spi = Spi(self)
        self.gpio = Gpio(self)
        self._mode = "closed"
        self._handler_to_restore: Optional[list] = None  # [handler] while on_message is set

    @classmethod
    def open(cls, description: str = "ZV7300LNK", serial: str = "", divisor: int = 5, *,
             library: Union[Library, StrPath, None] = None,
             on_message: Optional[MessageHandler] = None) -> "Cable":
        """Loads the vendor library (LoadD2XXDLL) and opens the cable whose channels contain
        ``description`` and ``serial`` (OpenDevice); TCK runs at 12 MHz / ((1 + divisor) x 2).

        ``library`` is a Library, or where to load one from (see :func:`kestrellink.load`).
        ``on_message`` receives the library's messages while the cable is open. Raises
        CableError("LoadD2XXDLL" or "OpenDevice", code) after undoing what was done."""
        lib = library if isinstance(library, Library) else load(library)
        cable = cls(lib, description, serial, divisor)
        if on_message is not None:
            cable._handler_to_restore, lib.on_message = [lib.on_message], on_message
        rc = lib.LoadD2XXDLL()
        if rc:
            if rc != 1:
                lib.UnLoadD2XXDLL()
            cable._restore_handler()
            raise CableError("LoadD2XXDLL", rc,
                             f"no vendor D2XX library ({VENDOR_NAME}) could be loaded; install "
                             "the vendor's library or enter a kestrellink.VirtualCable first"
                             if rc == 1 else "the vendor library lacks an entry point")
        try:
            cable._reopen("OpenDevice", divisor)
        except CableError:
            lib.UnLoadD2XXDLL()
            cable._restore_handler()
            raise
        return cable

    def _reopen(self, export: str, number: int) -> None:
        self.lib.CloseDevice()
        self._mode = "closed"
        rc = getattr(self.lib, export)(self.description, self.serial, number)
        if rc:
            self.lib.CloseDevice()
            raise CableError(export, rc, _OPEN_REASONS.get(rc, "") if export == "OpenDevice"
                             else "")
        self._mode = "mpsse" if export == "OpenDevice" else "uart"

    def _restore_handler(self) -> None:
        if self._handler_to_restore is not None:
            self.lib.on_message = self._handler_to_restore[0]
            self._handler_to_restore = None

    def _mpsse(self) -> Library:
        if self._mode != "mpsse":
            raise KestrelLinkError(f"the cable is {self._mode}: channel A is not an MPSSE engine"
                                   + (" until the uart block ends" if self._mode == "uart" else ""))
        return self.lib

    def set_clock(self, divisor: int) -> None:
        """TCK becomes 12 MHz / ((1 + divisor) x 2) (FTDI_SetClk); divisor 0 to 0xFFFF."""
        rc = self._mpsse().FTDI_SetClk(divisor)
        if rc:
            raise CableError("FTDI_SetClk", rc)
        self.divisor = divisor

    def uart(self, baud: int = 115200) -> "Uart":
        """Reopens the cable as two 8N1 serial ports at ``baud`` bits/s (OpenDevice4) for
        channel B transfers; closing the Uart (or leaving its with block) reopens channel A as
        an MPSSE engine."""
        self._mpsse()
        self._reopen("OpenDevice4", baud)
        return Uart(self)

    def close(self) -> None:
        """Closes both channels (CloseDevice) and releases the vendor library (UnLoadD2XXDLL)."""
        if self._mode == "released":
            return
        self.lib.CloseDevice()
        self.lib.UnLoadD2XXDLL()
        self._mode = "released"
        self._restore_handler()

    def __enter__(self) -> "Cable":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.close()


class Gpio:
    """The library's pin operations on channel A. Each low-byte operation sends every ADBUS
    output at its default level (TCK 0; TDI, TMS, GPIOL0-3 1) except the one line it lowers."""

    def __init__(self, cable: Cable) -> None:
        self._cable = cable

    def _call(self, name: str) -> int:
        rc = getattr(self._cable._mpsse(), name)()
        if rc not in (0, 8) or (rc == 8 and name != "Wait_GPIOH1_Low"):
            raise CableError(name, rc)
        return rc

    def defaults(self) -> None:
        """Every ADBUS output back to its default level (Disable_AllTalk)."""
        self._call("Disable_AllTalk")

    def gpiol0_low(self) -> None:
        """GPIOL0 low where it is an output (GPIOL_low)."""
        self._call("GPIOL_low")

    def gpiol2_low(self, high_byte_inputs: bool = False) -> None:
        """GPIOL2 low (GPIO2_low2); with ``high_byte_inputs`` also every ACBUS line made an
        input (GPIO2_low)."""
        self._call("GPIO2_low" if high_byte_inputs else "GPIO2_low2")

    def gpiol3_low(self) -> None:
        """GPIOL3 low (GPIO3_low)."""
        self._call("GPIO3_low")

    def gpioh2(self, level: bool) -> None:
        """GPIOH2 high or low, where it is an output (GPIOH2_high / GPIOH2_low)."""
        self._call("GPIOH2_high" if level else "GPIOH2_low")

    def read(self) -> int:
        """The ADBUS levels: bit 0 TCK, 1 TDI, 2 TDO, 3 TMS, 4-7 GPIOL0-3 (JTAG_ReadPort)."""
        rc, value = self._cable._mpsse().JTAG_ReadPort()
        if rc:
            raise CableError("JTAG_ReadPort", rc)
        return value

    def gpioh1_is_low(self) -> bool:
        """Tests GPIOH1 once (Wait_GPIOH1_Low)."""
        return self._call("Wait_GPIOH1_Low") == 0

    def wait_gpioh1_low(self, attempts: int = 1000) -> bool:
        """Tests GPIOH1 until it is low, at most ``attempts`` times; True when it went low."""
        return any(self.gpioh1_is_low() for _ in range(attempts))

    def pulse_gpiol1(self, low_ms: int = 10, after_ms: int = 10) -> None:
        """Drives GPIOL1 low for ``low_ms`` milliseconds, then waits ``after_ms`` (ResetXilinx)."""
        self._cable._mpsse().ResetXilinx(low_ms, after_ms)


class Uart:
    """Channel B as a serial port, from :meth:`Cable.uart`. Transfers go through the library's
    file transfers, with a private temporary folder."""

    def __init__(self, cable: Cable) -> None:
        self._cable = cable
        self._folder: Optional[str] = tempfile.mkdtemp(prefix="kestrellink-uart-")
        self._file = os.path.join(self._folder, "transfer.bin")

    def _lib(self) -> Library:
        if self._folder is None or self._cable._mode != "uart":
            raise KestrelLinkError("the serial channel is closed")
        return self._cable.lib

    def write(self, data: bytes, paced: bool = False) -> None:
        """Sends ``data`` on channel B in one write (Write_FILE_UART_2), or with ``paced`` one
        byte per second. Raises CableError (1: the write failed)."""
        data = bytes(data)
        lib = self._lib()
        if not data:
            return
        with open(self._file, "wb") as out:
            out.write(data)
        rc = lib.Write_FILE_UART_2(self._file, len(data), 1.0 if paced else 0.0)
        if rc:
            raise CableError("Write_FILE_UART_2", rc)

    def read(self, size: int, timeout: float = 5.0) -> bytes:
        """Waits for ``size`` bytes, at most ``timeout`` seconds (counted in whole seconds of the
        calendar clock), and returns them (Read_FILE_UART_2). Bytes beyond ``size`` that have
        already arrived are read and dropped. Raises CableError with the bytes waiting (or 6
        for none) when the time runs out, 1 when the read failed."""
        lib = self._lib()
        if size <= 0:
            return b""
        rc = lib.Read_FILE_UART_2(self._file, size, 1, float(timeout))
        if rc:
            raise CableError("Read_FILE_UART_2", rc,
                             "nothing arrived in time" if rc == 6 else
                             "a failure, or the bytes waiting when the time ran out")
        with open(self._file, "rb") as received:
            return received.read()

    def set_dtr(self, level: bool) -> None:
        """Sets (True) or clears (False) DTR on channel B (Set_Dtr / Clr_Dtr)."""
        name = "Set_Dtr" if level else "Clr_Dtr"
        rc = getattr(self._lib(), name)()
        if rc:
            raise CableError(name, rc)

    dtr = property(fset=set_dtr, doc="Write True or False to set or clear DTR (set_dtr).")

    def close(self) -> None:
        """Reopens channel A as an MPSSE engine (OpenDevice) and removes the temporary folder."""
        if self._folder is None:
            return
        shutil.rmtree(self._folder, ignore_errors=True)
        self._folder = None
        if self._cable._mode == "uart":
            self._cable._reopen("OpenDevice", self._cable.divisor)

    def __enter__(self) -> "Uart":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.close()

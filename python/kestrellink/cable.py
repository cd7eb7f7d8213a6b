"""The cable as Python objects: open and close, JTAG, SPI flash, pins and the serial channel.

Each Cable has a lock that every operation holds from its first export to its last, so threads
sharing one Cable see whole operations (an SPI transaction, a JTAG scan) one after another."""

import math
import os
import shutil
import tempfile
import threading
import time
from types import TracebackType
from typing import Any, Callable, Dict, Optional, Type, Union

from ._checks import atomic, integer
from ._checks import data as bytes_like
from ._native import VENDOR_NAME, StrPath
from . import _result_codes as codes
from ._result_codes import MEANINGS
from .clock import MAX_DIVISOR
from .errors import CableError, KestrelLinkError
from .jtag import Jtag
from .library import Library, MessageHandler, load
from .results import UartData, UartResult
from .spi import Spi

MAX_U32 = 0xFFFFFFFF
# Codes of an open that failed after opening channel A but before the library counts the
# connection as open: its closes skip channel A then, so it is brought up again to be closed.
_OPENED_BUT_NOT_COUNTED = (codes.OPEN_CHANNEL_A_RESET_FAILED, codes.OPEN_CHANNEL_A_POLL_FAILED)
# The results of a pin export that are answers, not failures: Wait_GPIOH1_Low's "not low" too.
_PIN_RESULTS = {"Wait_GPIOH1_Low": (codes.GPIO_H1_LOW, codes.GPIO_H1_NOT_LOW)}


def _text(value: Any, name: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    if "\0" in value:
        raise ValueError(f"{name} must not hold a NUL character")
    return value


class Cable:
    """An open cable: channel A as an MPSSE engine (:attr:`jtag`, :attr:`spi`, :attr:`gpio`),
    channel B as a serial port on demand (:meth:`uart`). Use :meth:`open`."""

    def __init__(self, lib: Library, description: str, serial: str, divisor: int) -> None:
        self.lib = lib
        self.description = description
        self.serial = serial
        self.divisor = divisor
        self._lock = threading.RLock()
        self.jtag = Jtag(self)
        self.spi = Spi(self)
        self.gpio = Gpio(self)
        self._mode = "closed"
        self._handler_to_restore: Optional[list] = None  # [handler] while on_message is set

    @property
    def _cable(self) -> "Cable":  # what @atomic takes the lock of
        return self

    @classmethod
    def open(cls, description: str = "ZV7300LNK", serial: str = "", divisor: int = 5, *,
             library: Union[Library, StrPath, None] = None,
             on_message: Optional[MessageHandler] = None) -> "Cable":
        """Loads the vendor library (LoadD2XXDLL) and opens the cable whose channels contain
        ``description`` and ``serial`` (OpenDevice); TCK runs at 12 MHz / ((1 + divisor) x 2),
        divisor 0 to 0xFFFF.

        ``library`` is a Library, or where to load one from (see :func:`kestrellink.load`).
        ``on_message`` receives the library's messages while the cable is open. Raises
        CableError("LoadD2XXDLL" or "OpenDevice", code) after undoing what was done."""
        description = _text(description, "description")
        serial = _text(serial, "serial")
        divisor = integer(divisor, "divisor", 0, MAX_DIVISOR)
        lib = library if isinstance(library, Library) else load(library)
        cable = cls(lib, description, serial, divisor)
        if on_message is not None:
            cable._handler_to_restore, lib.on_message = [lib.on_message], on_message
        loaded = lib.LoadD2XXDLL()
        if loaded != codes.LOAD_OK:
            if loaded != codes.LOAD_NO_LIBRARY:
                lib.UnLoadD2XXDLL()
            cable._restore_handler()
            reason = MEANINGS["LoadD2XXDLL"].get(loaded, "")
            raise CableError("LoadD2XXDLL", loaded, reason + (
                f" ({VENDOR_NAME}): install the vendor's library or enter a "
                "kestrellink.VirtualCable first" if loaded == codes.LOAD_NO_LIBRARY else ""))
        try:
            cable._reopen("OpenDevice", divisor)
        except BaseException:
            lib.UnLoadD2XXDLL()
            cable._restore_handler()
            raise
        return cable

    def _reopen(self, export: str, number: int) -> None:
        self.lib.CloseDevice()
        self._mode = "closed"
        rc = getattr(self.lib, export)(self.description, self.serial, number)
        if rc:
            self._release_failed_open(rc)
            raise CableError(export, rc, MEANINGS[export].get(rc, ""))
        self._mode = "mpsse" if export == "OpenDevice" else "uart"

    def _release_failed_open(self, rc: int) -> None:
        """Closes what a failed open left open, channel A included when the library does not
        count it as open yet (it was opened, then its reset or first poll failed)."""
        if rc in _OPENED_BUT_NOT_COUNTED:
            self.lib.CheckDeviceTalkable("", "", min(self.divisor, MAX_DIVISOR))
        self.lib.CloseDevice()

    def _restore_handler(self) -> None:
        if self._handler_to_restore is not None:
            self.lib.on_message = self._handler_to_restore[0]
            self._handler_to_restore = None

    def _mpsse(self) -> Library:
        if self._mode != "mpsse":
            raise KestrelLinkError(f"the cable is {self._mode}: channel A is not an MPSSE engine"
                                   + (" until the uart block ends" if self._mode == "uart" else ""))
        return self.lib

    @atomic
    def set_clock(self, divisor: int) -> None:
        """TCK becomes 12 MHz / ((1 + divisor) x 2) (FTDI_SetClk); divisor 0 to 0xFFFF."""
        divisor = integer(divisor, "divisor", 0, MAX_DIVISOR)
        rc = self._mpsse().FTDI_SetClk(divisor)
        if rc:
            raise CableError("FTDI_SetClk", rc, MEANINGS["FTDI_SetClk"].get(rc, ""))
        self.divisor = divisor

    @atomic
    def uart(self, baud: int = 115200) -> "Uart":
        """Reopens the cable as two 8N1 serial ports at ``baud`` bits/s (OpenDevice4) for
        channel B transfers; closing the Uart (or leaving its with block) reopens channel A as
        an MPSSE engine, and so does a failed open before it raises."""
        baud = integer(baud, "baud", 1, MAX_U32)
        self._mpsse()
        try:
            self._reopen("OpenDevice4", baud)
        except CableError:
            try:  # back to what it was, so that the cable stays usable
                self._reopen("OpenDevice", self.divisor)
            except CableError:
                pass  # the cable stays closed; the first failure is the one to report
            raise
        return Uart(self)

    @atomic
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
        if rc not in _PIN_RESULTS.get(name, (codes.TRANSFER_OK,)):
            raise CableError(name, rc)
        return rc

    @atomic
    def defaults(self) -> None:
        """Every ADBUS output back to its default level (Disable_AllTalk)."""
        self._call("Disable_AllTalk")

    @atomic
    def gpiol0_low(self) -> None:
        """GPIOL0 low where it is an output (GPIOL_low)."""
        self._call("GPIOL_low")

    @atomic
    def gpiol2_low(self, high_byte_inputs: bool = False) -> None:
        """GPIOL2 low (GPIO2_low2); with ``high_byte_inputs`` also every ACBUS line made an
        input (GPIO2_low)."""
        self._call("GPIO2_low" if high_byte_inputs else "GPIO2_low2")

    @atomic
    def gpiol3_low(self) -> None:
        """GPIOL3 low (GPIO3_low)."""
        self._call("GPIO3_low")

    @atomic
    def gpioh2(self, level: bool) -> None:
        """GPIOH2 high or low, where it is an output (GPIOH2_high / GPIOH2_low)."""
        if not isinstance(level, (bool, int)):
            raise TypeError(f"level must be a bool, not {type(level).__name__}")
        self._call("GPIOH2_high" if level else "GPIOH2_low")

    @atomic
    def read(self) -> int:
        """The ADBUS levels: bit 0 TCK, 1 TDI, 2 TDO, 3 TMS, 4-7 GPIOL0-3 (JTAG_ReadPort)."""
        rc, value = self._cable._mpsse().JTAG_ReadPort()
        if rc:
            raise CableError("JTAG_ReadPort", rc)
        return value

    @atomic
    def gpioh1_is_low(self) -> bool:
        """Tests GPIOH1 once (Wait_GPIOH1_Low)."""
        return self._call("Wait_GPIOH1_Low") == codes.GPIO_H1_LOW

    @atomic
    def wait_gpioh1_low(self, attempts: int = 1000) -> bool:
        """Tests GPIOH1 until it is low, at most ``attempts`` times; True when it went low."""
        attempts = integer(attempts, "attempts", 0, MAX_U32)
        return any(self.gpioh1_is_low() for _ in range(attempts))

    @atomic
    def pulse_gpiol1(self, low_ms: int = 10, after_ms: int = 10) -> None:
        """Drives GPIOL1 low for ``low_ms`` milliseconds, then waits ``after_ms`` (ResetXilinx)."""
        low_ms = integer(low_ms, "low_ms", 0, MAX_U32)
        after_ms = integer(after_ms, "after_ms", 0, MAX_U32)
        self._cable._mpsse().ResetXilinx(low_ms, after_ms)


class Uart:
    """Channel B as a serial port, from :meth:`Cable.uart`. Transfers go through the library's
    file transfers, with a private temporary folder.

    A read waits in slices of at most a second, in a helper thread, so that the calling
    thread stays interruptible (Ctrl-C raises KeyboardInterrupt at once, whatever the time-out).
    Bytes that complete an interrupted slice are kept for the next read."""

    def __init__(self, cable: Cable) -> None:
        self._cable = cable
        self._folder: Optional[str] = tempfile.mkdtemp(prefix="kestrellink-uart-")
        self._file = os.path.join(self._folder, "transfer.bin")
        self._pending = b""  # bytes the slices received that no read has returned yet
        self._slicing = threading.Lock()  # held while a transfer or slice runs (also after an
        # interrupt, by the helper thread until its last slice ends)

    def _lib(self) -> Library:
        if self._folder is None or self._cable._mode != "uart":
            raise KestrelLinkError("the serial channel is closed")
        return self._cable.lib

    @atomic
    def write(self, data: bytes, paced: bool = False) -> UartResult:
        """Sends ``data`` on channel B in one write (Write_FILE_UART_2), or with ``paced`` one
        byte per second; returns bytes_sent. Raises CableError (SEND_FAILED: the write failed; the
        names are those of kestrellink._result_codes)."""
        data = bytes_like(data, "data")
        integer(len(data), "len(data)", 0, MAX_U32)
        lib = self._lib()
        if not data:
            return UartResult(0)
        with self._slicing:
            with open(self._file, "wb") as out:
                out.write(data)
            rc = lib.Write_FILE_UART_2(self._file, len(data), 1.0 if paced else 0.0)
        if rc:
            raise CableError("Write_FILE_UART_2", rc)
        return UartResult(len(data))

    @atomic
    def read(self, size: int, timeout: float = 5.0) -> UartData:
        """Waits for ``size`` bytes, for at least ``timeout`` seconds (inf: without limit), and
        returns them (Read_FILE_UART_2): bytes whose ``to_dict()`` gives bytes_received. Bytes
        beyond ``size`` that have already arrived are read and dropped. When the time runs out,
        raises CableError with the number of bytes waiting (or RECEIVE_TIMED_OUT_EMPTY for none),
        which stay for the next read; RECEIVE_FAILED when the read failed."""
        size = integer(size, "size", 0, MAX_U32)
        if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
            raise TypeError(f"timeout must be a number of seconds, not {type(timeout).__name__}")
        if math.isnan(timeout) or timeout < 0:
            raise ValueError(f"timeout must be 0 or more seconds (inf: no limit), got {timeout}")
        lib = self._lib()
        if size == 0:
            return UartData()
        with self._slicing:
            if len(self._pending) >= size:
                data, self._pending = self._pending[:size], self._pending[size:]
                return UartData(data)
            wanted = size - len(self._pending)
        rc = self._interruptible(lambda cancel: self._receive(lib, wanted, timeout, cancel))
        if rc:
            raise CableError("Read_FILE_UART_2", rc,
                             "nothing arrived in time" if rc == codes.RECEIVE_TIMED_OUT_EMPTY else
                             "a failure, or the bytes waiting when the time ran out")
        with self._slicing:
            data, self._pending = self._pending, b""
        return UartData(data)

    def _receive(self, lib: Library, size: int, timeout: float, cancel: threading.Event) -> int:
        """Waits in slices (a time-out of 0: until the calendar second moves on) until the bytes
        are there, the time is up or the read is cancelled; runs with _slicing held. What arrives
        goes to _pending, where an interrupted caller's next read finds it."""
        deadline = time.monotonic() + timeout
        while not cancel.is_set():
            rc = lib.Read_FILE_UART_2(self._file, size, 1, 0.0)
            if rc == codes.RECEIVE_OK:
                with open(self._file, "rb") as received:
                    self._pending += received.read()
                return rc
            if time.monotonic() >= deadline:
                return rc
        return codes.RECEIVE_TIMED_OUT_EMPTY

    def _interruptible(self, work: Callable[[threading.Event], int]) -> int:
        """Runs ``work`` in a helper thread, which holds _slicing while it runs, and waits for it
        in short steps so that a signal reaches this thread. An interrupt cancels the work
        wherever it lands, in the helper's start included: ``work`` checks the cancel before
        each slice, so it ends after the slice under way, or before its first."""
        cancel = threading.Event()
        outcome: Dict[str, Any] = {}

        def run() -> None:
            with self._slicing:
                try:
                    outcome["result"] = work(cancel)
                except BaseException as error:  # handed to the caller
                    outcome["error"] = error

        helper = threading.Thread(target=run, name="kestrellink-uart-read", daemon=True)
        try:
            helper.start()
            while helper.is_alive():
                helper.join(0.05)
        except BaseException:
            cancel.set()
            raise
        if "error" in outcome:
            raise outcome["error"]
        return outcome["result"]

    @atomic
    def set_dtr(self, level: bool) -> None:
        """Sets (True) or clears (False) DTR on channel B (Set_Dtr / Clr_Dtr)."""
        name = "Set_Dtr" if level else "Clr_Dtr"
        lib = self._lib()
        with self._slicing:
            rc = getattr(lib, name)()
        if rc:
            raise CableError(name, rc)

    dtr = property(fset=set_dtr, doc="Write True or False to set or clear DTR (set_dtr).")

    @atomic
    def close(self) -> None:
        """Reopens channel A as an MPSSE engine (OpenDevice) and removes the temporary folder."""
        if self._folder is None:
            return
        with self._slicing:  # an interrupted read's last slice ends first
            shutil.rmtree(self._folder, ignore_errors=True)
            self._folder = None
        if self._cable._mode == "uart":
            self._cable._reopen("OpenDevice", self._cable.divisor)

    def __enter__(self) -> "Uart":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.close()

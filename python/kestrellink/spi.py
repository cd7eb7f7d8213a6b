"""A serial NOR flash on the SPI lines, its chip select on GPIOL2, through the engine ``kestrel spi``
runs (libkestrelengine): its parts, SFDP table, 4-byte addressing, block protection, pipelined
writes and read-back, with the same results, errors and progress events as the command."""

import ctypes
from typing import TYPE_CHECKING, Any, Dict, Optional, Tuple

from . import _engine
from ._checks import atomic, flag, integer
from ._checks import data as bytes_like
from .clock import Clock, clock_hz
from .errors import TargetError
from .progress import ProgressCallback
from .results import FlashData, FlashId, FlashResult

if TYPE_CHECKING:
    from .cable import Cable

# The two flash commands a script may want without a job: its ID and its status register.
READ_JEDEC_ID = 0x9F
READ_STATUS = 0x05
MAX_FLASH_SIZE = 1 << 32
MAX_TRANSFER = 1 << 24  # bytes each way of one transfer()
_COUNTS = ("bytes_erased", "bytes_programmed", "bytes_skipped", "bytes_verified")


class Spi:
    """The flash's jobs; addresses and sizes are in bytes.

    Each job first reads the flash's JEDEC ID and SFDP table, as ``kestrel spi`` does: a flash
    that does not answer is refused (TargetError), and the size it announces bounds every range
    (ValueError past the end). Set :attr:`size` for a flash that announces none (no larger than
    the one it announces). Writes and erases keep the rest of every sector they touch, refuse a
    protected range (TargetError) unless ``unprotect=True``, which clears the protection for the
    job and puts it back, and read back what they changed (VerifyError)."""

    def __init__(self, cable: "Cable") -> None:
        self._cable = cable
        self._size = 0  # the size a caller gave (--flash-size), or 0

    def _engine(self) -> ctypes.CDLL:
        return _engine.engine_for(self._cable._mpsse().path)

    def _job(self, verb: int, progress: Optional[ProgressCallback] = None,
             clock: Optional[Clock] = None, **fields: Any) -> Dict[str, Any]:
        """Runs one job on the open cable; returns its fields (kestrel's --json "fields")."""
        engine = self._engine()
        job = _engine.SpiJob(version=_engine.VERSION, verb=verb, flash_size=self._size,
                             divisor=self._cable.divisor, **fields)
        if clock is not None:
            job.clock_hz = clock_hz(clock, self._cable.lib.path)
        return _engine.run(engine.kestrel_spi_run, ctypes.byref(job), progress=progress,
                           library=self._cable.lib).fields

    @property
    def size(self) -> int:
        """The flash's size in bytes: the one given, else the one it announces."""
        if self._size:
            return self._size
        size = self.identify().size
        if not size:
            raise TargetError("the flash announces no size (no SFDP table, no capacity in its "
                              "JEDEC ID); set cable.spi.size")
        return size

    @size.setter
    @atomic
    def size(self, value: int) -> None:
        value = integer(value, "size", 1, MAX_FLASH_SIZE)
        before, self._size = self._size, value
        try:
            self._job(_engine.SPI_ID)
        except TargetError:
            pass  # no flash answers: every job refuses it, whatever its size
        except BaseException:
            self._size = before
            raise

    @atomic
    def transfer(self, command: bytes, read: int = 0) -> bytes:
        """One transaction: chip select low, ``command`` out, ``read`` bytes in, select high."""
        command = bytes_like(command, "command")
        read = integer(read, "read", 0, MAX_TRANSFER)
        if len(command) > MAX_TRANSFER:
            raise ValueError(f"command must be at most {MAX_TRANSFER} bytes")
        engine = self._engine()
        into = ctypes.create_string_buffer(read)
        _engine.run(engine.kestrel_spi_transfer, command, len(command), into, read,
                    library=self._cable.lib)
        return into.raw

    @atomic
    def jedec_id(self) -> bytes:
        """The three JEDEC identification bytes: manufacturer, memory type, capacity."""
        return self.transfer(bytes([READ_JEDEC_ID]), 3)

    @atomic
    def status(self) -> int:
        """Status register 1 (bit 0 busy, bit 1 write enabled)."""
        return self.transfer(bytes([READ_STATUS]), 1)[0]

    @atomic
    def identify(self) -> FlashId:
        """What ``kestrel spi id`` reports: the JEDEC ID, size (0: unknown) and smallest erase;
        ``protection`` holds its status registers and protected range."""
        fields = self._job(_engine.SPI_ID)
        flash = fields["flash"]
        return FlashId(bytes.fromhex(flash["id"]), flash["size"], flash["erase_size"],
                       fields.get("protection"))

    @atomic
    def read(self, address: int, size: int, progress: Optional[ProgressCallback] = None,
             clock: Optional[Clock] = None) -> FlashData:
        """``size`` bytes from ``address`` (bytes, with ``to_dict()`` giving bytes_read);
        ``progress`` receives the "reading" phase's events. ``clock`` slows the flash's clock
        (hertz or kestrel's text, "1.5M"), as it does for write, erase and verify."""
        address, size = self._range(address, size)
        if size == 0:
            return FlashData(b"")
        got = []

        def receive(_context: Any, bytes_in: Any, count: int) -> int:
            got.append(ctypes.string_at(bytes_in, count))
            return 0

        callback = _engine.DataFn(receive)
        self._job(_engine.SPI_READ, progress, clock, address=address, size=size,
                  receive=callback)
        return FlashData(b"".join(got))

    @atomic
    def verify(self, address: int, data: bytes, progress: Optional[ProgressCallback] = None,
               clock: Optional[Clock] = None) -> FlashResult:
        """Reads the range back ("verifying" phase) and compares it with ``data``; raises
        VerifyError at the first byte that differs."""
        data = bytes_like(data, "data")
        address, _ = self._range(address, len(data))
        fields = self._job(_engine.SPI_VERIFY, progress, clock, address=address, data=data,
                           data_size=len(data))
        return FlashResult(bytes_verified=fields["bytes_verified"])

    @atomic
    def erase(self, address: int = 0, size: Optional[int] = None,
              progress: Optional[ProgressCallback] = None, clock: Optional[Clock] = None,
              verify: bool = True, unprotect: bool = False) -> FlashResult:
        """Makes [address, address + size) read 0xFF, keeping the rest of the sectors it touches;
        without ``size``, erases the whole chip. ``verify`` reads the erased bytes back;
        ``unprotect`` clears the block protection for the job and puts it back."""
        if size is None:  # an address without a size is refused, as kestrel's --chip refuses one
            address, _ = self._range(address, 0)
            fields = self._job(_engine.SPI_ERASE, progress, clock, chip=1, address=address,
                               no_verify=not flag(verify, "verify"),
                               unprotect=flag(unprotect, "unprotect"))
        else:
            address, size = self._range(address, size)
            fields = self._job(_engine.SPI_ERASE, progress, clock, address=address, size=size,
                               no_verify=not flag(verify, "verify"),
                               unprotect=flag(unprotect, "unprotect"))
        return _counts(fields)

    @atomic
    def write(self, address: int, data: bytes, erase: bool = True, verify: bool = True,
              progress: Optional[ProgressCallback] = None, clock: Optional[Clock] = None,
              unprotect: bool = False) -> FlashResult:
        """Makes [address, address + len(data)) hold ``data`` and keeps the rest of every sector
        it touches; without ``erase`` only bits can be cleared (programmed over what is there).
        ``verify`` reads the range back and compares it; ``unprotect`` as for :meth:`erase`.
        ``progress`` receives the events of the "reading", "erasing", "writing" and "verifying"
        phases."""
        data = bytes_like(data, "data")
        address, _ = self._range(address, len(data))
        fields = self._job(_engine.SPI_WRITE, progress, clock, address=address, data=data,
                           data_size=len(data), no_erase=not flag(erase, "erase"),
                           no_verify=not flag(verify, "verify"),
                           unprotect=flag(unprotect, "unprotect"))
        return _counts(fields)

    @staticmethod
    def _range(address: int, size: int) -> Tuple[int, int]:
        """The range as ints in the bounds kestrel takes; the job holds it to the flash."""
        return (integer(address, "address", 0, 0xFFFFFFFF),
                integer(size, "size", 0, MAX_FLASH_SIZE))


def _counts(fields: Dict[str, Any]) -> FlashResult:
    return FlashResult(*(fields.get(name) for name in _COUNTS))

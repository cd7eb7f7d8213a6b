"""A serial NOR flash on the SPI lines, its chip select on GPIOL2, through the library's SPI and
pin exports: GPIO2_low2 selects it, Disable_AllTalk deselects it."""

from typing import TYPE_CHECKING, Callable, Optional, Tuple

from ._checks import atomic, integer
from ._checks import data as bytes_like
from .errors import CableError, TargetError, VerifyError
from .progress import Phase, ProgressCallback, Reporter
from .results import FlashData, FlashId, FlashResult

if TYPE_CHECKING:
    from .cable import Cable

# MPSSE byte commands for SPI mode 0: out on the falling edge, in on the rising edge, MSB first.
WRITE_BYTES = 0x11
READ_BYTES = 0x20

WRITE_ENABLE = 0x06
READ_STATUS = 0x05
READ_JEDEC_ID = 0x9F
READ = 0x03
PAGE_PROGRAM = 0x02
SECTOR_ERASE = 0x20
CHIP_ERASE = 0xC7
STATUS_BUSY = 0x01

PAGE_SIZE = 256
SECTOR_SIZE = 4096
ADDRESS_LIMIT = 1 << 24  # three address bytes
# Capacity bytes of the JEDEC ID read as log2 of the size: 1 KiB up to what three address bytes
# reach. Anything else (0x00 or 0xFF from an absent flash) leaves the size unknown.
CAPACITY_CODES = range(10, 25)
MAX_BUSY_POLLS = 100000
READ_CHUNK = 16 * 1024  # bytes per SPI_ReadDI call; the library cuts them into its own blocks


class Spi:
    """The flash's commands; addresses and sizes are in bytes (three-byte addressing).

    Every address range is checked against :attr:`size`, which is read from the JEDEC ID's
    capacity byte on first use; set it when the flash does not report its size that way."""

    def __init__(self, cable: "Cable") -> None:
        self._cable = cable
        self._size: Optional[int] = None

    @property
    def size(self) -> int:
        """The flash's size in bytes."""
        with self._cable._lock:
            if self._size is None:
                jedec = self.jedec_id()
                if jedec[2] not in CAPACITY_CODES:
                    raise TargetError(f"the flash's JEDEC ID {jedec.hex(' ')} gives no size; "
                                      "set cable.spi.size")
                self._size = 1 << jedec[2]
            return self._size

    @size.setter
    def size(self, value: int) -> None:
        self._size = integer(value, "size", 1, ADDRESS_LIMIT)

    def _call(self, name: str, *args: object) -> object:
        result = getattr(self._cable._mpsse(), name)(*args)
        rc = result[0] if isinstance(result, tuple) else result
        if rc:
            raise CableError(name, rc)
        return result

    def _receive(self, count: int) -> bytes:
        _, data = self._call("SPI_ReadDI", READ_BYTES, count, True)
        if len(data) != count:
            raise TargetError(f"SPI_ReadDI delivered {len(data)} of {count} bytes")
        return data

    @atomic
    def transfer(self, command: bytes, read: int = 0) -> bytes:
        """One transaction: chip select low, ``command`` out, ``read`` bytes in, select high."""
        command = bytes_like(command, "command")
        read = integer(read, "read", 0, ADDRESS_LIMIT)
        return self._transaction(command, read)

    def _transaction(self, command: bytes, read: int,
                     received: Optional[Callable[[int], None]] = None) -> bytes:
        """transfer() without the checks; ``received`` is told the bytes of each chunk read."""
        self._call("GPIO2_low2")
        try:
            if command:
                self._call("SPI_WriteDO", WRITE_BYTES, len(command), command)
            chunks = []
            for done in range(0, read, READ_CHUNK):
                chunks.append(self._receive(min(READ_CHUNK, read - done)))
                if received is not None:
                    received(len(chunks[-1]))
        finally:
            self._call("Disable_AllTalk")
        return b"".join(chunks)

    @atomic
    def jedec_id(self) -> bytes:
        """The three JEDEC identification bytes: manufacturer, memory type, capacity."""
        return self.transfer(bytes([READ_JEDEC_ID]), 3)

    @atomic
    def identify(self) -> FlashId:
        """The JEDEC ID with the size (see :attr:`size`) and the erase unit (a 4 KiB sector)."""
        return FlashId(self.jedec_id(), self.size, SECTOR_SIZE)

    @atomic
    def status(self) -> int:
        """The status register (bit 0 busy, bit 1 write enabled)."""
        return self.transfer(bytes([READ_STATUS]), 1)[0]

    @staticmethod
    def _command(opcode: int, address: int) -> bytes:
        return bytes([opcode]) + address.to_bytes(3, "big")

    def _check_range(self, address: int, size: int) -> Tuple[int, int]:
        """The range as ints, when it lies inside the flash; raises before anything is sent."""
        address = integer(address, "address", 0, ADDRESS_LIMIT - 1)
        size = integer(size, "size", 0, ADDRESS_LIMIT)
        if address + size > self.size:
            raise ValueError(f"{size} bytes at {address:#x} run past the end of the "
                             f"{self.size:#x}-byte flash")
        return address, size

    def _wait_ready(self) -> None:
        for _ in range(MAX_BUSY_POLLS):
            if not self.status() & STATUS_BUSY:
                return
        raise TargetError("the flash stayed busy")

    def _write_enabled(self, command: bytes) -> None:
        self.transfer(bytes([WRITE_ENABLE]))
        self.transfer(command)
        self._wait_ready()

    def _read(self, address: int, size: int, phase: Phase) -> bytes:
        return self._transaction(self._command(READ, address), size, phase.advance) if size \
            else b""

    @atomic
    def read(self, address: int, size: int, progress: Optional[ProgressCallback] = None
             ) -> FlashData:
        """``size`` bytes from ``address`` (bytes, with ``to_dict()`` giving bytes_read);
        ``progress`` receives the "reading" phase's events."""
        address, size = self._check_range(address, size)
        return FlashData(self._read(address, size, Reporter(progress).phase("reading", size)))

    @atomic
    def verify(self, address: int, data: bytes, progress: Optional[ProgressCallback] = None
               ) -> FlashResult:
        """Reads the range back ("verifying" phase) and compares it with ``data``; raises
        VerifyError at the first byte that differs."""
        data = bytes_like(data, "data")
        address, _ = self._check_range(address, len(data))
        return self._verify(address, data, Reporter(progress))

    def _verify(self, address: int, data: bytes, reporter: Reporter) -> FlashResult:
        back = self._read(address, len(data), reporter.phase("verifying", len(data)))
        if back != data:
            at = next(i for i, (a, b) in enumerate(zip(back, data)) if a != b)
            raise VerifyError(address + at, data[at], back[at])
        return FlashResult(bytes_verified=len(data))

    @atomic
    def erase(self, address: int = 0, size: Optional[int] = None,
              progress: Optional[ProgressCallback] = None) -> FlashResult:
        """Erases (to 0xFF) every 4 KiB sector that [address, address + size) touches; without
        ``size``, the whole chip. Returns bytes_erased (the whole sectors, or the chip's size
        when it is known); ``progress`` receives the "erasing" phase's events."""
        reporter = Reporter(progress)
        if size is None:
            try:
                total = self.size
            except TargetError:  # a chip erase needs no size; it only goes unreported
                total = 0
            phase = reporter.phase("erasing", total)
            self._write_enabled(bytes([CHIP_ERASE]))
            phase.update(total)
            return FlashResult(bytes_erased=total)
        address, size = self._check_range(address, size)
        return FlashResult(bytes_erased=self._erase_sectors(address, size, reporter))

    def _erase_sectors(self, address: int, size: int, reporter: Reporter) -> int:
        sectors = range(address // SECTOR_SIZE, (address + size - 1) // SECTOR_SIZE + 1) \
            if size else range(0)
        phase = reporter.phase("erasing", len(sectors) * SECTOR_SIZE)
        for sector in sectors:
            self._write_enabled(self._command(SECTOR_ERASE, sector * SECTOR_SIZE))
            phase.advance(SECTOR_SIZE)
        return len(sectors) * SECTOR_SIZE

    @atomic
    def write(self, address: int, data: bytes, erase: bool = True, verify: bool = False,
              progress: Optional[ProgressCallback] = None) -> FlashResult:
        """Programs ``data`` at ``address`` page by page. With ``erase`` (the default) the
        sectors the range touches are erased first, so the rest of those sectors becomes 0xFF;
        without it the flash can only clear bits. Pieces of a page that are all 0xFF are not
        programmed (that changes no bit) and count as skipped. With ``verify`` the range is read
        back (VerifyError at the first difference). ``progress`` receives the events of the
        "erasing", "writing" and "verifying" phases."""
        data = bytes_like(data, "data")
        address, _ = self._check_range(address, len(data))
        reporter = Reporter(progress)
        erased = self._erase_sectors(address, len(data), reporter) if erase else 0
        phase = reporter.phase("writing", len(data))
        skipped = 0
        while phase.done < len(data):
            at = address + phase.done
            piece = data[phase.done:phase.done + PAGE_SIZE - at % PAGE_SIZE]  # a program wraps
            if piece.count(0xFF) == len(piece):
                skipped += len(piece)
            else:
                self._write_enabled(self._command(PAGE_PROGRAM, at) + piece)
            phase.advance(len(piece))
        verified = self._verify(address, data, reporter).bytes_verified if verify else None
        return FlashResult(erased if erase else None, len(data) - skipped, skipped, verified)

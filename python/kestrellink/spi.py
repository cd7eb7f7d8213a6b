"""A serial NOR flash on the SPI lines, its chip select on GPIOL2, through the library's SPI and
pin exports: GPIO2_low2 selects it, Disable_AllTalk deselects it."""

from contextlib import contextmanager, suppress
from typing import TYPE_CHECKING, Callable, Iterator, Optional, Tuple, Union

from ._checks import atomic, integer
from ._checks import data as bytes_like
from .clock import clock_hz, flash_divisor
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
READ_STATUS_2 = 0x35
READ_JEDEC_ID = 0x9F
READ = 0x03
PAGE_PROGRAM = 0x02
SECTOR_ERASE = 0x20
CHIP_ERASE = 0xC7
STATUS_BUSY = 0x01
ERASED = 0xFF

PAGE_SIZE = 256
SECTOR_SIZE = 4096
ADDRESS_LIMIT = 1 << 24  # three address bytes
# Capacity bytes of the JEDEC ID read as log2 of the size: 1 KiB up to what three address bytes
# reach. Anything else (0x00 or 0xFF from an absent flash) leaves the size unknown.
CAPACITY_CODES = range(10, 25)
MAX_BUSY_POLLS = 100000
READ_CHUNK = 16 * 1024  # bytes per SPI_ReadDI call; the library cuts them into its own blocks
# A JEDEC ID read from no flash: DI left to its pull-up, or held low.
NO_FLASH_IDS = (b"\xff\xff\xff", b"\0\0\0")
# Block-protect bits of status register 1: BP0 to BP3 in bits 2 to 5, except on Winbond and
# GigaDevice parts of 16 MiB or less, whose bit 5 is top/bottom (protecting nothing alone). Their
# complement bit (status register 2, bit 6) protects the whole flash when no BP bit is set (and
# nothing when all are; taken as protection all the same).
BLOCK_PROTECT = 0x3C
COMPLEMENT_MAKERS = (0xEF, 0xC8)
BLOCK_PROTECT_OF_COMPLEMENT_MAKERS = 0x1C
COMPLEMENT = 0x40
# A flash job's clock: hertz, or kestrel's text for it ("1.5M").
Clock = Union[int, float, str]
ERASE_IGNORED = "the erase did not take (a protected block, or a flash that ignored the command)"
PROGRAM_IGNORED = "the program did not take (a protected block, or a flash that ignored it)"


class Spi:
    """The flash's commands; addresses and sizes are in bytes (three-byte addressing).

    Every address range is checked against :attr:`size`, which is read from the JEDEC ID's
    capacity byte on first use; set it when the flash does not report its size that way (a size
    larger than the one the ID announces is refused: addresses past the end wrap around). Reads,
    writes, erases and verifies first read the JEDEC ID and refuse a flash that does not answer;
    writes and erases refuse a flash with block-protect bits set, and read back what they erase
    and program, so that a command the flash ignored raises instead of counting as done."""

    def __init__(self, cable: "Cable") -> None:
        self._cable = cable
        self._size: Optional[int] = None

    @property
    def size(self) -> int:
        """The flash's size in bytes."""
        with self._cable._lock:
            if self._size is None:
                jedec = self._answering_id()
                if jedec[2] not in CAPACITY_CODES:
                    raise TargetError(f"the flash's JEDEC ID {jedec.hex(' ')} gives no size; "
                                      "set cable.spi.size")
                self._size = 1 << jedec[2]
            return self._size

    @size.setter
    def size(self, value: int) -> None:
        value = integer(value, "size", 1, ADDRESS_LIMIT)
        # A size past the one the part announces would wrap an address past its end around to
        # its start: a write there would replace the first sectors, and read back as verified.
        jedec = self.jedec_id()
        if jedec not in NO_FLASH_IDS and jedec[2] in CAPACITY_CODES and value > 1 << jedec[2]:
            raise ValueError(f"size {value} is larger than the flash: its JEDEC ID "
                             f"{jedec.hex(' ')} announces {1 << jedec[2]} bytes, and an address "
                             "past the end would wrap around to the start")
        self._size = value

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

    @contextmanager
    def _clocked(self, hz: Optional[float]) -> Iterator[None]:
        """Runs a flash job at ``hz`` (None: the fastest the cable and the part allow), set after
        the flash has answered its ID at the cable's own clock, which is put back afterwards."""
        divisor = flash_divisor(hz, self._answering_id())
        own = self._cable.divisor
        if divisor == own:
            yield
            return
        self._call("FTDI_SetClk", divisor)
        try:
            yield
        except BaseException:
            # The job's own error is the one to see; a cable that failed it fails this too.
            with suppress(CableError):
                self._call("FTDI_SetClk", own)
            raise
        self._call("FTDI_SetClk", own)

    def _answering_id(self) -> bytes:
        """The JEDEC ID; TargetError when it shows that no flash answered."""
        jedec = self.jedec_id()
        if jedec in NO_FLASH_IDS:
            raise TargetError(f"no flash answers: its JEDEC ID reads {jedec.hex(' ')}, as the bus "
                              "does with nothing driving DI; check the flash's power, wiring and "
                              "chip select (GPIOL2)")
        return jedec

    def _writable(self, touched: Optional[str]) -> None:
        """Raises TargetError unless a flash answers and, when ``touched`` names what the
        operation changes (None: nothing), no status register bit protects it. The makers'
        block-protect tables are not decoded here: any protection counts as the whole flash's, as
        kestrel counts it for a maker whose table it does not know."""
        jedec = self._answering_id()
        if not touched:
            return
        sr1 = self.status()
        registers = f"status register 1 {sr1:#04x}"
        complement = jedec[0] in COMPLEMENT_MAKERS
        protected = sr1 & (BLOCK_PROTECT_OF_COMPLEMENT_MAKERS
                           if complement and 1 << jedec[2] <= ADDRESS_LIMIT else BLOCK_PROTECT)
        if complement:
            sr2 = self.transfer(bytes([READ_STATUS_2]), 1)[0]
            # All ones: an older part of the family, with status register 1 alone, ignored 0x35.
            if sr2 != 0xFF:
                registers += f", status register 2 {sr2:#04x}"
                protected |= sr2 & COMPLEMENT
        if protected:
            raise TargetError(
                f"{touched} overlaps the protected range, the whole flash ({registers}: "
                "block-protect bits set, whose range is not decoded here, so all of it is taken "
                "as protected); nothing was erased or programmed. Clear the bits with a status "
                "write, or let kestrel do the job with --unprotect")

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

    @staticmethod
    def _span(first: int, end: int) -> Optional[str]:
        return f"{first:#08x} to {end - 1:#08x}" if first < end else None

    @staticmethod
    def _compare(address: int, expected: bytes, back: bytes, reason: str = "") -> None:
        if back != expected:
            at = next(i for i, (a, b) in enumerate(zip(back, expected)) if a != b)
            raise VerifyError(address + at, expected[at], back[at], reason)

    def _read(self, address: int, size: int, phase: Phase) -> bytes:
        return self._transaction(self._command(READ, address), size, phase.advance) if size \
            else b""

    @atomic
    def read(self, address: int, size: int, progress: Optional[ProgressCallback] = None,
             clock: Optional[Clock] = None) -> FlashData:
        """``size`` bytes from ``address`` (bytes, with ``to_dict()`` giving bytes_read);
        ``progress`` receives the "reading" phase's events. ``clock`` slows the flash's clock
        (see :mod:`kestrellink.clock`), as it does for write, erase and verify."""
        hz = None if clock is None else clock_hz(clock)
        address, size = self._check_range(address, size)
        with self._clocked(hz):
            return FlashData(self._read(address, size, Reporter(progress).phase("reading", size)))

    @atomic
    def verify(self, address: int, data: bytes, progress: Optional[ProgressCallback] = None,
               clock: Optional[Clock] = None) -> FlashResult:
        """Reads the range back ("verifying" phase) and compares it with ``data``; raises
        VerifyError at the first byte that differs."""
        hz = None if clock is None else clock_hz(clock)
        data = bytes_like(data, "data")
        address, _ = self._check_range(address, len(data))
        with self._clocked(hz):
            self._compare(address, data, self._read_back(address, len(data), Reporter(progress)))
        return FlashResult(bytes_verified=len(data))

    def _read_back(self, address: int, size: int, reporter: Reporter) -> bytes:
        return self._read(address, size, reporter.phase("verifying", size))

    @atomic
    def erase(self, address: int = 0, size: Optional[int] = None,
              progress: Optional[ProgressCallback] = None, clock: Optional[Clock] = None
              ) -> FlashResult:
        """Erases (to 0xFF) every 4 KiB sector that [address, address + size) touches; without
        ``size``, the whole chip. What was erased is read back (VerifyError where it is not
        0xFF). Returns bytes_erased and bytes_verified: the whole sectors, or the chip's size
        (0 erased and its first sector verified when the size is unknown). ``progress`` receives
        the "erasing" phase's events, and a chip erase's "verifying" phase."""
        hz = None if clock is None else clock_hz(clock)
        reporter = Reporter(progress)
        if size is not None:
            address, size = self._check_range(address, size)
        with self._clocked(hz):
            if size is None:
                return self._erase_chip(reporter)
            sectors = self._sectors(address, size)
            self._writable(self._span(sectors.start * SECTOR_SIZE, sectors.stop * SECTOR_SIZE))
            erased = self._erase_sectors(sectors, reporter)
        return FlashResult(bytes_erased=erased, bytes_verified=erased)

    def _erase_chip(self, reporter: Reporter) -> FlashResult:
        self._writable("a chip erase")
        try:
            total = self.size
        except TargetError:  # a chip erase needs no size; it only goes unreported
            total = 0
        phase = reporter.phase("erasing", total)
        self._write_enabled(bytes([CHIP_ERASE]))
        phase.update(total)
        checked = total or SECTOR_SIZE
        self._compare(0, bytes([ERASED]) * checked, self._read_back(0, checked, reporter),
                      ERASE_IGNORED)
        return FlashResult(bytes_erased=total, bytes_verified=checked)

    @staticmethod
    def _sectors(address: int, size: int) -> range:
        """The sectors [address, address + size) touches."""
        return range(address // SECTOR_SIZE, (address + size - 1) // SECTOR_SIZE + 1) \
            if size else range(0)

    def _erase_sectors(self, sectors: range, reporter: Reporter) -> int:
        """Erases the sectors one by one, each read back before the next."""
        phase = reporter.phase("erasing", len(sectors) * SECTOR_SIZE)
        blank = bytes([ERASED]) * SECTOR_SIZE
        for sector in sectors:
            at = sector * SECTOR_SIZE
            self._write_enabled(self._command(SECTOR_ERASE, at))
            self._compare(at, blank, self._transaction(self._command(READ, at), SECTOR_SIZE),
                          ERASE_IGNORED)
            phase.advance(SECTOR_SIZE)
        return len(sectors) * SECTOR_SIZE

    @atomic
    def write(self, address: int, data: bytes, erase: bool = True, verify: bool = False,
              progress: Optional[ProgressCallback] = None, clock: Optional[Clock] = None
              ) -> FlashResult:
        """Programs ``data`` at ``address`` page by page. With ``erase`` (the default) the
        sectors the range touches are erased first, so the rest of those sectors becomes 0xFF;
        without it the flash can only clear bits. Pieces of a page that are all 0xFF are not
        programmed (that changes no bit) and count as skipped. Each erased sector is read back,
        and so is the range after programming: VerifyError where a bit the data clears reads 1
        (a program that did not take), or with ``verify`` at the first byte that differs.
        ``progress`` receives the events of the "erasing", "writing" and "verifying" phases."""
        hz = None if clock is None else clock_hz(clock)
        data = bytes_like(data, "data")
        address, _ = self._check_range(address, len(data))
        with self._clocked(hz):
            return self._write(address, data, erase, verify, Reporter(progress))

    def _write(self, address: int, data: bytes, erase: bool, verify: bool, reporter: Reporter
               ) -> FlashResult:
        sectors = self._sectors(address, len(data))
        self._writable(self._span(sectors.start * SECTOR_SIZE, sectors.stop * SECTOR_SIZE)
                       if erase else self._span(address, address + len(data)))
        erased = self._erase_sectors(sectors, reporter) if erase else 0
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
        back = self._read_back(address, len(data), reporter)
        if verify:
            self._compare(address, data, back)
        else:  # only the zeros are programmed: the flash holds its bits and the data's
            self._compare(address, _both(back, data), back, PROGRAM_IGNORED)
        return FlashResult(erased if erase else None, len(data) - skipped, skipped,
                           len(data) if verify else None)


def _both(first: bytes, second: bytes) -> bytes:
    """The bitwise AND of two byte strings of one length."""
    return (int.from_bytes(first, "big") & int.from_bytes(second, "big")).to_bytes(
        len(first), "big")

"""A serial NOR flash on the SPI lines, its chip select on GPIOL2, through the library's SPI and
pin exports: GPIO2_low2 selects it, Disable_AllTalk deselects it."""

from typing import TYPE_CHECKING, Optional, Tuple

from ._checks import atomic, integer
from ._checks import data as bytes_like
from .errors import CableError, TargetError

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
        self._call("GPIO2_low2")
        try:
            if command:
                self._call("SPI_WriteDO", WRITE_BYTES, len(command), command)
            data = b"".join(self._receive(min(READ_CHUNK, read - done))
                            for done in range(0, read, READ_CHUNK))
        finally:
            self._call("Disable_AllTalk")
        return data

    @atomic
    def jedec_id(self) -> bytes:
        """The three JEDEC identification bytes: manufacturer, memory type, capacity."""
        return self.transfer(bytes([READ_JEDEC_ID]), 3)

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

    @atomic
    def read(self, address: int, size: int) -> bytes:
        """``size`` bytes from ``address``."""
        address, size = self._check_range(address, size)
        return self.transfer(self._command(READ, address), size) if size else b""

    @atomic
    def erase(self, address: int = 0, size: Optional[int] = None) -> None:
        """Erases (to 0xFF) every 4 KiB sector that [address, address + size) touches; without
        ``size``, the whole chip."""
        if size is None:
            self._write_enabled(bytes([CHIP_ERASE]))
            return
        address, size = self._check_range(address, size)
        if not size:
            return
        for sector in range(address // SECTOR_SIZE, (address + size - 1) // SECTOR_SIZE + 1):
            self._write_enabled(self._command(SECTOR_ERASE, sector * SECTOR_SIZE))

    @atomic
    def write(self, address: int, data: bytes, erase: bool = True) -> None:
        """Programs ``data`` at ``address`` page by page. With ``erase`` (the default) the
        sectors the range touches are erased first, so the rest of those sectors becomes 0xFF;
        without it the flash can only clear bits."""
        data = bytes_like(data, "data")
        address, _ = self._check_range(address, len(data))
        if erase and data:
            self.erase(address, len(data))
        done = 0
        while done < len(data):
            at = address + done
            piece = min(PAGE_SIZE - at % PAGE_SIZE, len(data) - done)  # a page program wraps
            self._write_enabled(self._command(PAGE_PROGRAM, at) + data[done:done + piece])
            done += piece

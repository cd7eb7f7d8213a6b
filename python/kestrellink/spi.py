"""A serial NOR flash on the SPI lines, its chip select on GPIOL2, through the library's SPI and
pin exports: GPIO2_low2 selects it, Disable_AllTalk deselects it."""

from typing import TYPE_CHECKING, Optional

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
MAX_BUSY_POLLS = 100000
READ_CHUNK = 16 * 1024  # bytes per SPI_ReadDI call; the library cuts them into its own blocks


class Spi:
    """The flash's commands; addresses and sizes are in bytes (three-byte addressing)."""

    def __init__(self, cable: "Cable") -> None:
        self._cable = cable

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

    def transfer(self, command: bytes, read: int = 0) -> bytes:
        """One transaction: chip select low, ``command`` out, ``read`` bytes in, select high."""
        self._call("GPIO2_low2")
        try:
            if command:
                self._call("SPI_WriteDO", WRITE_BYTES, len(command), command)
            data = b"".join(self._receive(min(READ_CHUNK, read - done))
                            for done in range(0, read, READ_CHUNK))
        finally:
            self._call("Disable_AllTalk")
        return data

    def jedec_id(self) -> bytes:
        """The three JEDEC identification bytes: manufacturer, memory type, capacity."""
        return self.transfer(bytes([READ_JEDEC_ID]), 3)

    def status(self) -> int:
        """The status register (bit 0 busy, bit 1 write enabled)."""
        return self.transfer(bytes([READ_STATUS]), 1)[0]

    @staticmethod
    def _command(opcode: int, address: int) -> bytes:
        return bytes([opcode]) + address.to_bytes(3, "big")

    @staticmethod
    def _check_range(address: int, size: int) -> None:
        if address < 0 or size < 0 or address + size > ADDRESS_LIMIT:
            raise ValueError(f"{size} bytes at {address:#x} leave the 16 MiB address range")

    def _wait_ready(self) -> None:
        for _ in range(MAX_BUSY_POLLS):
            if not self.status() & STATUS_BUSY:
                return
        raise TargetError("the flash stayed busy")

    def _write_enabled(self, command: bytes) -> None:
        self.transfer(bytes([WRITE_ENABLE]))
        self.transfer(command)
        self._wait_ready()

    def read(self, address: int, size: int) -> bytes:
        """``size`` bytes from ``address``."""
        self._check_range(address, size)
        return self.transfer(self._command(READ, address), size) if size else b""

    def erase(self, address: int = 0, size: Optional[int] = None) -> None:
        """Erases (to 0xFF) every 4 KiB sector that [address, address + size) touches; without
        ``size``, the whole chip."""
        if size is None:
            self._write_enabled(bytes([CHIP_ERASE]))
            return
        self._check_range(address, size)
        for sector in range(address // SECTOR_SIZE, (address + size - 1) // SECTOR_SIZE + 1):
            self._write_enabled(self._command(SECTOR_ERASE, sector * SECTOR_SIZE))

    def write(self, address: int, data: bytes, erase: bool = True) -> None:
        """Programs ``data`` at ``address`` page by page. With ``erase`` (the default) the
        sectors the range touches are erased first, so the rest of those sectors becomes 0xFF;
        without it the flash can only clear bits."""
        data = bytes(data)
        self._check_range(address, len(data))
        if erase and data:
            self.erase(address, len(data))
        done = 0
        while done < len(data):
            at = address + done
            piece = min(PAGE_SIZE - at % PAGE_SIZE, len(data) - done)  # a page program wraps
            self._write_enabled(self._command(PAGE_PROGRAM, at) + data[done:done + piece])
            done += piece

"""What whole operations give back, as plain data.

Each result's ``to_dict()`` uses the names ``kestrel --json`` puts in its document's ``fields``
for the same thing (docs/kestrel-result.schema.json), so a script can treat a Python bench and
the command line alike. Results that carry data (a flash read, a serial read) are bytes with a
``to_dict()``, so code that used the bytes keeps working."""

import dataclasses
from typing import Any, Dict, Optional, Tuple


def _hex32(value: Optional[int]) -> Optional[str]:
    return None if value is None else f"0x{value:08X}"


@dataclasses.dataclass(frozen=True)
class Device:
    """One device of a JTAG chain: its place (0 nearest TDI), IDCODE (None: it has none) and
    instruction-register length (None: not measured, or not measurable)."""
    index: int
    idcode: Optional[int]
    ir_length: Optional[int] = None

    def to_dict(self) -> Dict[str, Any]:
        return {"index": self.index, "idcode": _hex32(self.idcode), "ir_length": self.ir_length}


@dataclasses.dataclass(frozen=True)
class ScanResult:
    """A chain as ``kestrel jtag idcode`` reports it."""
    devices: Tuple[Device, ...]

    @property
    def idcodes(self) -> Tuple[int, ...]:
        """The IDCODEs nearest TDI first, 0 for a device without one (as Jtag.idcodes())."""
        return tuple(d.idcode or 0 for d in self.devices)

    @property
    def ir_lengths(self) -> Optional[Tuple[int, ...]]:
        """The instruction-register lengths, or None when they could not be found."""
        lengths = tuple(d.ir_length for d in self.devices)
        return None if None in lengths else lengths  # type: ignore[return-value]

    def to_dict(self) -> Dict[str, Any]:
        return {"device_count": len(self.devices), "devices": [d.to_dict() for d in self.devices]}


@dataclasses.dataclass(frozen=True)
class PlayResult:
    """An SVF or XSVF playback as ``kestrel jtag svf|xsvf`` reports it: the "played" field and
    one entry per TDO mismatch (where, command, expected, actual, mask)."""
    played: Dict[str, Any]
    mismatches: Tuple[Dict[str, Any], ...] = ()

    def to_dict(self) -> Dict[str, Any]:
        fields: Dict[str, Any] = {"played": dict(self.played)}
        if self.mismatches:
            fields["mismatches"] = [dict(m) for m in self.mismatches]
        return fields


@dataclasses.dataclass(frozen=True)
class FlashId:
    """The flash as ``kestrel spi id`` names it: JEDEC ID, size (0: unknown) and the smallest
    erase, in bytes, and its protection as the command reports it (status registers, protected
    range), when read."""
    jedec_id: bytes
    size: int
    erase_size: int
    protection: Optional[Dict[str, Any]] = None

    def to_dict(self) -> Dict[str, Any]:
        flash = {"flash": {"id": self.jedec_id.hex(" ").upper(), "size": self.size,
                           "erase_size": self.erase_size}}
        return {**flash, "protection": self.protection} if self.protection else flash


@dataclasses.dataclass(frozen=True)
class FlashResult:
    """The byte counts of a flash write, erase or verify; a count the operation did not reach
    is None and left out of to_dict(), as the command line leaves out fields."""
    bytes_erased: Optional[int] = None
    bytes_programmed: Optional[int] = None
    bytes_skipped: Optional[int] = None  # in the range, but already holding what was wanted
    bytes_verified: Optional[int] = None

    def to_dict(self) -> Dict[str, Any]:
        return {k: v for k, v in dataclasses.asdict(self).items() if v is not None}


@dataclasses.dataclass(frozen=True)
class UartResult:
    """What a serial write sent."""
    bytes_sent: int

    def to_dict(self) -> Dict[str, Any]:
        return {"bytes_sent": self.bytes_sent}


class _Data(bytes):
    """Bytes an operation read, which also report how many (FIELD)."""
    FIELD = ""

    def to_dict(self) -> Dict[str, Any]:
        return {self.FIELD: len(self)}

    def __reduce__(self) -> Tuple[Any, Tuple[bytes]]:  # pickles as itself, not as bytes
        return type(self), (bytes(self),)

    def __repr__(self) -> str:
        return f"{type(self).__name__}({bytes(self)!r})"


class FlashData(_Data):
    """The bytes a flash read returned (bytes_read)."""
    FIELD = "bytes_read"


class UartData(_Data):
    """The bytes a serial read returned (bytes_received)."""
    FIELD = "bytes_received"

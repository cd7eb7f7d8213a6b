"""A JTAG chain on the cable's MPSSE channel, driven through the library's JTAG exports."""

from typing import TYPE_CHECKING, Any, List, Optional

from ._checks import atomic, flag, integer
from ._checks import data as bytes_like
from ._jtag_engine import IDCODE, SCAN, SVF, XSVF, run_jtag
from .errors import CableError, TargetError
from .progress import ProgressCallback
from .results import Device, PlayResult, ScanResult

if TYPE_CHECKING:
    from .cable import Cable

# MPSSE option bits of every shift: data out on the falling edge, in on the rising edge, least
# significant bit first (a TAP samples TDI and TMS on the rising edge).
MODE = 0x09
IDCODE_BITS = 32
MAX_SHIFT_BITS = 1 << 20  # a data register shift; the capture buffer is an eighth of that


def _ones(bits: int) -> int:
    return (1 << bits) - 1


def _played(outcome: Any) -> PlayResult:
    fields = outcome.fields
    return PlayResult(fields.get("played", {}), tuple(fields.get("mismatches", ())))


class Jtag:
    """The TAP controllers on the chain; device 0 is the one nearest TDI.

    Every operation starts and ends in Run-Test/Idle. The chain is examined on first use: its
    length and IDCODEs (:meth:`idcodes`) and its instruction-register lengths, which are taken
    from the pattern every TAP loads at Capture-IR (1 then 0, from the bit nearest TDO). Set
    :attr:`ir_lengths` when a device's pattern makes that ambiguous.
    """

    def __init__(self, cable: "Cable") -> None:
        self._cable = cable
        self.ir_lengths: Optional[List[int]] = None
        self._idcodes: Optional[List[int]] = None
        self._dr_lengths: List[Optional[int]] = []  # data register each device has selected

    def _call(self, name: str, *args: object) -> None:
        rc = getattr(self._cable._mpsse(), name)(*args)
        if rc:
            raise CableError(name, rc)

    def _tms(self, count: int, bits: int) -> None:
        self._call("JTAG_WriteTMS", count - 1, bits)

    def _exit_to_idle(self) -> None:
        self._tms(2, 0x01)  # Exit1 -> Update -> Run-Test/Idle
        self._call("JTAG_Send2FTDI")

    def _reset_to_idle(self) -> None:
        self._tms(6, 0x1F)  # five ones reach Test-Logic-Reset from anywhere; a zero: Idle
        self._dr_lengths = [IDCODE_BITS if i else 1 for i in self._idcodes or []]

    def _capture(self, ir: bool, bits: int, stream: int) -> int:
        """Shifts ``bits`` bits of ``stream`` (bit 0 first) through the IR or DR chain from
        Run-Test/Idle and back, and returns the bits TDO gave, the first in bit 0."""
        if ir:
            self._tms(4, 0x03)  # Run-Test/Idle -> Select-DR -> Select-IR -> Capture -> Shift-IR
        else:
            self._tms(3, 0x01)  # Run-Test/Idle -> Select-DR -> Capture-DR -> Shift-DR
        rc, tdo, got = self._cable._mpsse().JTAG_WriteTDI(
            MODE, bits, stream.to_bytes((bits + 7) // 8, "little"), True, 1)
        if rc:
            raise CableError("JTAG_WriteTDI", rc)
        if got != bits:
            raise TargetError(f"JTAG_WriteTDI captured {got} of {bits} bits")
        self._exit_to_idle()
        return int.from_bytes(tdo, "little") & _ones(bits)

    @atomic
    def reset(self) -> None:
        """Test-Logic-Reset, then Run-Test/Idle: every device selects IDCODE (or BYPASS)."""
        self._reset_to_idle()
        self._call("JTAG_Send2FTDI")

    @atomic
    def count(self) -> int:
        """The number of devices, counted through their one-bit BYPASS registers."""
        return len(self.idcodes())

    @atomic
    def idcodes(self) -> List[int]:
        """The IDCODE of every device, nearest TDI first; 0 for a device without one, as
        ``kestrel scan`` reads them."""
        events = self._run(SCAN)
        self._idcodes = [int(d["idcode"] or "0", 16) for d in events.fields["devices"]]
        return list(self._idcodes)

    @atomic
    def scan(self) -> ScanResult:
        """The chain as ``kestrel jtag idcode`` reports it: each device's IDCODE (None for a
        device without one) and instruction-register length, None for every device when the
        lengths cannot be told apart (set :attr:`ir_lengths` then)."""
        events = self._run(IDCODE, ir_lengths=self.ir_lengths or ())
        devices = events.fields["devices"]
        self._idcodes = [int(d["idcode"] or "0", 16) for d in devices]
        return ScanResult(tuple(Device(d["index"], d["idcode"] and int(d["idcode"], 16),
                                       d["ir_length"]) for d in devices))

    @atomic
    def play(self, data: bytes, kind: str = "svf", keep_going: bool = False,
             progress: Optional[ProgressCallback] = None) -> PlayResult:
        """Plays an SVF (text) or XSVF file's bytes on the chain as ``kestrel jtag svf|xsvf``
        does. A TDO mismatch raises TargetError (with ``keep_going``, after the whole file) whose
        ``result`` is the PlayResult. ``progress`` receives the "playing" phase's events; an
        exception it raises is raised when playback ends."""
        verbs = {"svf": SVF, "xsvf": XSVF}
        if kind not in verbs:
            raise ValueError(f"kind must be 'svf' or 'xsvf', not {kind!r}")
        try:
            events = self._run(verbs[kind], data=bytes_like(data, "data"),
                               keep_going=flag(keep_going, "keep_going"), progress=progress)
        except TargetError as e:
            e.result = _played(e.outcome)  # type: ignore[attr-defined]
            raise
        finally:
            self._idcodes = None  # the file left the chain's registers as it chose
        return _played(events)

    def _run(self, verb: int, **options: Any) -> Any:
        self._cable._mpsse()
        self._dr_lengths = []
        events = run_jtag(self._cable.lib, verb, divisor=self._cable.divisor, **options)
        if verb in (SCAN, IDCODE):  # the engine ends after Test-Logic-Reset: IDCODE or BYPASS
            self._dr_lengths = [IDCODE_BITS if d["idcode"] else 1
                                for d in events.fields["devices"]]
        return events

    def _ir_lengths(self) -> List[int]:
        if self.ir_lengths is None:
            lengths = [d.ir_length for d in self.scan().devices]
            if None in lengths:
                raise TargetError("cannot tell the instruction-register lengths apart from their "
                                  "capture patterns; set cable.jtag.ir_lengths (nearest TDI first)")
            self.ir_lengths = lengths  # type: ignore[assignment]
        return self.ir_lengths

    def _shift(self, ir: bool, device: int, lengths: List[int], value: int) -> int:
        if not lengths:
            raise ValueError("there is no device on the chain")
        device = integer(device, "device", 0, len(lengths) - 1)
        value = integer(value, f"a value for {lengths[device]} bits", 0, _ones(lengths[device]))
        stream, pos, at = 0, 0, 0
        for d in reversed(range(len(lengths))):  # the device nearest TDO is shifted first
            if d == device:
                stream |= value << pos
                at = pos
            elif ir:
                stream |= _ones(lengths[d]) << pos  # BYPASS
            pos += lengths[d]
        return self._capture(ir, pos, stream) >> at & _ones(lengths[device])

    @atomic
    def shift_ir(self, device: int, value: int) -> int:
        """Loads ``value`` into one device's instruction register, BYPASS into the others';
        returns what that register captured."""
        lengths = self._ir_lengths()
        captured = self._shift(True, device, lengths, value)
        self._dr_lengths = [None if d == device else 1 for d in range(len(lengths))]
        return captured

    @atomic
    def idle(self, clocks: int) -> None:
        """Stays in Run-Test/Idle for at least ``clocks`` TCK periods (whole bytes of them), as
        programming flows wait for an erase or a write to finish."""
        clocks = integer(clocks, "clocks", 1, 0x7FFFFFF0)  # JTAG_Clk takes an int
        self._call("JTAG_Clk", MODE, clocks)
        self._call("JTAG_Send2FTDI")

    @atomic
    def shift_dr(self, device: int, bits: int, value: int) -> int:
        """Shifts ``bits`` bits of ``value`` (bit 0 first) into one device's selected data
        register, zeros into the others'; returns the ``bits`` bits that register gave."""
        bits = integer(bits, "bits", 1, MAX_SHIFT_BITS)
        if self._idcodes is None:
            self.idcodes()
        lengths = [bits if d == device else n for d, n in enumerate(self._dr_lengths)]
        if None in lengths:
            raise TargetError("the data-register length of a device is unknown; shift_ir it")
        return self._shift(False, device, lengths, value)  # type: ignore[arg-type]

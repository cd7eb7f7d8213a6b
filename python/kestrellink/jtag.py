"""A JTAG chain on the cable's MPSSE channel, driven through the library's JTAG exports."""

from typing import TYPE_CHECKING, List, Optional

from ._checks import atomic, integer
from .errors import CableError, TargetError
from .results import Device, ScanResult

if TYPE_CHECKING:
    from .cable import Cable

# MPSSE option bits of every shift: data out on the falling edge, in on the rising edge, least
# significant bit first (a TAP samples TDI and TMS on the rising edge).
MODE = 0x09
IDCODE_BITS = 32
MAX_DEVICES = 64
MAX_TOTAL_IR_BITS = 1024
MAX_SHIFT_BITS = 1 << 20  # a data register shift; the capture buffer is an eighth of that


def _ones(bits: int) -> int:
    return (1 << bits) - 1


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
        """The number of devices: with every instruction register at BYPASS (all ones), zeros
        and then ones go through the one-bit bypass registers; the ones come out one clock per
        device later."""
        self._reset_to_idle()
        self._tms(4, 0x03)
        ones = bytes([0xFF]) * (MAX_TOTAL_IR_BITS // 8)
        self._call_tdi(MAX_TOTAL_IR_BITS, ones)
        self._tms(2, 0x01)
        out = self._capture(False, 2 * MAX_DEVICES, _ones(MAX_DEVICES) << MAX_DEVICES)
        if out & _ones(MAX_DEVICES):
            raise TargetError("TDO is high before any one was shifted in: no JTAG chain answers")
        if not out:
            raise TargetError(f"TDO stayed low: the chain is broken or longer than "
                              f"{MAX_DEVICES} devices")
        return (out & -out).bit_length() - 1 - MAX_DEVICES

    def _call_tdi(self, bits: int, data: bytes) -> None:
        rc, _, _ = self._cable._mpsse().JTAG_WriteTDI(MODE, bits, data, False, 1)
        if rc:
            raise CableError("JTAG_WriteTDI", rc)

    @atomic
    def idcodes(self) -> List[int]:
        """The IDCODE of every device, nearest TDI first; 0 for a device without one.

        Counts the chain, then reads the data registers Test-Logic-Reset selects in one queued
        capture (JTAG_ReadTDO2, JTAG_Send2FTDI, JTAG_RxFTDI), as ``kestrel scan`` does."""
        count = self.count()
        self._idcodes = []
        self._reset_to_idle()
        if count == 0:
            self._call("JTAG_Send2FTDI")
            return []
        bits = count * IDCODE_BITS
        self._tms(3, 0x01)
        self._call("JTAG_ReadTDO2", MODE, bits)
        self._call("JTAG_Send2FTDI")
        whole, tail = divmod(bits - 1, 8)  # the last bit of a capture is always a tail bit
        expected = whole + (1 if tail else 0) + 1
        rc, reply = self._cable._mpsse().JTAG_RxFTDI(expected)
        if rc:
            raise CableError("JTAG_RxFTDI", rc)
        if len(reply) != expected:
            raise TargetError(f"JTAG_RxFTDI delivered {len(reply)} bytes, expected {expected}")
        self._exit_to_idle()
        # W whole bytes, then the tail's bits but the last at the top of one byte, then the last
        # bit in bit 7 of the TMS read.
        stream = int.from_bytes(reply[:whole], "little")
        if tail:
            stream |= (reply[whole] >> (8 - tail)) << (8 * whole)
        stream |= (reply[-1] >> 7) << (bits - 1)
        pos = 0
        for _ in range(count):  # the device nearest TDO comes out first
            if stream >> pos & 1:
                self._idcodes.insert(0, stream >> pos & _ones(IDCODE_BITS))
                pos += IDCODE_BITS
            else:
                self._idcodes.insert(0, 0)
                pos += 1
        self._dr_lengths = [IDCODE_BITS if i else 1 for i in self._idcodes]
        return list(self._idcodes)

    @atomic
    def scan(self) -> ScanResult:
        """The chain as ``kestrel jtag idcode`` reports it: each device's IDCODE (None for a
        device without one) and instruction-register length, None for every device when the
        lengths cannot be told apart (set :attr:`ir_lengths` then)."""
        idcodes = self.idcodes()
        try:
            lengths: List[Optional[int]] = list(self._ir_lengths())
        except TargetError:
            lengths = [None] * len(idcodes)
        return ScanResult(tuple(Device(i, code or None, n)
                                for i, (code, n) in enumerate(zip(idcodes, lengths))))

    def _ir_lengths(self) -> List[int]:
        if self.ir_lengths is None:
            count = len(self._idcodes if self._idcodes is not None else self.idcodes())
            self.ir_lengths = self._detect_ir_lengths(count)
        return self.ir_lengths

    def _detect_ir_lengths(self, count: int) -> List[int]:
        # Zeros then ones through every instruction register: the captured patterns come out
        # first, and the ones appear after as many bits as the registers hold. The registers end
        # all ones (BYPASS), so nothing is driven.
        out = self._capture(True, 2 * MAX_TOTAL_IR_BITS, _ones(MAX_TOTAL_IR_BITS) << MAX_TOTAL_IR_BITS)
        high = out >> MAX_TOTAL_IR_BITS
        total = (high & -high).bit_length() - 1
        if not high or total == 0:
            raise TargetError("cannot measure the instruction registers: the chain is broken")
        starts = [p for p in range(total - 1) if (out >> p) & 3 == 1]
        if len(starts) != count or (count and starts[0] != 0):
            raise TargetError("cannot tell the instruction-register lengths apart from their "
                              "capture patterns; set cable.jtag.ir_lengths (nearest TDI first)")
        self._dr_lengths = [1] * count
        ends = starts[1:] + [total]
        return [end - start for start, end in zip(starts, ends)][::-1]

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

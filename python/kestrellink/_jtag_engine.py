"""The engine's JTAG jobs (kestrel_jtag_run): the chain's devices and SVF/XSVF playback, run
through the engine's loader and event handling (_engine), with the library's messages captured
as its exports' are."""

import ctypes
from typing import TYPE_CHECKING, Optional, Sequence

from . import _engine
from ._checks import integer
from .progress import ProgressCallback

if TYPE_CHECKING:
    from .library import Library

SCAN, IDCODE, SVF, XSVF = range(4)  # enum kestrel_jtag_verb

_PAUSE_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double)


class JtagJob(ctypes.Structure):
    """struct kestrel_jtag_job."""
    _fields_ = [("version", ctypes.c_uint32), ("verb", ctypes.c_int32),
                ("ir_lengths", ctypes.POINTER(ctypes.c_uint32)),
                ("ir_length_count", ctypes.c_uint32), ("data", ctypes.c_char_p),
                ("data_size", ctypes.c_uint64), ("name", ctypes.c_char_p),
                ("divisor", ctypes.c_uint32), ("keep_going", ctypes.c_int32),
                ("check_each", ctypes.c_int32), ("trst_wired", ctypes.c_int32),
                ("dry_run", ctypes.c_int32), ("pause", _PAUSE_FN),
                ("pause_context", ctypes.c_void_p)]


def engine_for(library: "Library") -> ctypes.CDLL:
    """The engine beside the library, with the JTAG functions' signatures set."""
    engine = _engine.engine_for(library.path)
    for function in (engine.kestrel_jtag_run, engine.kestrel_jtag_check):
        function.argtypes = [ctypes.POINTER(JtagJob), _engine.EventFn, ctypes.c_void_p]
        function.restype = ctypes.c_int
    return engine


def run_jtag(library: "Library", verb: int, *, ir_lengths: Sequence[int] = (), data: bytes = b"",
             divisor: int = 5, keep_going: bool = False,
             progress: Optional[ProgressCallback] = None) -> "_engine.Outcome":
    """Runs one JTAG job on the library's open cable; returns its outcome, or raises what its
    failure calls for (a TDO mismatch: TargetError with the outcome as ``outcome``)."""
    engine = engine_for(library)
    ir_lengths = [integer(n, "an instruction length", 0, 0xFFFFFFFF) for n in ir_lengths]
    lengths = (ctypes.c_uint32 * max(1, len(ir_lengths)))(*ir_lengths)  # the engine bounds them
    job = JtagJob(version=_engine.VERSION, verb=verb, ir_lengths=lengths,
                  ir_length_count=len(ir_lengths), data=bytes(data), data_size=len(data),
                  divisor=divisor, keep_going=int(keep_going))

    return _engine.run(engine.kestrel_jtag_run, ctypes.byref(job), progress=progress,
                       library=library)

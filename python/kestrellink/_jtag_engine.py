"""The engine's JTAG jobs (libkestrelengine, beside the KestrelLink library): the chain's devices
and SVF/XSVF playback, with the job's events turned into fields, progress and exceptions as
``kestrel --json`` reports the same job."""

import ctypes
import json
import os
import threading
import warnings
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence

from . import _messages, _native
from ._checks import callback
from ._exit_codes import EXIT_FAILED, EXIT_OK, EXIT_USAGE
from .errors import (CableError, CableMessage, KestrelLinkError, LibraryNotFoundError,
                     TargetError)
from .progress import Phase, ProgressCallback, Reporter

if TYPE_CHECKING:
    from .library import Library

ENGINE_VERSION = 1
ENGINE_NAME = "KestrelEngine.dll" if _native.WINDOWS else "libkestrelengine.so.1"
EVENT_PROGRESS, EVENT_FIELD, EVENT_WARNING, EVENT_ERROR, EVENT_LIBRARY_CALL, EVENT_LINE = range(
    1, 7)
SCAN, IDCODE, SVF, XSVF = range(4)

_EVENT_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p)
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


_engines: Dict[str, ctypes.CDLL] = {}
_engines_lock = threading.Lock()


def engine_for(library: "Library") -> ctypes.CDLL:
    """The engine in the loaded library's folder, loaded once per process."""
    path = os.path.join(os.path.dirname(library.path), ENGINE_NAME)
    with _engines_lock:
        if path not in _engines:
            try:
                engine = ctypes.CDLL(path)
            except OSError as e:
                raise LibraryNotFoundError(f"cannot load the engine {path}: {e}") from e
            function = engine.kestrel_jtag_run
            function.argtypes = [ctypes.POINTER(JtagJob), _EVENT_FN, ctypes.c_void_p]
            function.restype = ctypes.c_int
            _engines[path] = engine
        return _engines[path]


class _Events:
    """One job's events: its fields, warnings, lines, the failed export and why it failed."""

    def __init__(self, progress: Optional[ProgressCallback]) -> None:
        self.fields: Dict[str, Any] = {}
        self.warnings: List[str] = []
        self.lines: List[str] = []
        self.errors: List[str] = []
        self.call: Optional[Dict[str, Any]] = None
        self.raised: Optional[BaseException] = None
        self._reporter = Reporter(progress) if progress is not None else None
        self._phase: Optional[Phase] = None

    def __call__(self, _context: Any, kind: int, text: bytes) -> int:
        try:
            value = json.loads(text.decode())
            if kind == EVENT_FIELD:
                self.fields[value["name"]] = value["value"]
            elif kind == EVENT_PROGRESS:
                self._progress(value)
            elif kind == EVENT_LIBRARY_CALL:
                self.call = value
            else:
                {EVENT_WARNING: self.warnings, EVENT_ERROR: self.errors,
                 EVENT_LINE: self.lines}.get(kind, []).append(value)
        except BaseException as e:  # raised again when the job returns
            self.raised = self.raised or e
            return 1
        return 0

    def _progress(self, value: Dict[str, Any]) -> None:
        if self._reporter is None:
            return
        if self._phase is None or self._phase.name != value["phase"]:
            self._phase = self._reporter.phase(value["phase"], value["total"], value["unit"])
        self._phase.update(value["done"])

    def check(self, code: int) -> None:
        """Raises what the job's exit code and events say went wrong."""
        if self.raised is not None:
            raise self.raised
        if code == EXIT_OK:
            return
        reason = "; ".join(self.errors) or f"the JTAG job ended with exit code {code}"
        if self.call is not None:
            export, rc = self.call["export"], self.call["code"]
            plain = reason.endswith(f"{export} returned {rc}")  # says no more than the code
            raise CableError(export, rc, "" if plain else reason)
        if code == EXIT_FAILED:
            raise TargetError(reason)
        if code == EXIT_USAGE:
            raise ValueError(reason)
        raise KestrelLinkError(reason)


def run_jtag(library: "Library", verb: int, *, ir_lengths: Sequence[int] = (), data: bytes = b"",
             divisor: int = 5, keep_going: bool = False,
             progress: Optional[ProgressCallback] = None) -> _Events:
    """Runs one JTAG job on the library's open cable; returns its events, or raises what its
    failure calls for (a TDO mismatch: TargetError with the events as ``events``)."""
    engine = engine_for(library)
    lengths = (ctypes.c_uint32 * max(1, len(ir_lengths)))(*ir_lengths)
    job = JtagJob(version=ENGINE_VERSION, verb=verb, ir_lengths=lengths,
                  ir_length_count=len(ir_lengths), data=bytes(data), data_size=len(data),
                  divisor=divisor, keep_going=int(keep_going))
    events = _Events(progress)
    # The library's messages during the job, captured and delivered as its exports' are.
    code, messages = _messages.call(engine.kestrel_jtag_run,
                                    [ctypes.byref(job), _EVENT_FN(events), None])
    for text in messages:
        with callback():
            if library.on_message is not None:
                library.on_message(text)
            else:
                warnings.warn(CableMessage(text), stacklevel=4)
    try:
        events.check(code)
    except TargetError as e:
        e.events = events  # type: ignore[attr-defined]
        raise
    return events

"""The engine kestrel runs its flash and JTAG jobs in (libkestrelengine, KestrelEngine.dll), loaded
beside the KestrelLink library whose exports it calls, and its events turned into Python: the
fields of ``kestrel --json`` as a dict, progress as :class:`ProgressEvent` through a Reporter, the
job's notes as :class:`JobNote` warnings, and a failure as the exception its exit code calls for.
"""

import contextlib
import ctypes
import functools
import json
import os
import re
import signal
import threading
import warnings
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, Optional, Tuple

from . import _exit_codes as exits
from . import _messages, _native
from ._checks import callback as calling_back
from .errors import (CableError, CableMessage, KestrelLinkError, TargetError, UnavailableError,
                     VerifyError)
from .progress import Phase, ProgressCallback, Reporter

if TYPE_CHECKING:
    from .library import Library

ENGINE_NAMES = ("KestrelEngine.dll",) if _native.WINDOWS else (
    "libkestrelengine.so.1", "libkestrelengine.so")
VERSION = 1  # KESTREL_ENGINE_VERSION: the job structures below are of this version

PROGRESS, FIELD, WARNING, ERROR, LIBRARY_CALL, LINE = range(1, 7)
SPI_ID, SPI_READ, SPI_WRITE, SPI_ERASE, SPI_VERIFY = range(5)

EventFn = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p)
DataFn = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint8),
                          ctypes.c_uint64)
# kestrel's words for a verify's first difference (the flash writer's message).
_DIFFERENCE = re.compile(r"verify failed at 0x([0-9A-F]+): expected ([0-9A-F]{2}), "
                         r"read ([0-9A-F]{2})")


class JobNote(UserWarning):
    """Something a flash or JTAG job tells the user and goes on, as kestrel's "note:" lines."""


class SpiJob(ctypes.Structure):
    """struct kestrel_spi_job."""
    _fields_ = [("version", ctypes.c_uint32), ("verb", ctypes.c_int32),
                ("address", ctypes.c_uint64), ("size", ctypes.c_uint64),
                ("flash_size", ctypes.c_uint64), ("clock_hz", ctypes.c_double),
                ("divisor", ctypes.c_uint32), ("divisor_given", ctypes.c_int32),
                ("data", ctypes.c_char_p), ("data_size", ctypes.c_uint64),
                ("receive", DataFn), ("receive_context", ctypes.c_void_p),
                ("name", ctypes.c_char_p), ("no_erase", ctypes.c_int32),
                ("no_verify", ctypes.c_int32), ("chip", ctypes.c_int32),
                ("unprotect", ctypes.c_int32), ("handle_signals", ctypes.c_int32),
                ("keep_clock", ctypes.c_int32)]


_SIGNATURES = {
    "kestrel_spi_run": [ctypes.POINTER(SpiJob), EventFn, ctypes.c_void_p],
    "kestrel_spi_check": [ctypes.POINTER(SpiJob), EventFn, ctypes.c_void_p],
    "kestrel_spi_transfer": [ctypes.c_char_p, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32,
                             EventFn, ctypes.c_void_p],
    "kestrel_parse_clock": [ctypes.c_char_p, ctypes.POINTER(ctypes.c_double), EventFn,
                            ctypes.c_void_p],
}
_RESULTS = {"kestrel_clock_divisor": ([ctypes.c_double], ctypes.c_uint32)}
_loaded: Dict[str, ctypes.CDLL] = {}


def engine_for(library_path: str) -> ctypes.CDLL:
    """The engine beside the KestrelLink library loaded from ``library_path`` (the same folder,
    then the package's _native folder, then the system loader's search)."""
    if library_path in _loaded:
        return _loaded[library_path]
    folder = os.path.dirname(library_path)
    candidates = [os.path.join(folder, name) for name in ENGINE_NAMES if folder]
    candidates += [str(_native.PACKAGE_NATIVE / name) for name in ENGINE_NAMES
                   if (_native.PACKAGE_NATIVE / name).exists()]
    module, _ = _native.open_first(candidates + list(ENGINE_NAMES), "the KestrelLink engine",
                                   required="kestrel_spi_run",
                                   origin=f"beside {library_path}")
    for name, argtypes in _SIGNATURES.items():
        function = getattr(module, name)
        function.argtypes, function.restype = argtypes, ctypes.c_int
    for name, (argtypes, restype) in _RESULTS.items():
        function = getattr(module, name)
        function.argtypes, function.restype = argtypes, restype
    _loaded[library_path] = module
    return module


class Outcome:
    """What one job told its caller: fields, lines, notes, errors and the failed export."""

    def __init__(self, progress: Optional[ProgressCallback]) -> None:
        self.fields: Dict[str, Any] = {}
        self.lines: List[str] = []
        self.errors: List[str] = []
        self.notes: List[str] = []
        self.library_call: Optional[Dict[str, Any]] = None
        self.raised: Optional[BaseException] = None  # by a callback: the job stopped for it
        # Signals that came during the job, held back until it has stopped at a safe point.
        self.deferred: List[Tuple[Callable[..., Any], int, Any]] = []
        self._reporter = Reporter(progress)
        self._phase: Optional[Phase] = None
        self.callback = EventFn(self._event)  # kept alive as long as the outcome

    def _event(self, _context: Any, kind: int, text: bytes) -> int:
        try:
            self._take(kind, json.loads(text.decode("utf-8", "surrogateescape")))
        except BaseException as error:  # noqa: B036 - a ^C in a callback stops the job too
            if self.raised is None:
                self.raised = error
        return 1 if self.raised is not None or self.deferred else 0

    def defer(self, handler: Callable[..., Any], number: int, frame: Any) -> None:
        """A signal's Python handler, called once the job has stopped."""
        self.deferred.append((handler, number, frame))

    def _take(self, kind: int, value: Any) -> None:
        if kind == PROGRESS:
            if self._phase is None or self._phase.name != value["phase"]:
                self._phase = self._reporter.phase(value["phase"], value["total"], value["unit"])
            self._phase.update(value["done"])
        elif kind == FIELD:
            self.fields[value["name"]] = value["value"]
        elif kind == WARNING:
            self.notes.append(value)
        elif kind == ERROR:
            self.errors.append(value)
        elif kind == LIBRARY_CALL and self.library_call is None:
            self.library_call = value  # the export that failed the job, not a later one
        elif kind == LINE:
            self.lines.append(value)

    def check(self, code: int) -> "Outcome":
        """Gives the job's notes as warnings, then raises what its exit code calls for; returns
        the outcome when it is 0."""
        for note in self.notes:
            warnings.warn(note, JobNote, stacklevel=4)
        for handler, number, frame in self.deferred:
            handler(number, frame)  # KeyboardInterrupt, as the signal would have raised
        if self.raised is not None:
            raise self.raised
        if code == exits.EXIT_OK:
            return self
        text = "; ".join(self.errors) or f"the job ended with exit code {code}"
        if code == exits.EXIT_USAGE:
            raise ValueError(text)
        if code == exits.EXIT_LIBRARY_CALL and self.library_call:
            raise CableError(self.library_call["export"], self.library_call["code"], text)
        if code == exits.EXIT_INTERRUPTED:
            raise KeyboardInterrupt(text)
        difference = _DIFFERENCE.search(text)
        if code == exits.EXIT_FAILED and difference:
            address, expected, actual = (int(group, 16) for group in difference.groups())
            error = VerifyError(address, expected, actual, text[difference.end():].lstrip("; "))
            error.args = (text,)  # in kestrel's words
            raise error
        if code == exits.EXIT_UNAVAILABLE:
            raise UnavailableError(text)
        if code == exits.EXIT_FAILED:
            raise TargetError(text)
        raise KestrelLinkError(text)


@contextlib.contextmanager
def _signals_deferred(outcome: Outcome) -> Iterator[None]:
    """While a job runs in the main thread, SIGINT and SIGTERM handlers written in Python only
    note the signal: the job hears it at its next event and stops at a safe point, and the
    handler runs once it has. (A handler that raised inside the job's callback could lose its
    exception there, and the job would go on.)"""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    replaced = {}
    for name in ("SIGINT", "SIGTERM"):
        number = getattr(signal, name, None)
        handler = signal.getsignal(number) if number is not None else None
        if callable(handler):
            replaced[number] = handler
            signal.signal(number, functools.partial(outcome.defer, handler))
    try:
        yield
    finally:
        for number, handler in replaced.items():
            signal.signal(number, handler)


def run(function: Callable[..., int], *args: Any, progress: Optional[ProgressCallback] = None,
        library: Optional["Library"] = None) -> Outcome:
    """Calls one of the engine's functions with its arguments and the event callback. The
    library's messages during the job are captured and delivered as its exports' are (to
    ``library.on_message``, else as CableMessage warnings), so none waits on a terminal."""
    outcome = Outcome(progress)
    with _signals_deferred(outcome):
        code, messages = _messages.call(function, [*args, outcome.callback, None])
    for text in messages:
        with calling_back():
            if library is not None and library.on_message is not None:
                library.on_message(text)
            else:
                warnings.warn(CableMessage(text), stacklevel=3)
    try:
        return outcome.check(code)
    except TargetError as error:  # a TDO mismatch's fields (what was played) go with it
        error.outcome = outcome  # type: ignore[attr-defined]
        raise


def parse_clock(engine: ctypes.CDLL, text: str) -> float:
    """A clock in kestrel's text form ("1.5M", "500kHz"), in hertz; ValueError otherwise."""
    hz = ctypes.c_double()
    try:
        encoded = text.encode("utf-8")
    except UnicodeEncodeError:
        raise ValueError(f"clock {text!r} is not a rate kestrel takes") from None
    if "\0" in text:
        raise ValueError("clock must not hold a NUL character")
    run(engine.kestrel_parse_clock, encoded, ctypes.byref(hz))
    return hz.value

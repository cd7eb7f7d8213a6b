"""One job on several cables at once, for benches that program many cables or boards.

The library holds one connection per process, so each cable gets a process of its own (started
with "spawn": a fresh interpreter that imports the job by name), which opens its cable by serial
and runs the job. One cable failing, being unplugged, or its result not coming back does not stop
the others. A stop (the time-out, ^C, SIGTERM) asks every process to stop as ^C would, waits for
each, and kills only one that does not end."""

import _thread
import contextlib
import dataclasses
import multiprocessing
import os
import pickle
import signal
import threading
import time
from multiprocessing import connection
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple, Union

from . import _native, progress
from .cable import Cable
from ._exit_codes import EXIT_INTERRUPTED, EXIT_OK
from .errors import EXIT_CLASSES, CableError, exit_code
from .library import Library
from .virtual import Scenario, VirtualCable

# Seconds a cable's process gets to end once asked to stop; one still running then is killed.
# A process stops at its next safe point, which on a loaded machine can take seconds.
STOP_GRACE = 30.0


@dataclasses.dataclass(frozen=True)
class CableOutcome:
    """How the job went on one cable: ``value`` is what it returned, or its repr() when it could
    not be passed back, ``value_error`` then saying why; on failure ``error`` is the exception's
    type and message, ``library_call`` the export and its result code, when a library call
    failed, and ``stage`` the phase of a flash operation it stopped in ("erasing", "writing",
    ...), if in one."""
    serial: str
    exit_code: int
    value: Any = None
    error: Optional[str] = None
    library_call: Optional[Tuple[str, int]] = None
    stage: Optional[str] = None
    value_error: Optional[str] = None

    @property
    def ok(self) -> bool:
        return self.exit_code == EXIT_OK

    @property
    def result(self) -> str:
        return EXIT_CLASSES[self.exit_code]

    def to_dict(self) -> Dict[str, Any]:
        call = self.library_call
        return {"serial": self.serial, "exit_code": self.exit_code, "result": self.result,
                "error": self.error,
                "library_call": {"export": call[0], "code": call[1]} if call else None,
                "stage": self.stage, "value_error": self.value_error,
                "value": self.value.to_dict() if hasattr(self.value, "to_dict") else self.value}


@dataclasses.dataclass(frozen=True)
class BenchResult:
    """Every cable's outcome, in the order the serials were given."""
    cables: Tuple[CableOutcome, ...]

    @property
    def ok(self) -> bool:
        return all(c.ok for c in self.cables)

    @property
    def failed(self) -> Tuple[CableOutcome, ...]:
        return tuple(c for c in self.cables if not c.ok)

    @property
    def exit_code(self) -> int:
        """0 when every cable succeeded, else the largest exit code among them (as kestrel)."""
        return max((c.exit_code for c in self.cables), default=EXIT_OK)

    def __getitem__(self, serial: str) -> CableOutcome:
        return next(c for c in self.cables if c.serial == serial)

    def to_dict(self) -> Dict[str, Any]:
        return {"exit_code": self.exit_code, "result": EXIT_CLASSES[self.exit_code],
                "cables": [c.to_dict() for c in self.cables]}


class BenchInterrupted(KeyboardInterrupt):
    """run_cables was stopped by ^C, SIGTERM or SIGHUP: every cable's process was asked to stop
    and waited for. ``bench`` holds every cable's outcome: those that finished first, those
    stopped part way (exit code 130), and those never started."""

    def __init__(self, bench: "BenchResult", why: str) -> None:
        super().__init__(why)
        self.bench = bench


@dataclasses.dataclass(frozen=True)
class _Options:
    description: str
    divisor: int
    library: Optional[str]
    virtual: Union[bool, Scenario]
    virtual_path: Optional[str]


def _described(error: BaseException) -> str:
    try:
        text = str(error)
    except Exception:  # its message cannot be made: the type alone
        text = "(no message)"
    return f"{type(error).__name__}: {text}"


def _failure(serial: str, error: BaseException) -> CableOutcome:
    call = (error.export, error.code) if isinstance(error, CableError) else None
    return CableOutcome(serial, exit_code(error), None, _described(error), call,
                        progress.current_phase())


def _attempt(serial: str, job: Callable[[Cable], Any], options: _Options) -> CableOutcome:
    """Opens the cable (on the virtual cable when asked) and runs the job; in the child."""
    try:
        with contextlib.ExitStack() as stack:
            virtual = None
            if options.virtual is not False:
                scenario = None if options.virtual is True else options.virtual
                virtual = stack.enter_context(VirtualCable(scenario, path=options.virtual_path))
            with Cable.open(options.description, serial, options.divisor,
                            library=options.library) as cable:
                value = job(cable)
            errors = virtual.model_errors() if virtual else []
        if errors:
            return CableOutcome(serial, 4, value, "model error: " + "; ".join(errors))
        return CableOutcome(serial, 0, value)
    except BaseException as error:  # every failure is this cable's outcome
        return _failure(serial, error)


class _StopWatch:
    """In a cable's process: a stop from the calling process, or that process's end, interrupts
    the job as ^C would; once the job has ended, nothing interrupts what follows."""

    def __init__(self, stop: Any) -> None:
        self._lock = threading.Lock()
        self._armed = True
        # Started ignoring SIGINT (a background job), the process would not hear the stop.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        threading.Thread(target=self._watch, args=(stop,), daemon=True).start()

    def _watch(self, stop: Any) -> None:
        with contextlib.suppress(EOFError, OSError):  # EOF: the calling process is gone
            stop.recv()
        with self._lock:
            if self._armed:
                _thread.interrupt_main()

    def disarm(self) -> None:
        while True:
            try:
                with self._lock:
                    self._armed = False
                    # An interrupt already on its way finds SIGINT ignored and is dropped.
                    signal.signal(signal.SIGINT, signal.SIG_IGN)
                return
            except KeyboardInterrupt:  # it came as the job ended: the outcome stands
                continue


def _value_bytes(value: Any) -> Tuple[bytes, Optional[str]]:
    """The value pickled, checked to load back here (where the job's modules are), or else its
    repr() with the reason."""
    try:
        data = pickle.dumps(value)
        pickle.loads(data)
        return data, None
    except Exception as error:
        why = "it could not be passed back: " + _described(error)
    try:
        text = repr(value)
    except Exception:
        text = f"<{type(value).__name__} object>"
    return pickle.dumps(text), why


def _child(sender: Any, stop: Any, serial: str, job: Callable[[Cable], Any],
           options: _Options) -> None:
    watch = _StopWatch(stop)
    outcome = _attempt(serial, job, options)
    watch.disarm()
    value, why = _value_bytes(outcome.value)
    try:
        sender.send((dataclasses.replace(outcome, value=None, value_error=why), value))
    except Exception as error:  # a field the job's exception carried does not pickle
        sender.send((CableOutcome(serial, outcome.exit_code, error=outcome.error or "",
                                  value_error="the outcome could not be passed back: "
                                              + _described(error)), pickle.dumps(None)))
    sender.close()


@dataclasses.dataclass
class _Run:
    serial: str
    process: Any
    receiver: Any  # the outcome comes on it
    stopper: Any  # a word on it, or its closing, asks the process to stop
    outcome: Optional[CableOutcome] = None
    stopped: bool = False  # still running when it was asked to stop


def _end(run: _Run) -> None:
    """Waits for the process after it reported or closed its end; kills it if it lingers."""
    run.process.join(STOP_GRACE)
    if run.process.is_alive():
        run.process.kill()
        run.process.join()


def _receive(run: _Run) -> CableOutcome:
    try:
        fields, value = run.receiver.recv()
    except (EOFError, OSError):
        _end(run)
        return CableOutcome(run.serial, 2, error="the process ended (exit code "
                                                 f"{run.process.exitcode}) before it reported")
    except Exception as error:
        _end(run)
        return CableOutcome(run.serial, 2, error="its outcome could not be read back: "
                                                 + _described(error))
    _end(run)
    try:
        return dataclasses.replace(fields, value=pickle.loads(value))  # type: ignore[no-any-return]
    except Exception as error:
        return dataclasses.replace(fields, value=None, value_error="it could not be passed back: "
                                   + _described(error))


def _gather(runs: List[_Run], deadline: Optional[float]) -> bool:
    """Takes each outcome as it comes, until all are in (True) or the deadline passes (False)."""
    while True:
        pending = {run.receiver: run for run in runs if run.outcome is None}
        if not pending:
            return True
        left = None if deadline is None else deadline - time.monotonic()
        if left is not None and left <= 0:
            return False
        for receiver in connection.wait(list(pending), left):
            run = pending[receiver]  # type: ignore[index]
            run.outcome = _receive(run)


def _stop(runs: List[_Run], why: str) -> None:
    """Asks every process still running to stop, as ^C would, and waits for their outcomes; one
    that does not end within STOP_GRACE is killed."""
    for run in runs:
        if run.outcome is None:
            run.stopped = True
            with contextlib.suppress(OSError):
                run.stopper.send("stop")
    _gather(runs, time.monotonic() + STOP_GRACE)
    for run in runs:
        if run.outcome is None:
            run.process.kill()
            run.process.join()
            run.outcome = CableOutcome(
                run.serial, EXIT_INTERRUPTED, error=f"{why}; it did not stop within {STOP_GRACE} s "
                                                    "and was killed: what it did is unknown")
        elif run.stopped and run.outcome.exit_code == EXIT_INTERRUPTED:
            where = f" while {run.outcome.stage}" if run.outcome.stage else ""
            run.outcome = dataclasses.replace(run.outcome, error=f"{why}; stopped{where}")


def _result(serials: List[str], runs: List[_Run]) -> BenchResult:
    started = {run.serial: run.outcome for run in runs}
    return BenchResult(tuple(
        started.get(serial) or CableOutcome(serial, EXIT_INTERRUPTED,
                                            error="not started: the run was stopped first; "
                                                  "nothing was done")
        for serial in serials))


@contextlib.contextmanager
def _stop_signals() -> Iterator[None]:
    """SIGTERM and SIGHUP, where they would end this process at once and leave the cables'
    processes behind, raise KeyboardInterrupt as ^C does while the run lasts."""
    def interrupt(number: int, frame: Any) -> None:
        raise KeyboardInterrupt(signal.Signals(number).name)

    replaced = {}
    if threading.current_thread() is threading.main_thread():
        for name in ("SIGTERM", "SIGHUP"):
            number = getattr(signal, name, None)
            if number is not None and signal.getsignal(number) == signal.SIG_DFL:
                replaced[number] = signal.signal(number, interrupt)
    try:
        yield
    finally:
        for number, handler in replaced.items():
            signal.signal(number, handler)


def _check_serials(serials: Sequence[str]) -> List[str]:
    if isinstance(serials, (str, bytes)):  # one serial would run as one cable per character
        raise TypeError("serials must be a sequence of serial numbers, not one string")
    serials = list(serials)
    if not serials or not all(isinstance(s, str) and s for s in serials):
        raise ValueError("serials must be one or more non-empty str")
    for a in serials:
        # A cable opens by a part of its serial: two such serials could reach one cable.
        if sum(a in b for b in serials) > 1:
            raise ValueError(f"serial {a!r} is named twice or is part of another")
    return serials


def _virtual_path(virtual: Union[bool, Scenario]) -> Optional[str]:
    """The virtual cable this process loaded, for children to load the same one."""
    loaded = _native.already_loaded(_native.VENDOR_NAME) if virtual is not False else None
    return _native.loaded_path(loaded) if loaded is not None and hasattr(loaded, "vc_reset") \
        else None


def _start(context: Any, serial: str, job: Callable[[Cable], Any], options: _Options) -> _Run:
    receiver, sender = context.Pipe(duplex=False)
    stop, stopper = context.Pipe(duplex=False)
    process = context.Process(target=_child, args=(sender, stop, serial, job, options),
                              name=f"kestrellink-{serial}")
    process.start()
    sender.close()
    stop.close()
    return _Run(serial, process, receiver, stopper)


def run_cables(serials: Sequence[str], job: Callable[[Cable], Any], *,
               description: str = "ZV7300LNK", divisor: int = 5,
               library: Union[Library, "_native.StrPath", None] = None,
               virtual: Union[bool, Scenario] = False,
               timeout: Optional[float] = None) -> BenchResult:
    """Runs ``job(cable)`` on each cable in ``serials`` at once, each in a process of its own
    that opens its cable with ``Cable.open(description, serial, divisor, library=library)``.

    ``job`` must be picklable (a function defined at the top of a module, or a
    functools.partial of one), and its return value should be. ``virtual``: each process
    loads the virtual cable first, with the scenario given (True: the embedded default; the
    scenario must hold every cable, each process finds its own by serial). ``timeout``: seconds
    for the whole run, after which the processes left are asked to stop (exit code 130).
    ^C, SIGTERM or SIGHUP stops every cable's process the same way, waits for them and raises
    :class:`BenchInterrupted` with every outcome.
    A script that calls this needs the ``if __name__ == "__main__":`` guard, since each process
    imports the main module."""
    serials = _check_serials(serials)
    if timeout is not None and not timeout > 0:  # also refuses NaN
        raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")
    pickle.dumps(job)  # fails here, before any process starts, for a lambda or a local function
    library_path = library.path if isinstance(library, Library) else library
    options = _Options(description, divisor,
                       None if library_path is None else os.fspath(library_path),
                       virtual, _virtual_path(virtual))
    context = multiprocessing.get_context("spawn")
    runs: List[_Run] = []
    try:
        with _stop_signals():
            try:
                for serial in serials:
                    runs.append(_start(context, serial, job, options))
                deadline = None if timeout is None else time.monotonic() + timeout
                if not _gather(runs, deadline):
                    _stop(runs, f"TimeoutError: no result within {timeout} s")
            except BaseException as error:  # ^C, a signal, or this process failing
                why = _described(error).rstrip(": ")
                _stop(runs, why)
                if isinstance(error, KeyboardInterrupt):
                    raise BenchInterrupted(_result(serials, runs), why) from error
                raise
        return _result(serials, runs)
    finally:
        for run in runs:  # left only by an error of this process, or a second ^C
            if run.process.is_alive():
                run.process.kill()
                run.process.join()
            run.receiver.close()
            run.stopper.close()

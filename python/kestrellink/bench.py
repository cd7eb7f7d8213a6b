"""One job on several cables at once, for benches that program many cables or boards.

The library holds one connection per process, so each cable gets a process of its own (started
with "spawn": a fresh interpreter that imports the job by name), which opens its cable by serial
and runs the job. One cable failing, or being unplugged, does not stop the others."""

import contextlib
import dataclasses
import multiprocessing
import os
import pickle
import time
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

from . import _native, progress
from .cable import Cable
from .errors import EXIT_CLASSES, CableError, exit_code
from .library import Library
from .virtual import Scenario, VirtualCable


@dataclasses.dataclass(frozen=True)
class CableOutcome:
    """How the job went on one cable: ``value`` is what it returned (its repr() when that could
    not be pickled); on failure ``error`` is the exception's type and message,
    ``library_call`` the export and its result code, when a library call failed, and ``stage``
    the phase of a flash operation it stopped in ("erasing", "writing", ...), if in one."""
    serial: str
    exit_code: int
    value: Any = None
    error: Optional[str] = None
    library_call: Optional[Tuple[str, int]] = None
    stage: Optional[str] = None

    @property
    def ok(self) -> bool:
        return self.exit_code == 0

    @property
    def result(self) -> str:
        return EXIT_CLASSES[self.exit_code]

    def to_dict(self) -> Dict[str, Any]:
        call = self.library_call
        return {"serial": self.serial, "exit_code": self.exit_code, "result": self.result,
                "error": self.error,
                "library_call": {"export": call[0], "code": call[1]} if call else None,
                "stage": self.stage,
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
        return max((c.exit_code for c in self.cables), default=0)

    def __getitem__(self, serial: str) -> CableOutcome:
        return next(c for c in self.cables if c.serial == serial)

    def to_dict(self) -> Dict[str, Any]:
        return {"exit_code": self.exit_code, "result": EXIT_CLASSES[self.exit_code],
                "cables": [c.to_dict() for c in self.cables]}


@dataclasses.dataclass(frozen=True)
class _Options:
    description: str
    divisor: int
    library: Optional[str]
    virtual: Union[bool, Scenario]
    virtual_path: Optional[str]


def _failure(serial: str, error: BaseException) -> CableOutcome:
    call = (error.export, error.code) if isinstance(error, CableError) else None
    return CableOutcome(serial, exit_code(error), None, f"{type(error).__name__}: {error}", call,
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


def _child(sender: Any, serial: str, job: Callable[[Cable], Any], options: _Options) -> None:
    outcome = _attempt(serial, job, options)
    try:
        sender.send(outcome)
    except Exception:  # the value does not pickle: send what it looks like
        sender.send(dataclasses.replace(outcome, value=repr(outcome.value)))
    sender.close()


def _collect(serial: str, process: Any, receiver: Any, deadline: Optional[float],
             timeout: Optional[float]) -> CableOutcome:
    left = None if deadline is None else max(0.0, deadline - time.monotonic())
    try:
        if receiver.poll(left):
            outcome = receiver.recv()
            process.join()
            return outcome  # type: ignore[no-any-return]
        process.terminate()
        process.join()
        return CableOutcome(serial, 130, error=f"TimeoutError: no result within {timeout} s")
    except EOFError:
        process.join()
        return CableOutcome(serial, 2, error="the process ended (exit code "
                                             f"{process.exitcode}) before it reported")


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
    for the whole run, after which the processes left are stopped (exit code 130).
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
    runs = []
    try:
        for serial in serials:
            receiver, sender = context.Pipe(duplex=False)
            process = context.Process(target=_child, args=(sender, serial, job, options),
                                      name=f"kestrellink-{serial}")
            process.start()
            sender.close()
            runs.append((serial, process, receiver))
        deadline = None if timeout is None else time.monotonic() + timeout
        return BenchResult(tuple(_collect(serial, process, receiver, deadline, timeout)
                                 for serial, process, receiver in runs))
    finally:
        for _, process, receiver in runs:
            if process.is_alive():
                process.terminate()
                process.join()
            receiver.close()

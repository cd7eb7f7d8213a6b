"""Progress of long operations, as events with the fields of ``kestrel --progress json``.

An operation that takes ``progress=callback`` calls it with a :class:`ProgressEvent` per step of
each phase (``reading``, ``erasing``, ``writing``, ``verifying``): ``done`` never goes back
within a phase, events come at most ten a second, and every phase that runs to its end ends
with one event at ``done == total``, which is never held back. The callback runs in the
operation's thread with the cable's lock held, often with the flash selected halfway through a
transfer, so a call it makes into a cable raises ReentryError; an exception it raises (that one
included) stops the operation."""

import dataclasses
import time
from typing import Any, Callable, Dict, Optional

from ._checks import callback as calling_back

SPACING_S = 0.1  # at most ten events a second
RATE_AFTER_S = 0.01  # the first moments of a phase give no rate


@dataclasses.dataclass(frozen=True)
class ProgressEvent:
    """One step of a phase; ``rate`` (units a second since the phase began) and ``eta`` (seconds
    left at that rate) are None in the phase's first 10 ms."""
    phase: str
    done: int
    total: int
    unit: str
    rate: Optional[float]
    eta: Optional[float]

    def to_dict(self) -> Dict[str, Any]:
        return dataclasses.asdict(self)


ProgressCallback = Callable[[ProgressEvent], Any]
# The phase under way in this process, for a failure to name the stage it stopped in; run_cables
# reads it in a cable's own process, where one job runs.
_current: Optional[str] = None


def current_phase() -> Optional[str]:
    """The phase that started last and has not reached its end, or None."""
    return _current


class Reporter:
    """The events of one operation: its phases share the spacing between events."""

    def __init__(self, callback: Optional[ProgressCallback],
                 clock: Callable[[], float] = time.monotonic) -> None:
        if callback is not None and not callable(callback):
            raise TypeError(f"progress must be callable, not {type(callback).__name__}")
        self.callback = callback
        self.clock = clock
        self.last: Optional[float] = None  # when the last event went out

    def phase(self, name: str, total: int, unit: str = "bytes") -> "Phase":
        """Starts a phase and reports it at done 0."""
        phase = Phase(self, name, total, unit)
        phase.update(0)
        return phase


class Phase:
    """One phase of an operation: :meth:`update` with the units done so far."""

    def __init__(self, reporter: Reporter, name: str, total: int, unit: str) -> None:
        global _current
        _current = name
        self._reporter = reporter
        self.name, self.total, self.unit = name, total, unit
        self.done = 0
        self._started = reporter.clock()
        self._finished = False

    def update(self, done: int) -> None:
        reporter = self._reporter
        global _current
        self.done = min(max(done, self.done), self.total)
        final = self.done == self.total
        if final and _current == self.name:
            _current = None
        if reporter.callback is None or self._finished:
            return
        now = reporter.clock()
        if not final and reporter.last is not None and now - reporter.last < SPACING_S:
            return
        reporter.last, self._finished = now, final
        seconds = now - self._started
        rate = self.done / seconds if seconds >= RATE_AFTER_S else 0.0
        event = ProgressEvent(
            self.name, self.done, self.total, self.unit, round(rate, 1) if rate else None,
            round((self.total - self.done) / rate, 3) if rate else None)
        with calling_back():
            reporter.callback(event)

    def advance(self, units: int) -> None:
        self.update(self.done + units)

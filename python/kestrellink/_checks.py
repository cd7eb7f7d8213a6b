"""Argument checks shared by the Cable objects, the lock that makes an operation atomic, and
the refusal of calls that a callback makes while its operation runs.

Python converts too eagerly for a cable: ``bytes(123)`` is 123 zero bytes, a float passes a
range check, True is 1. Every value that reaches a flash address, a length or a pin comes through
these checks first, so a careless call raises before anything is sent.
"""

import contextlib
import functools
import operator
import threading
from typing import Any, Callable, Iterator, TypeVar

from .errors import ReentryError

Function = TypeVar("Function", bound=Callable[..., Any])


def integer(value: Any, name: str, low: int, high: int) -> int:
    """``value`` as an int in [low, high]; TypeError for non-integers (bool and float included),
    ValueError outside the range."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    value = operator.index(value)
    if not low <= value <= high:
        raise ValueError(f"{name} must be {low}..{high:#x}, got {value}")
    return value


def flag(value: Any, name: str) -> bool:
    """A yes-or-no argument: a bool, since "no" or a list would count as yes."""
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def data(value: Any, name: str) -> bytes:
    """A bytes-like ``value`` as bytes; TypeError for anything else (an int or a str above all,
    which bytes() would turn into zeros or refuse with a less helpful message)."""
    if isinstance(value, (int, str)):
        raise TypeError(f"{name} must be bytes-like, not {type(value).__name__}")
    try:
        return memoryview(value).tobytes()
    except TypeError:
        raise TypeError(f"{name} must be bytes-like, not {type(value).__name__}") from None


class _Thread(threading.local):
    """What the current thread is doing with cables."""
    operations = 0  # cable operations under way, those built from others counted too
    in_callback = False  # a callback the package called while one of them runs


_thread = _Thread()


@contextlib.contextmanager
def operation() -> Iterator[None]:
    """Counts the current thread as inside a cable operation, so that a callback it calls cannot
    start another."""
    _thread.operations += 1
    try:
        yield
    finally:
        _thread.operations -= 1


@contextlib.contextmanager
def callback() -> Iterator[None]:
    """Runs a callback of the caller's (a progress callback, a message handler) under a mark: while
    it runs, the cable operation that called it is halfway (a chip select low, a channel in the
    middle of a transfer), and another operation would cut into it."""
    saved = _thread.in_callback
    _thread.in_callback = _thread.operations > 0
    try:
        yield
    finally:
        _thread.in_callback = saved


def refuse_reentry(what: str) -> None:
    """Raises ReentryError when a callback of a running cable operation makes this call."""
    if _thread.in_callback:
        raise ReentryError(
            f"{what} was called from a callback (progress or message) of a cable operation "
            "that is halfway; that operation is left as it was: make the call after it returns")


def atomic(method: Function) -> Function:
    """Runs a method of a Cable or of one of its parts under the cable's lock, so that an
    operation of several exports (an SPI transaction, a JTAG scan) is not interleaved with
    another thread's. The lock is reentrant: operations built from operations keep it. A call
    from a callback of a running operation is refused (ReentryError) before it takes the lock."""

    @functools.wraps(method)
    def locked(self: Any, *args: Any, **kwargs: Any) -> Any:
        refuse_reentry(method.__qualname__)
        with self._cable._lock, operation():
            return method(self, *args, **kwargs)

    return locked  # type: ignore[return-value]

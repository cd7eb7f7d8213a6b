"""Argument checks shared by the Cable objects, and the lock that makes an operation atomic.

Python converts too eagerly for a cable: ``bytes(123)`` is 123 zero bytes, a float passes a
range check, True is 1. Every value that reaches a flash address, a length or a pin comes through
these checks first, so a careless call raises before anything is sent.
"""

import functools
import operator
from typing import Any, Callable, TypeVar

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


def data(value: Any, name: str) -> bytes:
    """A bytes-like ``value`` as bytes; TypeError for anything else (an int or a str above all,
    which bytes() would turn into zeros or refuse with a less helpful message)."""
    if isinstance(value, (int, str)):
        raise TypeError(f"{name} must be bytes-like, not {type(value).__name__}")
    try:
        return memoryview(value).tobytes()
    except TypeError:
        raise TypeError(f"{name} must be bytes-like, not {type(value).__name__}") from None


def atomic(method: Function) -> Function:
    """Runs a method of a Cable or of one of its parts under the cable's lock, so that an
    operation of several exports (an SPI transaction, a JTAG scan) is not interleaved with
    another thread's. The lock is reentrant: operations built from operations keep it."""

    @functools.wraps(method)
    def locked(self: Any, *args: Any, **kwargs: Any) -> Any:
        with self._cable._lock:
            return method(self, *args, **kwargs)

    return locked  # type: ignore[return-value]

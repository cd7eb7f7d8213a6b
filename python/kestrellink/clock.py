"""The cable's clock as the flash operations take it, by the rule ``kestrel spi --clock`` follows
(the engine's own): TCK = 12 MHz / ((1 + divisor) x 2), 6 MHz at divisor 0 down to about
91.55 Hz at 0xFFFF; a rate asked for becomes the fastest TCK not above it, and a rate outside that
range is refused."""

import ctypes
from typing import Optional, Union

from . import _engine

MAX_DIVISOR = 0xFFFF
# A clock: hertz, or kestrel's text for it ("1.5M").
Clock = Union[int, float, str]


def _engine_of(library_path: Optional[str]) -> ctypes.CDLL:
    if library_path is None:
        from .library import load
        library_path = load().path
    return _engine.engine_for(library_path)


def clock_hz(clock: Clock, library_path: Optional[str] = None) -> float:
    """A clock in hertz from a number or kestrel's text ("1.5M", "500kHz"), read as kestrel reads
    it; TypeError for other types (bool included), ValueError outside the cable's range."""
    if isinstance(clock, bool) or not isinstance(clock, (int, float, str)):
        raise TypeError(f"clock must be hertz as a number or text, not {type(clock).__name__}")
    text = clock if isinstance(clock, str) else repr(clock)
    return _engine.parse_clock(_engine_of(library_path), text)


def divisor_for(hz: float, library_path: Optional[str] = None) -> int:
    """The divisor of the fastest TCK not above ``hz``."""
    return int(_engine_of(library_path).kestrel_clock_divisor(hz))

"""The cable's clock as the flash operations take it, by the rule ``kestrel spi --clock`` follows:
TCK = 12 MHz / ((1 + divisor) x 2), 6 MHz at divisor 0 down to about 91.55 Hz at 0xFFFF; a rate
asked for becomes the fastest TCK not above it, and a rate outside that range is refused."""

import math
import re
from typing import Optional, Union

FASTEST_TCK_HZ = 6_000_000
MAX_DIVISOR = 0xFFFF
_SLACK = 1e-9  # relative: 6 MHz / 7 asked for is divisor 6
# kestrel's text form: decimal hertz, at most nine digits after the point, then k or M and "Hz".
_CLOCK_TEXT = re.compile(r"(\d*(?:\d|\.\d{1,9})) ?([kKM]?)(?:[Hh]z)?", re.ASCII)

# The JEDEC IDs of parts whose read (0x03) is slower than their fast read, and its limit in hertz:
# the same table as kestrel's.
READ_CLOCK_LIMITS = {
    b"\xbf\x25\x8d": (25e6, "SST25VF040B"),
    b"\xbf\x25\x41": (25e6, "SST25VF016B"),
}


def tck_hz(divisor: int) -> float:
    """TCK at a clock divisor."""
    return FASTEST_TCK_HZ / (1 + divisor)


def divisor_for(hz: float) -> int:
    """The divisor of the fastest TCK not above ``hz``."""
    ratio = math.ceil(FASTEST_TCK_HZ / hz - _SLACK)
    return 0 if ratio <= 1 else min(ratio - 1, MAX_DIVISOR)


def rate_text(hz: float) -> str:
    """"2 MHz", "100 kHz", "10 Hz"."""
    for scale, unit in ((1e6, "MHz"), (1e3, "kHz")):
        if hz >= scale:
            return f"{hz / scale:.6g} {unit}"
    return f"{hz:.6g} Hz"


def clock_hz(clock: Union[int, float, str]) -> float:
    """A clock in hertz from a number or kestrel's text ("1.5M", "500kHz"); TypeError for other
    types (bool included), ValueError outside the cable's range."""
    if isinstance(clock, bool) or not isinstance(clock, (int, float, str)):
        raise TypeError(f"clock must be hertz as a number or text, not {type(clock).__name__}")
    hz = math.nan
    if isinstance(clock, str):
        match = _CLOCK_TEXT.fullmatch(clock)
        if match:
            hz = float(match.group(1)) * {"": 1, "k": 1e3, "K": 1e3, "M": 1e6}[match.group(2)]
    elif not isinstance(clock, int) or abs(clock) <= FASTEST_TCK_HZ:
        hz = float(clock)  # an int past a float's range is out of the cable's range too
    slowest = tck_hz(MAX_DIVISOR)
    if not slowest * (1 - _SLACK) <= hz <= FASTEST_TCK_HZ * (1 + _SLACK):
        raise ValueError(f"clock {clock!r} is not a clock the cable can run: give hertz from "
                         f"{rate_text(slowest)} to {rate_text(FASTEST_TCK_HZ)}")
    return hz


def flash_divisor(hz: Optional[float], jedec: bytes) -> int:
    """The divisor for a flash job: the rate asked for, or the fastest the part's read allows;
    ValueError when the rate is faster than that."""
    limit, part = READ_CLOCK_LIMITS.get(bytes(jedec), (0.0, ""))
    if hz is None:
        return divisor_for(limit) if limit else 0
    divisor = divisor_for(hz)
    if limit and tck_hz(divisor) > limit * (1 + _SLACK):
        raise ValueError(f"clock {rate_text(hz)} is faster than {part} reads "
                         f"({rate_text(limit)} at most)")
    return divisor

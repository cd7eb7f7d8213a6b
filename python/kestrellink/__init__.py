"""KestrelLink for Python: the ZV7300LNK cable's library through ctypes, and the virtual cable.

- :func:`load` gives the raw layer: every export as a method of the same name.
- :class:`Cable` opens a cable: JTAG chain, SPI flash, pins, and channel B as a serial port.
- :class:`VirtualCable` puts the simulated cable in the process for tests (pytest fixture
  ``virtual_cable``).
- :func:`use_d2xx` (or $KESTRELLINK_D2XX) picks the D2XX library for a real cable: the vendor's
  (the default) or the project's library over libftdi1.

Messages the library would show in a message box become :class:`CableMessage` warnings, or go
to ``Library.on_message`` when set.
"""

from .cable import Cable, Gpio, Uart
from .d2xx import use_d2xx
from .errors import (CableError, CableMessage, KestrelLinkError, LibraryNotFoundError,
                     ScenarioError, TargetError)
from .jtag import Jtag
from .library import Library, load
from .spi import Spi
from .virtual import Call, Pins, VirtualCable

__version__ = "1.0.0"
__all__ = ["Cable", "CableError", "CableMessage", "Call", "Gpio", "Jtag", "KestrelLinkError",
           "Library", "LibraryNotFoundError", "Pins", "ScenarioError", "Spi", "TargetError",
           "Uart", "VirtualCable", "load", "use_d2xx"]

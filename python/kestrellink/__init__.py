"""KestrelLink for Python: the ZV7300LNK cable's library through ctypes, and the virtual cable.

- :func:`load` gives the raw layer: every export as a method of the same name.
- :class:`Cable` opens a cable: JTAG chain, SPI flash, pins, and channel B as a serial port.
- :class:`VirtualCable` puts the simulated cable in the process for tests (pytest fixture
  ``virtual_cable``).
- Whole operations return plain results (:mod:`kestrellink.results`) whose ``to_dict()`` uses
  the field names of ``kestrel --json``; long ones report through ``progress=callback``
  (:class:`ProgressEvent`, the fields of ``kestrel --progress json``).
- :func:`run_cables` runs a job on several cables at once, a process per cable.
- :func:`use_d2xx` (or $KESTRELLINK_D2XX) picks the D2XX library for a real cable: the vendor's
  (the default) or the project's library over libftdi1.

Messages the library would show in a message box become :class:`CableMessage` warnings, or go
to ``Library.on_message`` when set.
"""

from .bench import BenchInterrupted, BenchResult, CableOutcome, run_cables
from ._engine import JobNote
from .cable import Cable, Gpio, Uart
from .d2xx import use_d2xx
from .errors import (EXIT_CLASSES, CableError, CableMessage, KestrelLinkError,
                     LibraryNotFoundError, ReentryError, ScenarioError, TargetError,
                     UnavailableError, VerifyError, exit_code)
from .jtag import Jtag
from .library import Library, load
from .progress import ProgressEvent
from .results import (Device, FlashData, FlashId, FlashResult, PlayResult, ScanResult,
                      UartData, UartResult)
from .spi import Spi
from .virtual import Call, Pins, VirtualCable

__version__ = "1.0.0"
__all__ = ["BenchInterrupted", "BenchResult", "Cable", "CableError", "CableMessage",
           "CableOutcome", "Call", "Device", "EXIT_CLASSES", "FlashData", "FlashId", "FlashResult",
           "Gpio", "JobNote", "Jtag", "KestrelLinkError", "Library", "LibraryNotFoundError",
           "Pins", "PlayResult", "ProgressEvent", "ReentryError", "ScanResult", "ScenarioError",
           "Spi", "TargetError", "Uart", "UartData", "UartResult", "UnavailableError",
           "VerifyError", "VirtualCable", "exit_code", "load", "run_cables", "use_d2xx"]

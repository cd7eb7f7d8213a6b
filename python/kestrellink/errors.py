"""Exceptions, the warning category of the package, and the exit code kestrel gives for each
failure."""

from typing import Dict


class KestrelLinkError(Exception):
    """Base of every exception the package raises."""


class LibraryNotFoundError(KestrelLinkError, OSError):
    """A native library (KestrelLink or the virtual cable) could not be found or loaded."""


class CableError(KestrelLinkError):
    """An export returned a result code that means failure.

    ``export`` is the export's name and ``code`` its result code; the meaning of a code is
    particular to each export (see the export's docstring on :class:`kestrellink.Library`).
    """

    def __init__(self, export: str, code: int, detail: str = "") -> None:
        self.export = export
        self.code = code
        self.detail = detail
        text = f"{export} returned {code}"
        super().__init__(f"{text}: {detail}" if detail else text)


class ReentryError(KestrelLinkError):
    """A callback (progress, messages) called into a cable while one of its operations was
    halfway; the call was refused before it sent anything."""


class TargetError(KestrelLinkError):
    """The exports succeeded but what is on the pins did not answer as expected."""


class VerifyError(TargetError):
    """What was read back differs from what was written: ``address`` is the first byte that
    differs, ``expected`` and ``actual`` its values; ``reason`` what that means, when known."""

    def __init__(self, address: int, expected: int, actual: int, reason: str = "") -> None:
        self.address, self.expected, self.actual = address, expected, actual
        super().__init__(f"verify failed at {address:#x}: expected {expected:#04x}, "
                         f"read {actual:#04x}" + (f": {reason}" if reason else ""))


class ScenarioError(KestrelLinkError, ValueError):
    """The virtual cable rejected a scenario; the message names the line and what was expected."""


class CableMessage(UserWarning):
    """A message the library would show in a message box (for example "E11.05 Cannot Set DTR")."""


# The exit codes of kestrel, the same for every command, and their classes.
EXIT_CLASSES: Dict[int, str] = {
    0: "ok", 1: "mismatch", 2: "usage", 3: "no-library", 4: "model", 5: "file",
    6: "unavailable", 7: "no-cable", 8: "library-call", 130: "interrupted"}
_NO_CABLE_CODES = (3, 5, 6)  # OpenDevice: no device, none matches, not one cable's two channels


def exit_code(error: BaseException) -> int:
    """The exit code kestrel gives for the same failure: 7 for a cable that is not there, 8 for
    another library result, 1 for a target that did not answer as expected (a verify, an
    assert), 3 without a D2XX library, 4 for the scenario, 5 for a file, 130 for an interrupt;
    2 for anything else (a wrong argument, the job's own error)."""
    if isinstance(error, KeyboardInterrupt):
        return 130
    if isinstance(error, ScenarioError):
        return 4
    if isinstance(error, LibraryNotFoundError):
        return 3
    if isinstance(error, CableError):
        if error.export == "LoadD2XXDLL":
            return 3
        opening = error.export in ("OpenDevice", "OpenDevice4")
        return 7 if opening and error.code in _NO_CABLE_CODES else 8
    if isinstance(error, (TargetError, AssertionError)):
        return 1
    return 5 if isinstance(error, OSError) else 2

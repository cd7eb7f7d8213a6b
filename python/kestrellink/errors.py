"""Exceptions, the warning category of the package, and the exit code kestrel gives for each
failure."""

from ._exit_codes import (EXIT_CLASSES, EXIT_FAILED, EXIT_FILE, EXIT_INTERRUPTED,
                          EXIT_LIBRARY_CALL, EXIT_MODEL, EXIT_NO_CABLE, EXIT_NO_LIBRARY,
                          EXIT_UNAVAILABLE, EXIT_USAGE)
from ._result_codes import CLASSES

__all__ = ["EXIT_CLASSES", "CableError", "CableMessage", "KestrelLinkError", "LibraryNotFoundError",
           "ReentryError", "ScenarioError", "TargetError", "UnavailableError", "VerifyError",
           "exit_code"]


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


class UnavailableError(TargetError):
    """The target lacks what the operation needs: no flash answers on the SPI lines, say."""


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


def _class_of(error: CableError) -> str:
    """The class of an export's result code in the library's table ("" when not there)."""
    return CLASSES.get(error.export, {}).get(error.code, "")


def exit_code(error: BaseException) -> int:
    """The exit code kestrel gives for the same failure: EXIT_NO_CABLE for a cable that is not
    there, EXIT_LIBRARY_CALL for another library result, EXIT_UNAVAILABLE for a target that lacks
    what the operation needs (no flash), EXIT_FAILED for a target that did not
    answer as expected (a verify, an assert), EXIT_NO_LIBRARY without a D2XX library, EXIT_MODEL
    for the scenario, EXIT_FILE for a file, EXIT_INTERRUPTED for an interrupt; EXIT_USAGE for
    anything else (a wrong argument, the job's own error)."""
    if isinstance(error, KeyboardInterrupt):
        return EXIT_INTERRUPTED
    if isinstance(error, ScenarioError):
        return EXIT_MODEL
    if isinstance(error, LibraryNotFoundError):
        return EXIT_NO_LIBRARY
    if isinstance(error, CableError):
        return {"no-library": EXIT_NO_LIBRARY, "no-cable": EXIT_NO_CABLE}.get(
            _class_of(error), EXIT_LIBRARY_CALL)
    if isinstance(error, UnavailableError):
        return EXIT_UNAVAILABLE
    if isinstance(error, (TargetError, AssertionError)):
        return EXIT_FAILED
    return EXIT_FILE if isinstance(error, OSError) else EXIT_USAGE

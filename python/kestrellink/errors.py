"""Exceptions and the warning category of the package."""


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


class TargetError(KestrelLinkError):
    """The exports succeeded but what is on the pins did not answer as expected."""


class ScenarioError(KestrelLinkError, ValueError):
    """The virtual cable rejected a scenario; the message names the line and what was expected."""


class CableMessage(UserWarning):
    """A message the library would show in a message box (for example "E11.05 Cannot Set DTR")."""

"""Message boxes as Python messages.

On Linux the library shows a message by writing it as one line to standard error, and waits for
Enter when standard input and standard error are both terminals. A host can replace that with a
function the process exports, which Python cannot do without compiled code. So while an export
runs, file descriptor 2 points at a private file: the library sees no terminal (and never waits),
and each line it wrote becomes one message once the export returns.

Consequences, accepted for a package without compiled code:
- messages arrive when the export returns, in order, not while it runs;
- text other threads write to standard error during an export is taken for messages too;
- calls are serialised by one lock, as the library serialises them anyway.
On Windows the library shows real message boxes; there is nothing to capture.
"""

import os
import sys
import tempfile
import threading
from typing import Any, Callable, List, Sequence, Tuple

from ._native import WINDOWS

_lock = threading.RLock()
_sink = -1  # file descriptor of the private file, opened on first use


def _sink_fd() -> int:
    global _sink
    if _sink < 0:
        try:
            _sink = os.memfd_create("kestrellink-messages", os.MFD_CLOEXEC)
        except (AttributeError, OSError):
            with tempfile.TemporaryFile() as backing:
                _sink = os.dup(backing.fileno())
    return _sink


def _flush_python_streams() -> None:
    # Text Python has buffered for standard error belongs before the call, not in the messages.
    for stream in (sys.stderr, sys.__stderr__):
        try:
            if stream is not None:
                stream.flush()
        except (OSError, ValueError):
            pass


def call(function: Callable[..., Any], arguments: Sequence[Any]) -> Tuple[Any, List[str]]:
    """Calls an export; returns its result and the lines it wrote to standard error."""
    with _lock:
        if WINDOWS:
            return function(*arguments), []
        _flush_python_streams()
        try:
            saved = os.dup(2)
        except OSError:  # no standard error at all: nothing to capture, nothing to wait for
            return function(*arguments), []
        sink = _sink_fd()
        os.dup2(sink, 2)
        try:
            result = function(*arguments)
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        size = os.lseek(sink, 0, os.SEEK_END)
        if size == 0:
            return result, []
        data = os.pread(sink, size, 0)
        os.ftruncate(sink, 0)
        os.lseek(sink, 0, os.SEEK_SET)
    return result, data.decode("utf-8", "replace").splitlines()


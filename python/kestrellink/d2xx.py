"""Choosing the D2XX library a real cable is reached through.

The library loads the vendor library by name (libftd2xx.so) when LoadD2XXDLL runs. By default
that is whatever the system's loader finds, so a vendor library the user installed is used. To
use another, load it first, globally, and the library's own load by name finds that copy:

- :func:`use_d2xx` with ``"libftdi"`` (the project's library over libftdi1, from the folder
  beside the KestrelLink library: <libdir>/kestrellink/d2xx-libftdi, or the build tree's
  build/d2xx-libftdi), ``"vendor"`` (the default: nothing is loaded ahead) or a path;
- or $KESTRELLINK_D2XX with the same values, which :func:`kestrellink.load` applies.

Either must happen before LoadD2XXDLL; a vendor library stays in the process once loaded.
"""

import ctypes
import os
from pathlib import Path
from typing import List, Optional

from . import _native
from .errors import KestrelLinkError

ENVIRONMENT = "KESTRELLINK_D2XX"


def libftdi_candidates(library_path: Optional[str]) -> List[str]:
    """Where the library over libftdi1 is looked for: the package's _native/d2xx-libftdi folder,
    the private folder beside an installed library, and the build tree's."""
    folders = [_native.PACKAGE_NATIVE / "d2xx-libftdi"]
    if library_path:
        libdir = Path(library_path).resolve().parent
        folders += [libdir / "kestrellink" / "d2xx-libftdi", libdir.parent / "d2xx-libftdi"]
    return [str(folder / _native.VENDOR_NAME) for folder in folders]


def use_d2xx(choice: str, library_path: Optional[str] = None) -> Optional[str]:
    """Loads the chosen D2XX library ahead of LoadD2XXDLL; returns its path, or None for the
    vendor's (which LoadD2XXDLL finds itself). Raises LibraryNotFoundError when the choice does
    not load, and KestrelLinkError when another D2XX library is already in the process."""
    if choice in ("", "vendor"):
        return None
    candidates = libftdi_candidates(library_path) if choice == "libftdi" else [choice]
    candidates = [c for c in candidates if Path(c).exists()] or candidates[:1]
    existing = _native.already_loaded(_native.VENDOR_NAME)
    if existing is not None:
        loaded = os.path.realpath(_native.loaded_path(existing))
        if loaded in (os.path.realpath(c) for c in candidates):
            return loaded
        raise KestrelLinkError(f"another D2XX library ({loaded}) is already loaded")
    _, path = _native.open_first(candidates, f"the D2XX library '{choice}'",
                                 ctypes.RTLD_GLOBAL | getattr(os, "RTLD_NOW", 0))
    return path


def apply_environment(library_path: Optional[str]) -> Optional[str]:
    """:func:`use_d2xx` with $KESTRELLINK_D2XX, when it is set."""
    return use_d2xx(os.environ.get(ENVIRONMENT, ""), library_path)

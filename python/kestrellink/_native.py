"""Finding and loading the native libraries, and the string conventions at their boundary."""

import ctypes
import os
import sys
from pathlib import Path
from typing import Iterable, List, Optional, Sequence, Tuple, Union

from .errors import LibraryNotFoundError

WINDOWS = sys.platform == "win32"
LIBRARY_NAMES = ("KestrelLink.dll",) if WINDOWS else ("libkestrellink.so.1", "libkestrellink.so")
VENDOR_NAME = "ftd2xx.dll" if WINDOWS else "libftd2xx.so"
# Libraries a build step or a user copies into the installed package.
PACKAGE_NATIVE = Path(__file__).resolve().parent / "_native"

StrPath = Union[str, "os.PathLike[str]"]


def _in_folder(location: StrPath, names: Sequence[str]) -> List[str]:
    """The location itself, or the names inside it when it is a folder."""
    path = Path(location)
    return [str(path / name) for name in names] if path.is_dir() else [str(path)]


def open_first(candidates: Iterable[str], what: str, mode: int = ctypes.DEFAULT_MODE,
               required: str = "", origin: str = "") -> Tuple[ctypes.CDLL, str]:
    """Loads the first candidate that loads and exports ``required``; raises
    LibraryNotFoundError naming ``origin`` (where the candidates came from) and every attempt."""
    tried = []
    for candidate in candidates:
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append(f"  {candidate}: no such file or folder")
            continue
        try:
            module = ctypes.CDLL(candidate, mode=mode)
        except OSError as error:
            tried.append(f"  {candidate}: {error}")
            continue
        if required and not hasattr(module, required):
            tried.append(f"  {candidate}: loads, but is not {what} (it lacks {required})")
            continue
        return module, candidate
    attempts = "\n".join(tried) if tried else "  nothing: no candidate was found"
    source = f" from {origin}" if origin else ""
    raise LibraryNotFoundError(f"cannot load {what}{source}; tried:\n{attempts}")


def _explicit(path: Optional[StrPath], variable: str) -> Tuple[Optional[StrPath], str]:
    """The explicit location (an argument, else the environment variable) and where it came
    from, for error messages."""
    if path is not None:
        return path, f"the path given ({os.fspath(path)})"
    value = os.environ.get(variable)
    return (value, f"${variable} ({value})") if value else (None, "")


def library_candidates(path: Optional[StrPath]) -> Tuple[List[str], str]:
    """Where the KestrelLink library is looked for, in order, and where that list came from.

    An explicit path (a file or a folder) is the only place tried; so is $KESTRELLINK_LIBRARY.
    Otherwise the package's _native folder, then the system loader's own search.
    """
    explicit, origin = _explicit(path, "KESTRELLINK_LIBRARY")
    if explicit:
        return _in_folder(explicit, LIBRARY_NAMES), origin
    packaged = [str(PACKAGE_NATIVE / n) for n in LIBRARY_NAMES if (PACKAGE_NATIVE / n).exists()]
    return packaged + list(LIBRARY_NAMES), ""


def virtual_cable_candidates(path: Optional[StrPath], library_path: Optional[str]
                             ) -> Tuple[List[str], str]:
    """Where the virtual cable is looked for, in order, and where that list came from.

    An explicit path or $KESTRELLINK_VIRTUAL_CABLE is the only place tried. Otherwise the
    package's _native/virtual-cable folder, the private folder beside an installed library
    (<libdir>/kestrellink/virtual-cable), and the build tree's (build/lib -> build/virtual-cable).
    """
    explicit, origin = _explicit(path, "KESTRELLINK_VIRTUAL_CABLE")
    if explicit:
        return _in_folder(explicit, (VENDOR_NAME,)), origin
    folders = [PACKAGE_NATIVE / "virtual-cable"]
    if library_path:
        libdir = Path(library_path).resolve().parent
        folders += [libdir / "kestrellink" / "virtual-cable", libdir.parent / "virtual-cable"]
    return ([str(folder / VENDOR_NAME) for folder in folders if (folder / VENDOR_NAME).exists()],
            "the package, the library's folder and the build tree "
            "(set $KESTRELLINK_VIRTUAL_CABLE)")


def loaded_path(module: ctypes.CDLL) -> str:
    """The file a loaded library came from (for libraries the system loader found by name)."""
    if WINDOWS:
        buffer = ctypes.create_unicode_buffer(32768)
        ctypes.windll.kernel32.GetModuleFileNameW(ctypes.c_void_p(module._handle), buffer, 32768)
        return buffer.value or module._name

    class LinkMap(ctypes.Structure):  # the leading fields of the loader's struct link_map
        _fields_ = [("l_addr", ctypes.c_void_p), ("l_name", ctypes.c_char_p)]

    RTLD_DI_LINKMAP = 2
    entry = ctypes.POINTER(LinkMap)()
    if ctypes.CDLL(None).dlinfo(ctypes.c_void_p(module._handle), RTLD_DI_LINKMAP,
                                ctypes.byref(entry)) == 0 and entry.contents.l_name:
        return os.fsdecode(entry.contents.l_name)
    return module._name


def already_loaded(name: str) -> Optional[ctypes.CDLL]:
    """The library of that name when the process has loaded it already, else None."""
    if WINDOWS:
        kernel32 = ctypes.windll.kernel32
        kernel32.GetModuleHandleW.restype = ctypes.c_void_p
        handle = kernel32.GetModuleHandleW(name)
        return ctypes.CDLL(name, handle=handle) if handle else None
    try:
        return ctypes.CDLL(name, mode=os.RTLD_NOW | os.RTLD_NOLOAD)
    except OSError:
        return None


# ---- Strings at the export boundary: UTF-16 on both platforms, narrow file names as the OS has
# them, and the text OpenDevice_EDP2 hands out, which the caller frees.

WideBuffer = ctypes.POINTER(ctypes.c_uint16)


def wide(text: Optional[StrPath]) -> Optional[ctypes.Array]:
    """A NUL-terminated UTF-16 copy of a str (or path), or None for a null pointer."""
    if text is None:
        return None
    data = os.fspath(text).encode("utf-16-le", "surrogatepass") + b"\0\0"
    return (ctypes.c_uint16 * (len(data) // 2)).from_buffer_copy(data)


def narrow(text: Optional[StrPath]) -> Optional[bytes]:
    """A file name as the C library takes it, or None for a null pointer."""
    return None if text is None else os.fsencode(text)


if WINDOWS:
    _free_ole_string = ctypes.WinDLL("oleaut32").SysFreeString
else:
    _free_ole_string = ctypes.CDLL(None).free
_free_ole_string.argtypes = [ctypes.c_void_p]
_free_ole_string.restype = None


def take_ole_string(pointer: "ctypes._Pointer[ctypes.c_uint16]") -> Optional[str]:
    """The text of a string the library handed out, which is then freed; None for null."""
    if not pointer:
        return None
    length = 0
    while pointer[length]:
        length += 1
    text = ctypes.string_at(pointer, 2 * length).decode("utf-16-le", "surrogatepass")
    _free_ole_string(ctypes.cast(pointer, ctypes.c_void_p))
    return text

"""The raw layer: the library's 56 exports as methods taking and returning Python values.

Each method has the export's name and takes its C parameters in order, in snake case, except
those the export only writes: filled buffers and out-values come back after the result code, as
``rc, data = lib.JTAG_RxFTDI(9)``. Wide and narrow strings are str (or paths for file names),
numbers are int (float for seconds and pacing), data in is any bytes-like object (an int for the
one-byte TMS pointers). A buffer the library may skip (JTAG_WriteTDI's tdo, SPI_ReadDI's buffer)
takes True or False and comes back as bytes or None. A "received" count trims the buffer before
it. Result codes stay result codes: nothing here raises for a non-zero code.
"""

import ctypes
import inspect
import os
import re
import threading
import warnings
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple

from . import _messages, _native, d2xx
from ._checks import callback, refuse_reentry
from ._exports import EXPORTS, EXTENTS, OPTIONAL_BUFFERS, SINGLE_BYTES, Export
from .errors import CableMessage, KestrelLinkError

MessageHandler = Callable[[str], None]

_INTEGERS = {  # C type: (ctypes type, lowest, highest)
    "kl_u8": (ctypes.c_uint8, 0, 0xFF),
    "unsigned short": (ctypes.c_uint16, 0, 0xFFFF),
    "kl_u32": (ctypes.c_uint32, 0, 0xFFFFFFFF),
    "kl_ulong": (ctypes.c_uint32, 0, 0xFFFFFFFF),
    "int": (ctypes.c_int32, -0x80000000, 0x7FFFFFFF),
}
_POINTERS = {  # C type: (kind, ctypes type)
    "const kl_wchar*": ("wide", _native.WideBuffer),
    "kl_wchar*": ("wide", _native.WideBuffer),
    "const char*": ("narrow", ctypes.c_char_p),
    "const kl_u8*": ("data", ctypes.c_char_p),
    "kl_u8*": ("buffer", ctypes.POINTER(ctypes.c_uint8)),
    "kl_u32*": ("count", ctypes.POINTER(ctypes.c_uint32)),
    "kl_bstr*": ("text", ctypes.POINTER(_native.WideBuffer)),
}
_ANNOTATIONS = {"int": int, "double": float, "wide": str, "narrow": "str | os.PathLike",
                "data": "bytes-like", "buffer": bool}


class Param(NamedTuple):
    c_name: str
    name: str  # snake case, as the Python method takes it
    kind: str  # int, double, wide, narrow, data, buffer, count, text
    ctype: Any
    low: int = 0
    high: int = 0
    visible: bool = True  # taken from the caller (out-values are not)


def _snake(name: str) -> str:
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).lower()


def parse_parameters(export: Export) -> List[Param]:
    """The export's C parameters as the raw layer handles them."""
    params = []
    for declaration in export.parameters.split(","):
        if declaration.strip() == "void":
            continue
        c_type, c_name = declaration.strip().rsplit(" ", 1)
        if c_type == "double":
            params.append(Param(c_name, _snake(c_name), "double", ctypes.c_double))
        elif c_type in _INTEGERS:
            ctype, low, high = _INTEGERS[c_type]
            params.append(Param(c_name, _snake(c_name), "int", ctype, low, high))
        else:
            kind, ctype = _POINTERS[c_type]
            visible = kind not in ("count", "text") and (
                kind != "buffer" or (export.name, c_name) in OPTIONAL_BUFFERS)
            params.append(Param(c_name, _snake(c_name), kind, ctype, visible=visible))
    return params


class Library:
    """The KestrelLink library loaded into this process, one method per export.

    The library's state is process-global, so every Library of one file is the same library.
    ``on_message`` receives each message-box text; when it is None (the default) each one is
    issued as a :class:`kestrellink.CableMessage` warning. Either runs when the export returns,
    which may be halfway through a cable operation: a call it makes into the library or a cable
    then raises ReentryError.
    """

    def __init__(self, module: ctypes.CDLL, path: str) -> None:
        self.path = path
        self.on_message: Optional[MessageHandler] = None
        self._functions: Dict[str, Any] = {}
        symbol_column = "windows" if _native.WINDOWS else "linux"
        for export in EXPORTS:
            symbol = getattr(export, symbol_column) or export.name
            try:
                function = getattr(module, symbol)
            except AttributeError:
                continue  # reported when it is called
            function.restype = None if export.result == "void" else _INTEGERS[export.result][0]
            function.argtypes = [p.ctype for p in parse_parameters(export)]
            self._functions[export.name] = function

    def __repr__(self) -> str:
        return f"<kestrellink.Library {self.path}>"

    def _call(self, name: str, arguments: List[Any]) -> Any:
        function = self._functions.get(name)
        if function is None:
            raise KestrelLinkError(f"{self.path} does not export {name}")
        refuse_reentry(f"Library.{name}")
        result, messages = _messages.call(function, arguments)
        for text in messages:
            with callback():
                if self.on_message is not None:
                    self.on_message(text)
                else:
                    warnings.warn(CableMessage(text), stacklevel=3)
        return result


def _convert(export: Export, param: Param, value: Any, scalars: Dict[str, Any]) -> Any:
    """One Python argument as ctypes takes it."""
    where = f"{export.name}: {param.name}"
    if param.kind == "int":
        if not isinstance(value, int):
            raise TypeError(f"{where} must be an int, not {type(value).__name__}")
        if not param.low <= value <= param.high:
            raise ValueError(f"{where} must be {param.low}..{param.high}, got {value}")
        return value
    if param.kind == "double":
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise TypeError(f"{where} must be a number, not {type(value).__name__}")
        return float(value)
    if param.kind == "wide":
        return _native.wide(value)
    if param.kind == "narrow":
        return _native.narrow(value)
    if value is None:
        return None
    extent = EXTENTS[(export.name, param.c_name)](scalars)
    if isinstance(value, int):
        if (export.name, param.c_name) not in SINGLE_BYTES:
            raise TypeError(f"{where} takes bytes, not an int")
        value = bytes([value])
    data = bytes(value)
    if len(data) < extent:
        raise ValueError(f"{where} holds {len(data)} bytes, the call covers {extent}")
    return data


def _make_method(export: Export) -> Callable[..., Any]:
    params = parse_parameters(export)
    visible = [p for p in params if p.visible]
    results = [p.name for p in params if p.kind in ("buffer", "text") or
               (p.kind == "count" and p.c_name != "received")]
    returns = "int" if export.result != "void" else "None"
    if results:
        returns = "tuple"
    signature = inspect.Signature(
        [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)] +
        [inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                           annotation=_ANNOTATIONS[p.kind]) for p in visible],
        return_annotation=returns)

    def method(self: Library, *args: Any, **kwargs: Any) -> Any:
        if kwargs or len(args) != len(visible):
            args = tuple(signature.bind(self, *args, **kwargs).arguments.values())[1:]
        given = dict(zip((p.c_name for p in visible), args))
        scalars = {p.c_name: given[p.c_name] for p in visible if p.kind == "int"}
        c_args: List[Any] = []
        keep: List[Tuple[Param, Any]] = []  # out-storage, in parameter order
        for param in params:
            if param.kind == "buffer":
                wanted = given.get(param.c_name, True)
                storage = ((ctypes.c_uint8 * max(EXTENTS[(export.name, param.c_name)](scalars), 1))()
                           if wanted else None)
            elif param.kind == "count":
                storage = ctypes.c_uint32(0)
            elif param.kind == "text":
                storage = _native.WideBuffer()
            else:
                c_args.append(_convert(export, param, given[param.c_name], scalars))
                continue
            keep.append((param, storage))
            c_args.append(None if storage is None else
                          storage if param.kind == "buffer" else ctypes.byref(storage))
        rc = self._call(export.name, c_args)
        return _results(export, rc, keep, scalars)

    method.__name__ = method.__qualname__ = export.name
    method.__doc__ = export.doc + (f"\n\nReturns (rc, {', '.join(results)})." if results else "")
    method.__signature__ = signature  # type: ignore[attr-defined]
    return method


def _results(export: Export, rc: Any, keep: List[Tuple[Param, Any]], scalars: Dict[str, Any]
             ) -> Any:
    values: List[Any] = []
    for param, storage in keep:
        if param.kind == "buffer":
            extent = EXTENTS[(export.name, param.c_name)](scalars)
            data = None if storage is None else bytes(storage)[:extent]
            single = (export.name, param.c_name) in SINGLE_BYTES
            values.append(data[0] if data is not None and single else data)
        elif param.kind == "count" and param.c_name == "received":
            if values[-1] is not None:
                values[-1] = values[-1][:storage.value]
        elif param.kind == "count":
            values.append(storage.value)
        else:
            values.append(_native.take_ole_string(storage))
    return (rc, *values) if values else rc


for _export in EXPORTS:
    setattr(Library, _export.name, _make_method(_export))

_loaded: Dict[str, Library] = {}
_loading = threading.Lock()


def load(path: Optional["_native.StrPath"] = None) -> Library:
    """Loads the KestrelLink library and returns it; the same file gives the same Library.

    Searched in this order: ``path`` (a file or a folder), else $KESTRELLINK_LIBRARY, else the
    installed package's _native folder, else the system loader (libkestrellink.so.1 /
    KestrelLink.dll). Loading the library does not load the vendor library: LoadD2XXDLL does,
    unless $KESTRELLINK_D2XX chooses one to load ahead (see :mod:`kestrellink.d2xx`).
    Raises LibraryNotFoundError when none loads.
    """
    with _loading:
        candidates, origin = _native.library_candidates(path)
        module, _ = _native.open_first(candidates, "the KestrelLink library",
                                       required="LoadD2XXDLL", origin=origin)
        real = os.path.realpath(_native.loaded_path(module))
        d2xx.apply_environment(real)
        if real not in _loaded:
            _loaded[real] = Library(module, real)
        return _loaded[real]


def loaded_libraries() -> List[Library]:
    """Every Library this process has loaded so far."""
    return list(_loaded.values())

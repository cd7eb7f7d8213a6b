"""The virtual cable: our simulated vendor library, loaded ahead of KestrelLink, and the control
API tests use to set it up and to see what the simulated devices saw."""

import ctypes
import os
from ctypes import POINTER, c_char_p, c_int, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p
from types import SimpleNamespace, TracebackType
from typing import List, NamedTuple, Optional, Type, Union

from . import _native
from .errors import KestrelLinkError, LibraryNotFoundError, ScenarioError
from .library import load, loaded_libraries

Scenario = Union[str, "os.PathLike[str]", None]


class _VcCall(ctypes.Structure):
    _fields_ = [("entry", c_char_p), ("entry_index", c_uint32), ("handle", c_void_p),
                ("args", c_uint64 * 4), ("arg_count", c_uint32), ("status", c_uint32),
                ("transferred", c_uint32), ("data", POINTER(c_uint8)),
                ("data_length", c_uint32), ("faulted", c_int)]


class _VcChannelSettings(ctypes.Structure):
    _fields_ = [("open", c_int), ("handle", c_void_p), ("location", c_uint32),
                ("bit_mode", c_uint8), ("bit_mask", c_uint8), ("latency_ms", c_uint8),
                ("word_length", c_uint8), ("stop_bits", c_uint8), ("parity", c_uint8),
                ("flow_control", c_uint16), ("xon", c_uint8), ("xoff", c_uint8),
                ("baud_rate", c_uint32), ("dtr", c_int), ("dtr_changes", c_uint32),
                ("resets", c_uint32), ("read_timeout_ms", c_uint32),
                ("write_timeout_ms", c_uint32), ("achieved_baud_rate", c_uint32)]


class _VcEepromView(ctypes.Structure):
    _fields_ = [("programmed", c_int), ("vendor_id", c_uint16), ("product_id", c_uint16),
                ("manufacturer", ctypes.c_char * 32), ("manufacturer_id", ctypes.c_char * 16),
                ("description", ctypes.c_char * 64), ("serial_number", ctypes.c_char * 16),
                ("user_area_size", c_uint32), ("programs", c_uint32), ("erases", c_uint32)]


_U8P = POINTER(c_uint8)
_CONTROL = {  # name: (result, parameters), as virtual/include/vcable*.h declare them
    "vc_reset": (None, []),
    "vc_load_scenario_file": (c_int, [c_char_p, c_char_p, c_uint32]),
    "vc_load_scenario_text": (c_int, [c_char_p, c_char_p, c_uint32]),
    "vc_device_count": (c_int, []),
    "vc_unplug": (c_int, [c_int]),
    "vc_replug": (c_int, [c_int]),
    "vc_set_library_version": (None, [c_uint32]),
    "vc_fault_fail": (c_int, [c_char_p, c_uint32, c_uint32, c_int]),
    "vc_fault_hits": (c_uint32, [c_int]),
    "vc_fault_clear": (None, []),
    "vc_log_count": (c_uint32, []),
    "vc_log_get": (c_int, [c_uint32, POINTER(_VcCall)]),
    "vc_log_clear": (None, []),
    "vc_model_error_count": (c_uint32, []),
    "vc_model_error": (c_char_p, [c_uint32]),
    "vc_channel_settings": (c_int, [c_int, c_int, POINTER(_VcChannelSettings)]),
    "vc_inject_rx": (c_int, [c_int, c_int, _U8P, c_uint32]),
    "vc_tx_size": (c_uint32, [c_int, c_int]),
    "vc_tx_read": (c_uint32, [c_int, c_int, c_uint32, _U8P, c_uint32]),
    "vc_tx_clear": (None, [c_int, c_int]),
    "vc_eeprom_view": (c_int, [c_int, POINTER(_VcEepromView)]),
    "vc_eeprom_user_area": (c_uint32, [c_int, _U8P, c_uint32]),
    "vc_jtag_tap_state": (c_int, [c_int, c_int]),
    "vc_jtag_tap_state_name": (c_char_p, [c_int]),
    "vc_jtag_instruction": (c_int, [c_int, c_int, POINTER(c_uint32)]),
    "vc_jtag_user_register": (c_int, [c_int, c_int, POINTER(c_uint64)]),
    "vc_jtag_memory_read": (c_int, [c_int, c_int, c_uint32, _U8P, c_uint32]),
    "vc_jtag_memory_write": (c_int, [c_int, c_int, c_uint32, c_char_p, c_uint32]),
    "vc_flash_read": (c_int, [c_int, c_uint32, _U8P, c_uint32]),
    "vc_flash_write": (c_int, [c_int, c_uint32, c_char_p, c_uint32]),
    "vc_gpio_set_input": (c_int, [c_int, c_int, c_int]),
    "vc_gpio_schedule": (c_int, [c_int, c_int, c_int, c_uint32]),
    "vc_pins_get": (c_int, [c_int, POINTER(c_uint16), POINTER(c_uint16)]),
    "vc_uart_peer_loopback": (c_int, [c_int, c_int]),
    "vc_uart_peer_echo": (c_int, [c_int, c_int, c_uint32]),
    "vc_uart_peer_script": (c_int, [c_int, c_int, c_char_p, c_uint32, c_int, c_uint32]),
    "vc_uart_peer_sink": (c_int, [c_int, c_int]),
    "vc_uart_peer_none": (c_int, [c_int, c_int]),
    "vc_uart_received_count": (c_uint64, [c_int, c_int]),
    "vc_uart_received_read": (c_uint32, [c_int, c_int, c_uint32, _U8P, c_uint32]),
    "vc_uart_dtr_history": (c_uint32, [c_int, c_int, _U8P, c_uint32]),
}
_ON_DTR_RISE, _AFTER_POLLS = 0, 1


class Call(NamedTuple):
    """One vendor call the library made, as the virtual cable recorded it."""
    entry: str  # e.g. "FT_Write"
    handle: Optional[int]
    args: tuple  # numeric arguments in order
    status: int  # the FT_STATUS it returned
    transferred: int  # bytes written, read or reported
    data: bytes  # bytes written or read (written data is capped at 4096 per call)
    faulted: bool  # a fault rule decided the result


class Pins(NamedTuple):
    """Levels and directions (1 = output) of the 16 lines: bits 0-7 ADBUS, 8-15 ACBUS."""
    levels: int
    directions: int


def _library_path() -> Optional[str]:
    try:
        return load().path
    except LibraryNotFoundError:
        return None


def _check(name: str, rc: int) -> int:
    if rc < 0:
        raise ValueError(f"{name} refused the arguments ({rc}: unknown cable, device or line, "
                         "or a range outside the target)")
    return rc


class VirtualCable:
    """Loads the virtual cable ahead of the library and sets up a scenario.

    ``scenario``: None for the embedded default (one ZV7300LNK cable: a two-device JTAG chain,
    a 1 MiB SPI flash on GPIOL2, a loopback on channel B), a path, or TOML text (a str that is
    not an existing file nor a one-line name ending in .toml). The virtual cable is found through
    ``path``, else $KESTRELLINK_VIRTUAL_CABLE, else beside the package or the library.

    It must be entered before LoadD2XXDLL loads another vendor library; once loaded it stays in
    the process (a real cable then needs a new process). Device and cable indexes count from 0 in
    scenario order; channels are 0 (A) and 1 (B). :attr:`vc` is the whole C control API.
    """

    def __init__(self, scenario: Scenario = None, *, path: Optional[_native.StrPath] = None):
        existing = _native.already_loaded(_native.VENDOR_NAME)
        if existing is not None and not hasattr(existing, "vc_reset"):
            raise KestrelLinkError(
                f"another vendor D2XX library ({_native.loaded_path(existing)}) is "
                "already loaded: enter VirtualCable before LoadD2XXDLL or Cable.open")
        if existing is not None:
            self.vc, self.path = existing, _native.loaded_path(existing)
        else:
            candidates, origin = _native.virtual_cable_candidates(path, _library_path())
            # Global, so that the library's own load of the vendor library by name finds it.
            self.vc, self.path = _native.open_first(
                candidates, "the virtual cable", ctypes.RTLD_GLOBAL | getattr(os, "RTLD_NOW", 0),
                required="vc_reset", origin=origin)
        for name, (result, parameters) in _CONTROL.items():
            function = getattr(self.vc, name)
            function.restype, function.argtypes = result, parameters
        self.load_scenario(scenario)

    def load_scenario(self, scenario: Scenario) -> None:
        """Replaces the whole scenario (devices, faults, call log); see the class for the forms.
        Raises ScenarioError with the line and what was expected there."""
        if scenario is None:
            self.vc.vc_reset()
            return
        error = ctypes.create_string_buffer(1024)
        text = os.fspath(scenario)
        if isinstance(scenario, os.PathLike) or os.path.isfile(text) or (
                "\n" not in text and text.endswith(".toml")):
            rc = self.vc.vc_load_scenario_file(os.fsencode(text), error, len(error))
        else:
            rc = self.vc.vc_load_scenario_text(text.encode(), error, len(error))
        if rc:
            raise ScenarioError(error.value.decode(errors="replace"))

    def close(self) -> None:
        """Closes whatever connection a library left open on the virtual devices (CloseDevice),
        so the next scenario starts clean. The virtual cable stays loaded."""
        for lib in loaded_libraries():
            lib.CloseDevice()

    def __enter__(self) -> "VirtualCable":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.close()

    # ---- What the devices saw ------------------------------------------------------------

    def call_log(self, entry: Optional[str] = None) -> List[Call]:
        """The vendor calls recorded since the scenario began, oldest first (one entry point's
        only, when ``entry`` is given)."""
        out = []
        record = _VcCall()
        for index in range(self.vc.vc_log_count()):
            self.vc.vc_log_get(index, ctypes.byref(record))
            name = record.entry.decode()
            if entry is None or name == entry:
                out.append(Call(name, record.handle, tuple(record.args[:record.arg_count]),
                                record.status, record.transferred,
                                ctypes.string_at(record.data, record.data_length)
                                if record.data_length else b"", bool(record.faulted)))
        return out

    def clear_call_log(self) -> None:
        """Forgets the recorded calls and the bytes written to the channels."""
        self.vc.vc_log_clear()
        for device in range(self.vc.vc_device_count()):
            for channel in (0, 1):
                self.vc.vc_tx_clear(device, channel)

    def written(self, channel: int = 0, device: int = 0) -> bytes:
        """Every byte the host wrote to a channel since the scenario began (or clear_call_log)."""
        size = self.vc.vc_tx_size(device, channel)
        buffer = (c_uint8 * size)()
        return bytes(buffer[:self.vc.vc_tx_read(device, channel, 0, buffer, size)])

    def model_errors(self) -> List[str]:
        """What the simulator was asked to do but does not model (an empty list when all went
        as on hardware)."""
        return [self.vc.vc_model_error(i).decode() for i in range(self.vc.vc_model_error_count())]

    def channel(self, device: int = 0, channel: int = 1) -> SimpleNamespace:
        """A channel's settings: open, bit_mode, latency_ms, baud_rate, dtr, resets, ..."""
        settings = _VcChannelSettings()
        _check("vc_channel_settings", self.vc.vc_channel_settings(device, channel, settings))
        return SimpleNamespace(**{f: getattr(settings, f) for f, _ in settings._fields_})

    def eeprom(self, device: int = 0) -> SimpleNamespace:
        """The device's EEPROM: programmed, manufacturer, description, serial_number, user_area
        (bytes), programs, erases, ..."""
        view = _VcEepromView()
        _check("vc_eeprom_view", self.vc.vc_eeprom_view(device, view))
        fields = {f: getattr(view, f) for f, _ in view._fields_}
        fields = {k: v.decode(errors="replace") if isinstance(v, bytes) else v
                  for k, v in fields.items()}
        area = (c_uint8 * view.user_area_size)()
        fields["user_area"] = bytes(area[:self.vc.vc_eeprom_user_area(device, area, len(area))])
        return SimpleNamespace(**fields)

    def set_library_version(self, version: int) -> None:
        """The version word FT_GetLibraryVersion reports from now on."""
        self.vc.vc_set_library_version(version)

    # ---- Targets on channel A's pins -----------------------------------------------------

    def flash_read(self, address: int, size: int, cable: int = 0) -> bytes:
        """``size`` bytes of the SPI flash from ``address``, bypassing the bus."""
        buffer = (c_uint8 * size)()
        _check("vc_flash_read", self.vc.vc_flash_read(cable, address, buffer, size))
        return bytes(buffer)

    def flash_write(self, address: int, data: bytes, cable: int = 0) -> None:
        """Stores bytes in the SPI flash, bypassing the bus."""
        data = bytes(data)
        _check("vc_flash_write", self.vc.vc_flash_write(cable, address, data, len(data)))

    def jtag_memory_read(self, device: int, offset: int, size: int, cable: int = 0) -> bytes:
        """``size`` bytes of a JTAG device's memory array from byte ``offset``, bypassing the
        chain (words one after another, bit 0 of a word in its first byte)."""
        buffer = (c_uint8 * size)()
        _check("vc_jtag_memory_read",
               self.vc.vc_jtag_memory_read(cable, device, offset, buffer, size))
        return bytes(buffer)

    def jtag_memory_write(self, device: int, offset: int, data: bytes, cable: int = 0) -> None:
        """Stores bytes in a JTAG device's memory array, bypassing the chain."""
        data = bytes(data)
        _check("vc_jtag_memory_write",
               self.vc.vc_jtag_memory_write(cable, device, offset, data, len(data)))

    def pins(self, cable: int = 0) -> Pins:
        """The 16 lines as the targets last saw them."""
        levels, directions = c_uint16(), c_uint16()
        _check("vc_pins_get", self.vc.vc_pins_get(cable, levels, directions))
        return Pins(levels.value, directions.value)

    def drive(self, line: int, level: Optional[int], after_polls: int = 0, cable: int = 0
              ) -> None:
        """Drives a line from outside (0 to 7 ADBUS, 8 to 15 ACBUS) at level 0 or 1, or
        releases it (None; an undriven input reads 1); with ``after_polls``, at that
        receive-queue poll of channel A from now."""
        level = -1 if level is None else level
        _check("vc_gpio_schedule", self.vc.vc_gpio_schedule(cable, line, level, after_polls)
               if after_polls else self.vc.vc_gpio_set_input(cable, line, level))

    def tap_state(self, device: int, cable: int = 0) -> str:
        """A TAP controller's state, e.g. "Run-Test/Idle" (device 0 nearest TDI)."""
        state = _check("vc_jtag_tap_state", self.vc.vc_jtag_tap_state(cable, device))
        return self.vc.vc_jtag_tap_state_name(state).decode()

    def instruction(self, device: int, cable: int = 0) -> int:
        """The instruction a TAP controller holds."""
        value = c_uint32()
        _check("vc_jtag_instruction", self.vc.vc_jtag_instruction(cable, device, value))
        return value.value

    def user_register(self, device: int, cable: int = 0) -> int:
        """The value of a device's user data register."""
        value = c_uint64()
        _check("vc_jtag_user_register", self.vc.vc_jtag_user_register(cable, device, value))
        return value.value

    # ---- Faults and the bus ----------------------------------------------------------------

    def fault_fail(self, entry: str, nth: int = 1, status: int = 4, persistent: bool = False
                   ) -> int:
        """The nth call of a vendor entry point (e.g. "FT_Write") from now returns ``status``
        without running; ``persistent`` fails every later call too. Returns the rule's id."""
        return _check("vc_fault_fail", self.vc.vc_fault_fail(entry.encode(), nth, status,
                                                             int(persistent)))

    def fault_clear(self) -> None:
        """Removes every fault rule."""
        self.vc.vc_fault_clear()

    def unplug(self, device: int = 0) -> None:
        """Unplugs a device: it leaves the device list and calls on its handles fail."""
        _check("vc_unplug", self.vc.vc_unplug(device))

    def replug(self, device: int = 0) -> None:
        """Plugs an unplugged device back in (old handles stay invalid)."""
        _check("vc_replug", self.vc.vc_replug(device))

    # ---- UART peers ------------------------------------------------------------------------

    def uart_peer(self, peer: str, data: bytes = b"", *, after_polls: Optional[int] = None,
                  delay_polls: int = 0, device: int = 0, channel: int = 1) -> None:
        """Attaches a peer to a channel's serial lines: "loopback", "echo" (every byte back
        after ``delay_polls`` receive-queue polls), "script" (sends ``data`` on each DTR rise,
        or once after ``after_polls`` polls), "sink" (records only) or "none"."""
        vc = self.vc
        if peer == "echo":
            rc = vc.vc_uart_peer_echo(device, channel, delay_polls)
        elif peer == "script":
            data = bytes(data)
            trigger = _ON_DTR_RISE if after_polls is None else _AFTER_POLLS
            rc = vc.vc_uart_peer_script(device, channel, data, len(data), trigger,
                                        after_polls or 0)
        elif peer in ("loopback", "sink", "none"):
            rc = getattr(vc, f"vc_uart_peer_{peer}")(device, channel)
        else:
            raise ValueError(f"unknown peer {peer!r}")
        _check(f"vc_uart_peer_{peer}", rc)

    def uart_received(self, device: int = 0, channel: int = 1) -> bytes:
        """The bytes a channel's peer received since it was attached."""
        size = self.vc.vc_uart_received_count(device, channel)
        buffer = (c_uint8 * size)()
        return bytes(buffer[:self.vc.vc_uart_received_read(device, channel, 0, buffer, size)])

    def dtr_history(self, device: int = 0, channel: int = 1) -> List[int]:
        """The DTR levels the host drove, oldest first (1 set, 0 cleared)."""
        count = self.vc.vc_uart_dtr_history(device, channel, None, 0)
        buffer = (c_uint8 * count)()
        self.vc.vc_uart_dtr_history(device, channel, buffer, count)
        return list(buffer)

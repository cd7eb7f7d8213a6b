"""Careless arguments: refused before anything reaches the cable, and the largest good ones
accepted whole."""

import ctypes
import math
from pathlib import Path

import pytest
import kestrellink
from kestrellink import _engine, _jtag_engine, clock

FLASH_SIZE = 1 << 20  # the default scenario's flash (JEDEC capacity byte 0x14)


def uart_read(args):
    def operation(cable):
        with cable.uart() as port:
            port.read(*args)
    return operation


def uart_write(data):
    def operation(cable):
        with cable.uart() as port:
            port.write(data)
    return operation


@pytest.mark.parametrize("operation, error, message", [
    pytest.param(lambda c: c.spi.write(0, 123), TypeError, "bytes-like", id="write an int"),
    pytest.param(lambda c: c.spi.write(-1, b"a"), ValueError, "address", id="negative address"),
    pytest.param(lambda c: c.spi.write(1 << 64, b"a"), ValueError, "address", id="huge address"),
    pytest.param(lambda c: c.spi.write(0.0, b"a"), TypeError, "int", id="float address"),
    pytest.param(lambda c: c.spi.erase(0x10000), ValueError, "--chip", id="address, no size"),
    pytest.param(lambda c: c.spi.transfer(b"\x9f", 1.5), TypeError, "int", id="float count"),
    pytest.param(lambda c: c.spi.write(0, b"a", unprotect="no"), TypeError, "unprotect",
                 id="a flag as text"),
    pytest.param(lambda c: c.spi.write(0, b""), ValueError, "empty", id="nothing to write"),
    pytest.param(lambda c: c.spi.read(0, 1, clock=0), ValueError, "clock", id="clock 0"),
    pytest.param(lambda c: c.spi.write(0, b"a", clock="7M"), ValueError, "6 MHz",
                 id="clock above the cable's"),
    pytest.param(lambda c: c.spi.erase(0, 1, clock=-1e6), ValueError, "clock", id="negative clock"),
    pytest.param(lambda c: c.spi.verify(0, b"a", clock="fast"), ValueError, "clock",
                 id="clock as junk"),
    pytest.param(lambda c: c.spi.read(0, 1, clock=math.nan), ValueError, "clock", id="clock nan"),
    pytest.param(lambda c: c.spi.read(0, 1, clock=10**400), ValueError, "clock",
                 id="clock past a float"),
    pytest.param(lambda c: c.spi.read(0, 1, clock=True), TypeError, "clock", id="clock bool"),
    pytest.param(lambda c: c.set_clock(0x10000), ValueError, "divisor", id="divisor"),
    pytest.param(lambda c: c.set_clock("5"), TypeError, "int", id="divisor as str"),
    pytest.param(lambda c: c.jtag.shift_dr(0, 0, 0), ValueError, "bits", id="no bits"),
    pytest.param(lambda c: c.jtag.idle(0), ValueError, "clocks", id="no clocks"),
    # A file is parsed whole before anything is clocked, and refused in kestrel's words.
    pytest.param(lambda c: c.jtag.play(b"STATE RESET;\nSDR 8 TDI (1FF);"), ValueError,
                 r"^the data:2:\d+: ", id="svf value wider than its scan"),
    pytest.param(lambda c: c.jtag.play(b"PIOMAP (IN A);"), kestrellink.UnavailableError,
                 "PIOMAP is not supported", id="svf the cable cannot play"),
    pytest.param(lambda c: c.jtag.play(b"\x12\x01", "xsvf"), ValueError, "without XCOMPLETE",
                 id="xsvf cut short"),
    pytest.param(lambda c: c.jtag.play(b"", "bsdl"), ValueError, "kind", id="play kind"),
    pytest.param(lambda c: c.jtag.play(b"", keep_going="no"), TypeError, "keep_going",
                 id="keep_going as text"),
    pytest.param(lambda c: setattr(c.jtag, "ir_lengths", [2**32 - 6, 20]) or c.jtag.scan(),
                 ValueError, "2 to 1024", id="ir lengths whose sum wraps"),
    pytest.param(lambda c: setattr(c.jtag, "ir_lengths", [2**32 + 6, 8]) or c.jtag.scan(),
                 ValueError, "instruction length", id="ir length past 32 bits"),
    pytest.param(lambda c: c.gpio.pulse_gpiol1(-1), ValueError, "low_ms", id="negative ms"),
    pytest.param(lambda c: c.uart(0), ValueError, "baud", id="baud 0"),
])
def test_bad_arguments_raise_before_the_cable_sees_them(cable, virtual_cable, operation, error,
                                                        message):
    assert cable.spi.size == FLASH_SIZE  # read once, before the log is cleared
    before = virtual_cable.flash_read(0, FLASH_SIZE)
    virtual_cable.clear_call_log()
    with pytest.raises(error, match=message):
        operation(cable)
    assert [call.entry for call in virtual_cable.call_log()] == []
    assert virtual_cable.flash_read(0, FLASH_SIZE) == before


@pytest.mark.parametrize("fields, message", [
    (None, "no JTAG job given"), ({"version": 2}, "engine version 2"), ({"verb": 4}, "job 4"),
    ({"verb": 2, "data_size": 5}, "no bytes given"),
    ({"verb": 1, "ir_length_count": 0xFFFFFFFF}, "at most 64 instruction lengths")])
def test_the_c_interface_refuses_a_careless_jtag_job(lib, fields, message):
    engine = _jtag_engine.engine_for(lib)
    job = fields and ctypes.byref(_jtag_engine.JtagJob(**{"version": 1, **fields}))
    with pytest.raises(ValueError, match=message):
        _engine.run(engine.kestrel_jtag_check, job)


@pytest.mark.parametrize("operation, error", [
    (uart_read((-1,)), ValueError), (uart_read((1, math.nan)), ValueError),
    (uart_read((1, -1.0)), ValueError), (uart_read((1, "5")), TypeError),
    (uart_write(7), TypeError), (uart_write("text"), TypeError)])
def test_bad_serial_arguments(cable, virtual_cable, operation, error):
    with pytest.raises(error):
        operation(cable)
    assert virtual_cable.uart_received() == b""


@pytest.mark.parametrize("options, error", [
    ({"divisor": 0x10000}, ValueError), ({"divisor": 5.0}, TypeError),
    ({"description": b"ZV7300LNK"}, TypeError), ({"serial": None}, TypeError),
    ({"description": "ZV\0"}, ValueError)])
def test_bad_open_arguments_open_nothing(virtual_cable, options, error):
    with pytest.raises(error):
        kestrellink.Cable.open(**options)
    assert virtual_cable.call_log("FT_OpenEx") == []


def clock_rows():
    """kestrel's table of clock texts and the divisor each becomes, or None: refused."""
    path = Path(__file__).parents[2] / "tests" / "tools" / "clock_rows.txt"
    for line in path.read_text().splitlines():
        if line and not line.startswith("#"):
            text, divisor = line.split("\t")
            yield pytest.param(text, None if divisor == "refused" else int(divisor), id=text)


@pytest.mark.parametrize("text, divisor", clock_rows())
def test_clock_texts_follow_kestrels_rule(text, divisor):
    if divisor is None:
        with pytest.raises(ValueError, match="not a clock the cable can run"):
            clock.clock_hz(text)
    else:
        assert clock.divisor_for(clock.clock_hz(text)) == divisor


def test_the_largest_values_are_taken_whole(cable, virtual_cable):
    last = bytes([0x5A])
    cable.spi.write(FLASH_SIZE - 1, last)  # the last byte of the flash
    assert cable.spi.read(FLASH_SIZE - 1, 1) == last
    assert virtual_cable.flash_read(0, 16) != b"\x5a" + b"\xff" * 15  # nothing wrapped to 0
    assert cable.spi.read(FLASH_SIZE, 0) == b""
    virtual_cable.clear_call_log()
    cable.set_clock(0xFFFF)
    assert virtual_cable.written(0).hex(" ") == "86 ff ff"


@pytest.mark.parametrize("name, largest, result", [
    ("FTDI_SetClk", (0xFFFFFFFF,), 17),  # reaches the library, which refuses it
    ("JTAG_WriteTMS", (0xFF, 0x01), 4),
    ("Reload_Driver", (0xFFFF, 0xFFFF), 0),
    ("ChkDLLVer", (0xFFFFFFFF,), 2)])
def test_raw_integers_up_to_their_c_type(mpsse, virtual_cable, name, largest, result):
    assert getattr(mpsse, name)(*largest) == result
    one_more = tuple(v + 1 if i == 0 else v for i, v in enumerate(largest))
    virtual_cable.clear_call_log()
    with pytest.raises(ValueError):
        getattr(mpsse, name)(*one_more)
    assert virtual_cable.call_log() == []


def flash_scenario(size):
    return f'[[device]]\ndescription = "ZV7300LNK"\n[device.flash]\nsize = {size}\n'


@pytest.mark.parametrize("virtual_cable, size", [
    pytest.param(flash_scenario(1 << 18), 1 << 18, id="256 KiB"),
    pytest.param(flash_scenario(3 << 12), 3 << 12, id="no power of two: from its SFDP table"),
], indirect=["virtual_cable"])
def test_the_flash_size_is_the_one_it_announces(cable, virtual_cable, size):
    assert cable.spi.size == size
    # A larger size would wrap an address past the end around to the first sector.
    with pytest.raises(ValueError, match="larger than the flash: its SFDP table announces"):
        cable.spi.size = size * 2
    with pytest.raises(ValueError, match=f"passes the end of the .* flash \\({size} bytes"):
        cable.spi.write(size - 1, b"ab")
    assert cable.spi.read(size - 2, 2) == virtual_cable.flash_read(size - 2, 2)


def test_a_missing_or_wrong_library_path_says_so(tmp_path, monkeypatch):
    with pytest.raises(kestrellink.LibraryNotFoundError, match="no such file or folder"):
        kestrellink.load(tmp_path / "nowhere")
    monkeypatch.setenv("KESTRELLINK_LIBRARY", str(tmp_path))
    with pytest.raises(kestrellink.LibraryNotFoundError, match=r"\$KESTRELLINK_LIBRARY"):
        kestrellink.load()
    (tmp_path / "libkestrellink.so.1").write_text("not a library")
    with pytest.raises(kestrellink.LibraryNotFoundError, match="libkestrellink.so.1: "):
        kestrellink.load()


def test_a_library_that_is_not_kestrellink_is_refused(virtual_cable):
    with pytest.raises(kestrellink.LibraryNotFoundError, match="lacks LoadD2XXDLL"):
        kestrellink.load(virtual_cable.path)

"""Fixtures over the virtual_cable fixture that the package's pytest plugin provides."""

import pathlib

import pytest

import kestrellink

REPO = pathlib.Path(__file__).resolve().parents[2]
CABLE = "ZV7300LNK"


@pytest.fixture
def lib(virtual_cable):
    """The library with the virtual cable loaded as its vendor library."""
    library = kestrellink.load()
    assert library.LoadD2XXDLL() == 0
    yield library
    library.CloseDevice()
    library.UnLoadD2XXDLL()


@pytest.fixture
def mpsse(lib, virtual_cable):
    """The library after OpenDevice, with the call log and channel captures cleared."""
    assert lib.OpenDevice(CABLE, "", 5) == 0
    virtual_cable.clear_call_log()
    return lib


@pytest.fixture
def uart(lib, virtual_cable):
    """The library after OpenDevice4 at 115200 baud: channel B current."""
    assert lib.OpenDevice4(CABLE, "", 115200) == 0
    virtual_cable.clear_call_log()
    return lib


@pytest.fixture
def cable(virtual_cable):
    with kestrellink.Cable.open() as opened:
        yield opened

"""Error paths: what raises, with which export and code."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import kestrellink
from kestrellink import _result_codes as rc
from kestrellink._result_codes import MEANINGS

MISMATCH = (pathlib.Path(__file__).parents[2] / "examples/svf/mismatch.svf").read_bytes()


@pytest.mark.parametrize("virtual_cable, options, fault, nth, code", [
    pytest.param("", {}, None, 1, rc.OPEN_NO_DEVICE, id="no device"),
    pytest.param(None, {"description": "ZV7300QRB"}, None, 1, rc.OPEN_NO_MATCH, id="no match"),
    pytest.param(None, {}, "FT_ResetDevice", 1, rc.OPEN_CHANNEL_A_RESET_FAILED,
                 id="reset of channel A"),
    pytest.param(None, {}, "FT_GetQueueStatus", 1, rc.OPEN_CHANNEL_A_POLL_FAILED,
                 id="first poll of channel A"),
    pytest.param(None, {}, "FT_SetLatencyTimer", 1, rc.OPEN_CHANNEL_A_LATENCY_FAILED,
                 id="latency timer"),
    pytest.param(None, {}, "FT_Write", 3, rc.OPEN_CLOCK_FAILED, id="clock command"),
    pytest.param(None, {}, "FT_OpenEx", 2, rc.OPEN_CHANNEL_B_FAILED, id="channel B"),
], indirect=["virtual_cable"])
def test_a_failed_open_releases_what_it_took(virtual_cable, options, fault, nth, code):
    if fault:
        virtual_cable.fault_fail(fault, nth=nth)
    with pytest.raises(kestrellink.CableError) as raised:
        kestrellink.Cable.open(**options)
    assert (raised.value.export, raised.value.code) == ("OpenDevice", code)
    assert raised.value.detail == MEANINGS["OpenDevice"][code]
    if code == rc.OPEN_NO_DEVICE:
        return
    assert [virtual_cable.channel(0, c).open for c in (0, 1)] == [0, 0]
    with kestrellink.Cable.open() as cable:  # nothing is left held that the next open needs
        assert len(cable.jtag.idcodes()) == 2


@pytest.mark.parametrize("fault, nth, code", [
    ("FT_ResetDevice", 1, rc.OPEN4_CHANNEL_A_RESET_FAILED),
    ("FT_GetQueueStatus", 1, rc.OPEN4_CHANNEL_A_POLL_FAILED),
    ("FT_OpenEx", 2, rc.OPEN4_CHANNEL_B_FAILED),
    ("FT_ResetDevice", 2, rc.OPEN4_CHANNEL_B_RESET_FAILED),
    ("FT_SetFlowControl", 2, rc.OPEN4_CHANNEL_B_FLOW_FAILED)])
def test_a_failed_uart_open_returns_to_mpsse(cable, virtual_cable, fault, nth, code):
    virtual_cable.fault_fail(fault, nth=nth)
    with pytest.raises(kestrellink.CableError) as raised:
        cable.uart()
    assert (raised.value.export, raised.value.code) == ("OpenDevice4", code)
    assert virtual_cable.channel(0, 0).bit_mode == 2 and len(cable.jtag.idcodes()) == 2
    with cable.uart() as port:
        port.write(b"again")
        assert port.read(5, timeout=2) == b"again"


@pytest.mark.parametrize("setup, operation, export, code", [
    (lambda vc: vc.fault_fail("FT_Write", persistent=True), lambda c: c.spi.jedec_id(),
     "GPIO2_low2", rc.TRANSFER_FAILED),
    (lambda vc: vc.unplug(), lambda c: c.jtag.idcodes(), "JTAG_Send2FTDI", rc.TRANSFER_FAILED),
    (lambda vc: vc.fault_fail("FT_Read", nth=2, persistent=True), lambda c: c.jtag.play(
        MISMATCH + b"RUNTEST 0.01 SEC; SDR 64 TDI (0) TDO (12345677 87654321);", keep_going=True),
     "JTAG_ReadPort", rc.TRANSFER_FAILED),  # after a mismatch played on: the export, not it
    (lambda vc: vc.uart_peer("sink"), lambda c: c.uart().read(1, timeout=0),
     "Read_FILE_UART_2", rc.RECEIVE_TIMED_OUT_EMPTY),
    (lambda vc: vc.fault_fail("FT_SetDtr"), lambda c: c.uart().set_dtr(True), "Set_Dtr",
     rc.UART_FAILED),
])
@pytest.mark.filterwarnings("ignore::kestrellink.CableMessage")
def test_failed_operations_raise(cable, virtual_cable, setup, operation, export, code):
    setup(virtual_cable)
    with pytest.raises(kestrellink.CableError) as raised:
        operation(cable)
    assert (raised.value.export, raised.value.code) == (export, code)


def test_a_bad_scenario_names_its_line(virtual_cable):
    with pytest.raises(kestrellink.ScenarioError, match=r"^scenario:4: .*ir_length"):
        virtual_cable.load_scenario('[[device]]\ndescription = "X"\n[[device.jtag]]\n'
                                    'ir_length = 40\nidcode = 1\n')


def test_a_missing_library_is_reported(tmp_path):
    with pytest.raises(kestrellink.LibraryNotFoundError, match="libkestrellink"):
        kestrellink.load(tmp_path)


def run_python(script, **environment):
    """Runs a script in a fresh process (which vendor library a process holds cannot be undone)."""
    run = subprocess.run([sys.executable, "-c", script], env=dict(os.environ, **environment),
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    return run.stdout.splitlines()


@pytest.mark.parametrize("impostor, first, first_says, then_says", [
    pytest.param(False, "kestrellink.Cable.open()",
                 "LoadD2XXDLL returned 1: the vendor library could not be loaded (libftd2xx.so)",
                 "ok", id="no vendor library, then the virtual cable"),
    pytest.param(True, "kestrellink.Cable.open()", "LoadD2XXDLL returned 2: the vendor library "
                 "lacks the entry point FT_ListDevices", "ok", id="a vendor library lacking one"),
    pytest.param(True, "kestrellink.load().LoadD2XXDLL()", "2", "already loaded",
                 id="another vendor library first")])
def test_vendor_library_order(tmp_path, impostor, first, first_says, then_says):
    if impostor:  # a library that is not the virtual cable, under the vendor library's name
        shutil.copy(kestrellink.load().path, tmp_path / "libftd2xx.so")
    lines = run_python(
        f"import kestrellink\n"
        f"try:\n    print({first})\nexcept kestrellink.CableError as e:\n    print(e)\n"
        f"try:\n    kestrellink.VirtualCable()\n    kestrellink.Cable.open().close()\n"
        f"    print('ok')\nexcept kestrellink.KestrelLinkError as e:\n    print(e)\n",
        LD_LIBRARY_PATH=str(tmp_path) if impostor else "")
    assert lines[0].startswith(first_says) and then_says in lines[1], lines


def test_installed_layout_is_found_without_settings(tmp_path, virtual_cable):
    libdir = tmp_path / "lib"
    (libdir / "kestrellink/virtual-cable").mkdir(parents=True)
    shutil.copy(kestrellink.load().path, libdir / "libkestrellink.so.1")
    shutil.copy(virtual_cable.path, libdir / "kestrellink/virtual-cable/libftd2xx.so")
    lines = run_python("import kestrellink\nprint(kestrellink.VirtualCable().path)\n"
                       "print(kestrellink.load().path)\n",
                       LD_LIBRARY_PATH=str(libdir), KESTRELLINK_LIBRARY="",
                       KESTRELLINK_VIRTUAL_CABLE="")
    assert lines == [str(libdir / "kestrellink/virtual-cable/libftd2xx.so"),
                     str(libdir / "libkestrellink.so.1")]

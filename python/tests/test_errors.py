"""Error paths: what raises, with which export and code."""

import os
import shutil
import subprocess
import sys

import pytest

import kestrellink
from kestrellink import _result_codes as rc
from kestrellink._result_codes import MEANINGS


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
    (lambda vc: vc.unplug(), lambda c: c.jtag.idcodes(), "JTAG_WriteTDI", rc.TRANSFER_FAILED),
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


def flash_scenario(flash):
    return f'[[device]]\ndescription = "ZV7300LNK"\n[device.flash]\n{flash}\n'


def sized(operation):
    """The operation with the flash's size set, so that nothing needs the JEDEC ID's."""
    def run(cable):
        cable.spi.size = 1 << 20
        return operation(cable)
    return run


PROTECTED = flash_scenario("status = [0x20]")  # BP3 alone, of a maker whose table is unknown
ABSENT = flash_scenario("present = false")
ZERO_ID = flash_scenario('jedec_id = "00 00 00"')
FLASH_REFUSALS = [  # scenario, operation, what the refusal says (None: no refusal)
    pytest.param(PROTECTED, lambda c: c.spi.write(0x1010, b"x"),
                 "0x001000 to 0x001fff overlaps the protected range", id="write"),
    pytest.param(PROTECTED, lambda c: c.spi.write(0x1010, b"x", erase=False),
                 "0x001010 to 0x001010 ", id="write without erase"),
    pytest.param(PROTECTED, lambda c: c.spi.erase(0xFF000, 0x1000), "0x0ff000 to 0x0fffff ",
                 id="erase"),
    pytest.param(PROTECTED, lambda c: c.spi.erase(), "a chip erase .*status register 1 0x20",
                 id="chip erase"),
    pytest.param(flash_scenario('part = "W25Q80DV"\nstatus = [0x00, 0x40]'),
                 lambda c: c.spi.write(0, b"\0", erase=False), "status register 2 0x40",
                 id="the complement of no block"),
    pytest.param(flash_scenario('part = "W25Q128JV"\nstatus = [0x60]'),  # 16 MiB: BP0-BP2
                 lambda c: c.spi.write(0, b"\0", verify=True), None,
                 id="top-bottom and sector bits alone"),
    pytest.param(flash_scenario('jedec_id = "EF 40 14"'),  # 0x35 reads all ones: SR1 alone
                 lambda c: c.spi.write(0, b"\0", verify=True), None,
                 id="status register 1 alone"),
    pytest.param(ABSENT, lambda c: c.spi.read(0, 16), "no flash answers", id="read, no flash"),
    pytest.param(ABSENT, sized(lambda c: c.spi.read(0, 16)), "reads ff ff ff",
                 id="read, no flash, size given"),
    pytest.param(ABSENT, sized(lambda c: c.spi.verify(0, b"\xff")), "ff ff ff",
                 id="verify, no flash"),
    pytest.param(ZERO_ID, sized(lambda c: c.spi.write(0, b"x")), "00 00 00", id="write, zeros"),
    pytest.param(ZERO_ID, sized(lambda c: c.spi.erase(0, 1)), "00 00 00", id="erase, zeros"),
    pytest.param(ZERO_ID, lambda c: c.spi.erase(), "00 00 00", id="chip erase, zeros"),
]


@pytest.mark.parametrize("virtual_cable, operation, refusal", FLASH_REFUSALS,
                         indirect=["virtual_cable"])
def test_a_flash_that_is_protected_or_absent_is_refused(virtual_cable, operation, refusal):
    before = flash_contents(virtual_cable)
    with kestrellink.Cable.open() as cable:
        if refusal is None:
            assert operation(cable).bytes_programmed == 1
            return
        with pytest.raises(kestrellink.TargetError, match=refusal):
            operation(cable)
    assert flash_contents(virtual_cable) == before  # nothing erased or programmed


def flash_contents(virtual_cable):
    try:
        return virtual_cable.flash_read(0, 1 << 20)
    except ValueError:  # no flash
        return None


@pytest.mark.parametrize("virtual_cable", [flash_scenario('part = "W25Q80DV"\nstatus = [0x1C]')],
                         indirect=True, ids=["all blocks protected"])
@pytest.mark.parametrize("operation, error", [
    pytest.param(lambda c: c.spi.erase(0x1000, 1), "expected 0xff, .*the erase did not take",
                 id="erase"),
    pytest.param(lambda c: c.spi.write(0x1000, b"\0" * 16, erase=False),
                 "the program did not take", id="program"),
    pytest.param(lambda c: c.spi.erase(), "the erase did not take", id="chip erase")])
def test_a_command_the_flash_ignores_fails_the_operation(monkeypatch, virtual_cable, operation,
                                                          error):
    # A flash whose status registers do not show what keeps it from erasing or programming.
    monkeypatch.setattr(kestrellink.Spi, "_writable", lambda spi, touched: None)
    before = flash_contents(virtual_cable)
    with kestrellink.Cable.open() as cable:
        with pytest.raises(kestrellink.VerifyError, match=error):
            operation(cable)
    assert flash_contents(virtual_cable) == before

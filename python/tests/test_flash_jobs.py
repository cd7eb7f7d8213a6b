"""The flash jobs through Python and through kestrel --json on the same scenario: one engine, so
the same fields, the same refusal in the same words with the same exit code, and the flash left
as kestrel leaves it."""

import ctypes
import json
import os
import signal
import subprocess
import warnings
from pathlib import Path

import pytest
from conftest import REPO

import kestrellink
from kestrellink import _engine

LINE = 1 << 24  # where 3-byte addresses end
ACROSS = bytes((i * 7 + 3) & 0xFF for i in range(0x3000))  # 0xFFF000 to 0x1001FFF


def kestrel_path():
    library = os.environ.get("KESTRELLINK_LIBRARY")
    build = Path(library).parent if library else REPO / "build"
    return build / "tools" / "kestrel"


def scenario(flash):
    return f'[[device]]\ndescription = "ZV7300LNK"\n[device.flash]\n{flash}\n'


W25Q256 = scenario('part = "W25Q256JV"')
W25Q256_PROTECTED = scenario('part = "W25Q256JV"\nstatus = [0x3C]')  # BP0-BP3: all of it
DEFAULT_PROTECTED = scenario("status = [0x20]")  # BP3 alone, of a maker whose table is unknown
ABSENT = scenario("present = false")
ZERO_ID = scenario('jedec_id = "00 00 00"')
MIB = 1 << 20
UNPLUGGED = '[[fault]]\ntype = "unplug"\nentry = "FT_Write"\nnth = 40\n'  # mid-write

JOBS = [  # scenario, kestrel's spi arguments ({data}: a file of `data`), Python's call, data
    pytest.param(scenario(""), ["id"], lambda c, d: c.spi.identify(), b"", id="identify"),
    pytest.param(scenario(""), ["erase", "--chip"], lambda c, d: c.spi.erase(), b"",
                 id="chip erase"),
    pytest.param(scenario(""), ["write", "{data}", "--address", "0x10F0"],
                 lambda c, d: c.spi.write(0x10F0, d), b"A" * 10 + b"\xff" * 300 + b"B" * 10,
                 id="write, a page skipped"),
    pytest.param(W25Q256, ["write", "{data}", "--address", str(LINE - 0x1000)],
                 lambda c, d: c.spi.write(LINE - 0x1000, d), ACROSS, id="write across 16 MiB"),
    pytest.param(W25Q256, ["erase", "--address", str(LINE - 1), "--size", "2"],
                 lambda c, d: c.spi.erase(LINE - 1, 2), b"", id="erase across 16 MiB"),
    pytest.param(W25Q256_PROTECTED, ["write", "{data}", "--address", str(LINE - 0x1000)],
                 lambda c, d: c.spi.write(LINE - 0x1000, d), ACROSS, id="protected 256 Mbit"),
    pytest.param(W25Q256_PROTECTED, ["erase", "--chip"], lambda c, d: c.spi.erase(), b"",
                 id="protected chip erase"),
    pytest.param(DEFAULT_PROTECTED, ["write", "{data}", "--address", "0x1010", "--no-erase"],
                 lambda c, d: c.spi.write(0x1010, d, erase=False), b"x",
                 id="protected, no erase"),
    pytest.param(DEFAULT_PROTECTED, ["write", "{data}", "--unprotect"],
                 lambda c, d: c.spi.write(0, d, unprotect=True), b"unprotected",
                 id="unprotect for the job"),
    pytest.param(scenario('part = "W25Q80DV"\nstatus = [0x00, 0x40]'),
                 ["write", "{data}", "--no-erase"], lambda c, d: c.spi.write(0, d, erase=False),
                 b"\0", id="the complement of no block"),
    pytest.param(ABSENT, ["read", "{out}", "--size", "16"], lambda c, d: c.spi.read(0, 16), b"",
                 id="read, no flash"),
    pytest.param(ZERO_ID, ["erase", "--chip"], lambda c, d: c.spi.erase(), b"",
                 id="chip erase, zeros"),
    pytest.param(scenario(""), ["read", "{out}", "--address", str(MIB - 1), "--size", "2"],
                 lambda c, d: c.spi.read(MIB - 1, 2), b"", id="read past the end"),
    pytest.param(scenario(""), ["verify", "{data}"], lambda c, d: c.spi.verify(0, d), b"\x5a",
                 id="verify differs"),
    pytest.param(W25Q256_PROTECTED + UNPLUGGED, ["write", "{data}", "--unprotect", "--address",
                 str(LINE - 0x1000)], lambda c, d: c.spi.write(LINE - 0x1000, d, unprotect=True),
                 ACROSS, id="unplugged, the protection cleared"),
]


def run_kestrel(tmp_path, flash, arguments, data):
    (tmp_path / "scenario.toml").write_text(flash)
    (tmp_path / "data.bin").write_bytes(data)
    arguments = [a.format(data=tmp_path / "data.bin", out=tmp_path / "out.bin")
                 for a in arguments]
    done = subprocess.run([str(kestrel_path()), "--json", "--virtual", str(tmp_path / "scenario.toml"),
                           "--state", str(tmp_path / "state.bin"), "spi", *arguments],
                          capture_output=True, text=True, timeout=300)
    return json.loads(done.stdout)


@pytest.mark.parametrize("flash, arguments, operation, data", JOBS)
def test_python_and_kestrel_run_the_same_job(tmp_path, flash, arguments, operation, data):
    document = run_kestrel(tmp_path, flash, arguments, data)
    with kestrellink.VirtualCable(flash), kestrellink.Cable.open() as cable, \
            warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", kestrellink.JobNote)
        try:
            result = operation(cable, data)
        except kestrellink.KestrelLinkError as error:
            raised = error
        except ValueError as error:
            raised = error
        else:
            raised = None
    notes = [str(w.message) for w in caught if w.category is kestrellink.JobNote]
    assert notes == document["warnings"]  # kestrel's "note:" lines, in its --json document too
    if raised is None:
        assert document["exit_code"] == 0, document
        fields = result.to_dict()
        assert fields == {k: document["fields"][k] for k in fields}, document
    else:
        call = document["library_call"] or {}  # the export that failed the job, not a later one
        assert (kestrellink.exit_code(raised), document["errors"][-1] in str(raised),
                getattr(raised, "export", None)) == \
            (document["exit_code"], True, call.get("export")), (str(raised), document)


@pytest.mark.parametrize("virtual_cable", [W25Q256], indirect=True)
def test_a_32_mib_flash_written_across_16_mib_reads_back(virtual_cable):
    with kestrellink.Cable.open() as cable:
        before = cable.spi.read(LINE - 0x2000, 0x5000)
        cable.spi.write(LINE - 0x1000, ACROSS)
        assert cable.spi.read(LINE - 0x1000, len(ACROSS)) == ACROSS
        after = cable.spi.read(LINE - 0x2000, 0x5000)
    assert virtual_cable.flash_read(LINE - 0x1000, len(ACROSS)) == ACROSS
    assert after[:0x1000] == before[:0x1000] and after[0x4000:] == before[0x4000:]


@pytest.mark.parametrize("virtual_cable", [W25Q256_PROTECTED], indirect=True)
def test_a_stop_asked_before_a_write_begins_stops_it_at_once(virtual_cable):
    """A stop the caller asks for while the flash is probed (a ^C then) is heard by the write."""
    before = virtual_cable.flash_read(LINE - 0x1000, len(ACROSS))
    with kestrellink.Cable.open() as cable:
        job = _engine.SpiJob(version=_engine.VERSION, verb=_engine.SPI_WRITE, unprotect=1,
                             address=LINE - 0x1000, data=ACROSS, data_size=len(ACROSS),
                             divisor=cable.divisor)
        stop = _engine.EventFn(lambda context, kind, text: 1)  # from the first event on
        engine = cable.spi._engine()
        newer = _engine.SpiJob(version=_engine.VERSION + 1)  # fields this engine cannot know
        assert engine.kestrel_spi_check(ctypes.byref(newer), stop, None) == 2
        assert engine.kestrel_spi_run(ctypes.byref(job), stop, None) == 130
        assert cable.spi.status() == 0x3C  # the protection cleared for the job is back
    assert virtual_cable.flash_read(LINE - 0x1000, len(ACROSS)) == before


@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM])
@pytest.mark.parametrize("virtual_cable", [W25Q256_PROTECTED], indirect=True)
def test_a_signal_stops_a_write_at_a_safe_point_then_runs_its_handler(virtual_cable, number):
    """^C, or SIGTERM to a handler that only takes note, while a write with unprotect=True
    starts: nothing erased, the protection back, and the handler run once the job has stopped."""
    before = virtual_cable.flash_read(LINE - 0x1000, len(ACROSS))
    noted, sent = [], []
    previous = signal.signal(signal.SIGTERM, lambda *args: noted.append(args[0]))
    try:
        with kestrellink.Cable.open() as cable:
            with pytest.raises(KeyboardInterrupt):
                cable.spi.write(LINE - 0x1000, ACROSS, unprotect=True, progress=lambda event:
                                sent or sent.append(signal.raise_signal(number)))
            assert cable.spi.status() == 0x3C
    finally:
        signal.signal(signal.SIGTERM, previous)
    assert virtual_cable.flash_read(LINE - 0x1000, len(ACROSS)) == before
    assert noted == [number] * (number == signal.SIGTERM)

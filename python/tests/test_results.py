"""Result objects of whole operations, checked against the virtual targets and the fields kestrel
--json gives for the same thing; progress events; the exit-code classes."""

import json
import os
import pickle
import subprocess

import jsonschema
import pytest
from conftest import REPO

import kestrellink
from kestrellink import _result_codes as rc
from kestrellink.progress import Reporter

SCHEMA = json.loads((REPO / "docs/kestrel-result.schema.json").read_text())
FIELDS = jsonschema.Draft202012Validator({"$ref": "#/$defs/fields", "$defs": SCHEMA["$defs"]})
# 10 bytes, a page of 0xFF that needs no program, 10 bytes: from 0x10F0, over three pages.
IMAGE = b"A" * 10 + b"\xff" * 300 + b"B" * 10


def uart_round_trip(cable):
    with cable.uart() as port:
        sent = port.write(b"ping")
        return sent, port.read(4, timeout=2)


RESULTS = [  # operation on the default scenario, what its to_dict() gives
    ("scan", lambda c: c.jtag.scan(),
     {"device_count": 2, "devices": [{"index": 0, "idcode": "0x12345677", "ir_length": 6},
                                     {"index": 1, "idcode": "0x87654321", "ir_length": 8}]}),
    ("read", lambda c: c.spi.read(0x1F0, 600), {"bytes_read": 600}),
    ("uart send", lambda c: uart_round_trip(c)[0], {"bytes_sent": 4}),
    ("uart receive", lambda c: uart_round_trip(c)[1], {"bytes_received": 4}),
]


@pytest.mark.parametrize("operation, fields", [r[1:] for r in RESULTS],
                         ids=[r[0] for r in RESULTS])
def test_results_carry_the_fields_of_kestrel_json(cable, operation, fields):
    result = operation(cable)
    assert result.to_dict() == fields
    assert [e.message for e in FIELDS.iter_errors(result.to_dict())] == []
    assert pickle.loads(pickle.dumps(result)) == result  # run_cables hands results over


def test_results_stay_usable_as_before(cable, virtual_cable):
    scan = cable.jtag.scan()
    assert list(scan.idcodes) == cable.jtag.idcodes() and scan.ir_lengths == (6, 8)
    data = cable.spi.read(0x1F0, 600)
    assert data == virtual_cable.flash_read(0x1F0, 600) and isinstance(data, bytes)
    assert type(pickle.loads(pickle.dumps(data))) is kestrellink.FlashData
    cable.spi.write(0x10F0, IMAGE)
    assert virtual_cable.flash_read(0x10F0, len(IMAGE)) == IMAGE
    virtual_cable.flash_write(0x1105, b"\0")
    with pytest.raises(kestrellink.VerifyError) as raised:
        cable.spi.verify(0x10F0, IMAGE)
    assert (raised.value.address, raised.value.expected, raised.value.actual) == (0x1105, 0xFF, 0)
    assert kestrellink.exit_code(raised.value) == 1


# Capture-IR 01 then 000101 (6 bits) cuts into two registers at bit 2 or at bit 6.
AMBIGUOUS_CHAIN = """
[[device]]
description = "ZV7300LNK"
jtag = [{ ir_length = 2, idcode = 0x0BA00477 },
        { ir_length = 6, idcode = 0x12345677, ir_capture = 0x05 }]
"""
# An IDCODE with a leading zero digit, and a device without one (BYPASS after reset).
NO_IDCODE_CHAIN = """
[[device]]
description = "ZV7300LNK"
jtag = [{ ir_length = 4, idcode = 0x0BA00477 },
        { ir_length = 5, instructions = [{ opcode = 0x02, register = "data", length = 8 }] }]
"""
SCANS = [  # scenario, the devices scan().to_dict() gives, its idcodes and ir_lengths, the right
    # lengths to give (ir_lengths, as kestrel's --ir-lengths)
    pytest.param(AMBIGUOUS_CHAIN, [{"index": 0, "idcode": "0x0BA00477", "ir_length": None},
                                   {"index": 1, "idcode": "0x12345677", "ir_length": None}],
                 (0x0BA00477, 0x12345677), None, (2, 6), id="Capture-IR 01 000101 splits two ways"),
    pytest.param(NO_IDCODE_CHAIN, [{"index": 0, "idcode": "0x0BA00477", "ir_length": 4},
                                   {"index": 1, "idcode": None, "ir_length": 5}],
                 (0x0BA00477, 0), (4, 5), (4, 5), id="a device without IDCODE"),
]


@pytest.mark.parametrize("virtual_cable, devices, idcodes, ir_lengths, given", SCANS,
                         indirect=["virtual_cable"])
def test_scans_of_other_chains(cable, devices, idcodes, ir_lengths, given):
    scan = cable.jtag.scan()
    assert scan.to_dict() == {"device_count": len(devices), "devices": devices}
    assert [e.message for e in FIELDS.iter_errors(scan.to_dict())] == []
    assert (scan.idcodes, scan.ir_lengths) == (idcodes, ir_lengths)
    cable.jtag.ir_lengths = list(given)
    assert cable.jtag.scan().ir_lengths == given


# The JTAG jobs run in the engine kestrel runs them in: the same fields and exit code.
KESTREL = REPO / "build/tools/kestrel"
CHAIN, SVF = str(REPO / "examples/scenarios/jtag-chain.toml"), REPO / "examples/svf"
JTAG_JOBS = [  # scenario, the operation, the kestrel command, the phases of its progress
    pytest.param(CHAIN, lambda c, p: c.jtag.scan(), "jtag idcode", [], id="scan"),
    pytest.param(CHAIN, lambda c, p: c.jtag.play((SVF / "idcode-chain.svf").read_bytes(),
                                                 progress=p),
                 f"jtag svf {SVF}/idcode-chain.svf", ["playing"], id="svf"),
    pytest.param(None, lambda c, p: c.jtag.play((SVF / "idcode.xsvf").read_bytes(), "xsvf"),
                 f"jtag xsvf {SVF}/idcode.xsvf", [], id="xsvf"),
    pytest.param(None, lambda c, p: c.jtag.play((SVF / "mismatch.svf").read_bytes(),
                                                keep_going=True),
                 f"jtag svf --continue {SVF}/mismatch.svf", [], id="TDO mismatch, played on"),
    pytest.param(CHAIN, lambda c, p: c.jtag.play((SVF / "idcode.xsvf").read_bytes(), "xsvf",
                                                keep_going=True),
                 f"jtag xsvf --continue {SVF}/idcode.xsvf", [], id="XSVF mismatch at an offset"),
]


@pytest.mark.parametrize("virtual_cable, operation, command, phases", JTAG_JOBS,
                         indirect=["virtual_cable"])
def test_jtag_jobs_give_the_fields_of_kestrel_json(request, cable, operation, command, phases):
    events, code = [], 0
    try:
        result = operation(cable, events.append)
    except kestrellink.TargetError as e:
        result, code = e.result, kestrellink.exit_code(e)
    scenario = request.node.callspec.params["virtual_cable"]
    env = {k: v for k, v in os.environ.items() if k not in ("VCABLE_SCENARIO", "LD_LIBRARY_PATH")}
    run = subprocess.run([str(KESTREL), "--json", "--virtual"] + ([scenario] if scenario else [])
                         + command.split(), capture_output=True, env=env, timeout=60)
    document = json.loads(run.stdout)
    jtag_fields = ("device_count", "devices", "played", "mismatches")
    assert {k: v for k, v in document["fields"].items() if k in jtag_fields} == \
        result.to_dict() and (document["exit_code"], code) == (run.returncode, run.returncode)
    assert [e.message for e in FIELDS.iter_errors(result.to_dict())] == []
    assert list(dict.fromkeys(e.phase for e in events)) == phases
    assert not events or (events[0].done, events[-1].done) == (0, events[-1].total)


# ---- Progress -------------------------------------------------------------------------------

PHASES = [  # total, (time, done) updates after the phase starts at time 0, (done, rate) events
    pytest.param(100, [(0.05, 10), (0.15, 20), (0.2, 30), (0.21, 100)],
                 [(0, None), (20, 133.3), (100, 476.2)], id="ten a second, the last at once"),
    pytest.param(100, [(0.2, 50), (0.4, 30), (0.6, 100), (0.7, 100)],
                 [(0, None), (50, 250.0), (50, 125.0), (100, 166.7)], id="never back, one last"),
    pytest.param(100, [(0.005, 100)], [(0, None), (100, None)], id="no rate in the first 10 ms"),
    pytest.param(0, [(0.3, 0)], [(0, None)], id="an empty phase ends at once"),
]


@pytest.mark.parametrize("total, updates, expected", PHASES)
def test_progress_events(total, updates, expected):
    now, events = [0.0], []
    phase = Reporter(events.append, clock=lambda: now[0]).phase("writing", total)
    for now[0], done in updates:
        phase.update(done)
    assert [(e.done, e.rate) for e in events] == expected
    last = events[-1]
    assert last.eta in (None, 0.0) and last.done == last.total == total


def test_progress_of_a_flash_write(cable, virtual_cable):
    events = []
    size = 256 * 1024
    result = cable.spi.write(0, bytes(range(256)) * (size // 256), verify=True,
                             progress=events.append)
    assert result.bytes_verified == size
    phases = ["reading", "writing", "verifying"]  # erases go with the pages they make room for
    assert list(dict.fromkeys(e.phase for e in events)) == phases
    for name in phases:
        phase = [e for e in events if e.phase == name]
        assert [e.done for e in phase] == sorted(e.done for e in phase)
        assert [e.done for e in phase if e.done == size] == [size]  # one final event
        assert {(e.total, e.unit) for e in phase} == {(size, "bytes")}
    # The keys of kestrel --progress json.
    assert list(events[-1].to_dict()) == ["phase", "done", "total", "unit", "rate", "eta"]
    assert cable.spi.read(0, 4096, progress=events.append)[:4] == bytes(range(4))
    assert (events[-1].phase, events[-1].done) == ("reading", 4096)


# ---- Exit codes -----------------------------------------------------------------------------

def test_exit_classes_are_those_of_the_schema():
    classes = SCHEMA["$defs"]["exitClass"]["oneOf"]
    assert kestrellink.EXIT_CLASSES == {int(c["description"].split(":")[0]): c["const"]
                                        for c in classes}


@pytest.mark.parametrize("error, code", [
    (kestrellink.CableError("OpenDevice", rc.OPEN_NO_MATCH), 7),
    (kestrellink.CableError("OpenDevice4", rc.OPEN4_NO_DEVICE), 7),
    (kestrellink.CableError("OpenDevice", rc.OPEN_TOO_MANY_MATCH), 7),
    (kestrellink.CableError("OpenDevice", rc.OPEN_CHANNEL_A_FAILED), 8),
    (kestrellink.CableError("OpenDevice4", rc.OPEN4_TOO_MANY_OR_CHANNEL_B_POLL_FAILED), 8),
    (kestrellink.CableError("SPI_WriteDO", rc.TRANSFER_FAILED), 8),
    (kestrellink.CableError("LoadD2XXDLL", rc.LOAD_NO_LIBRARY), 3),
    (kestrellink.CableError("LoadD2XXDLL", rc.LOAD_LACKS_RELOAD), 3),
    (kestrellink.LibraryNotFoundError("x"), 3),
    (kestrellink.ScenarioError("x"), 4), (kestrellink.VerifyError(0, 1, 2), 1),
    (kestrellink.TargetError("x"), 1), (AssertionError(), 1), (FileNotFoundError(), 5),
    (ValueError(), 2), (RuntimeError(), 2), (kestrellink.ReentryError("x"), 2),
    (KeyboardInterrupt(), 130)])
def test_exit_code_of_each_failure(error, code):
    assert kestrellink.exit_code(error) == code


@pytest.mark.parametrize("codes, combined", [((0, 0), 0), ((1, 8, 7), 8)])
def test_a_bench_exits_with_the_largest_code_of_its_cables(codes, combined):
    bench = kestrellink.BenchResult(tuple(kestrellink.CableOutcome(f"ZV0{i}", code)
                                          for i, code in enumerate(codes)))
    assert (bench.exit_code, bench.to_dict()["result"]) == \
        (combined, kestrellink.EXIT_CLASSES[combined])
    assert [c.serial for c in bench.failed] == [f"ZV0{i}" for i, c in enumerate(codes) if c]

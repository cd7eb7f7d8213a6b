"""run_cables: one job on four virtual cables at once, a process each, one of them unplugged half
way through its write; what each cable's outcome and the combined result say."""

import functools
import os
import time

import pytest

import kestrellink

SERIALS = [f"BC0{n}" for n in range(4)]
PULLED = 2
IMAGE_BYTES = 8192  # a write of it makes some 550 FT_Write calls


def bench_scenario(folder):
    text = "".join(f'[[device]]\ndescription = "ZV7300LNK"\nserial = "{serial}"\n'
                   "[device.flash]\nsize = 65536\n\n" for serial in SERIALS)
    text += f'[[fault]]\ntype = "unplug"\nentry = "FT_Write"\nnth = 300\ndevice = {PULLED}\n'
    path = folder / "bench.toml"
    path.write_text(text)
    return path


def image(serial):
    return bytes((int(serial[-1]) * 37 + i) & 0xFF for i in range(IMAGE_BYTES))


def program(cable):
    """The bench's job: each cable gets an image of its own, read back."""
    return cable.spi.write(0, image(cable.serial), verify=True)


def check_fails(cable):
    cable.spi.read(0, 16)  # a phase that ends: the failure after it is in none
    assert cable.spi.identify().size == 1 << 20, "not the flash the bench expects"


def hang(cable, seconds):
    time.sleep(seconds)


def crash(cable):
    os._exit(9)  # as a process that dies in the library would, without a word


OK = kestrellink.FlashResult(8192, 8192, 0, 8192)
RUNS = [  # serials, job, run_cables options, {serial: exit code} of the cables that fail
    pytest.param(SERIALS, program, {}, {SERIALS[PULLED]: 8}, id="one of four unplugged"),
    pytest.param(["BC00", "ZZ99"], program, {}, {"ZZ99": 7}, id="a serial nobody has"),
    pytest.param(["BC01"], check_fails, {}, {"BC01": 1}, id="the job's check fails"),
    pytest.param(["BC03", "BC00"], functools.partial(hang, seconds=60), {"timeout": 3},
                 {"BC03": 130, "BC00": 130}, id="out of time"),
    pytest.param(["BC02", "BC01"], crash, {}, {"BC02": 2, "BC01": 2}, id="processes that die"),
]


@pytest.mark.parametrize("serials, job, options, failing", RUNS)
def test_run_cables(tmp_path, serials, job, options, failing):
    bench = kestrellink.run_cables(serials, job, virtual=bench_scenario(tmp_path), **options)
    assert [c.serial for c in bench.cables] == serials
    assert {c.serial: c.exit_code for c in bench.failed} == failing, bench.to_dict()
    assert bench.ok == (not failing) and bench.exit_code == max(failing.values(), default=0)
    for cable in bench.cables:
        assert cable.value == (None if cable.serial in failing else OK)
        assert (cable.error is None) is cable.ok
        pulled = job is program and cable.serial == SERIALS[PULLED]
        assert cable.stage == ("writing" if pulled else None), cable
    report = bench.to_dict()
    assert [c["serial"] for c in report["cables"] if c["result"] != "ok"] == list(failing)
    if job is program and SERIALS[PULLED] in serials:
        pulled = bench[SERIALS[PULLED]]
        assert pulled.library_call, pulled
        assert report["cables"][0]["value"]["bytes_verified"] == IMAGE_BYTES


@pytest.mark.parametrize("serials, job, options, error", [
    (["BC0", "BC01"], program, {}, ValueError),  # opening BC0 could reach BC01
    (["BC01", "BC01"], program, {}, ValueError), ([], program, {}, ValueError),
    ("BC01", program, {}, TypeError),  # one string, not a cable per character
    (["BC01"], program, {"timeout": 0}, ValueError),
    (["BC01"], program, {"timeout": float("nan")}, ValueError),
    (["BC01"], lambda cable: None, {}, Exception)])  # a process could not import it
def test_run_cables_refuses_before_starting(serials, job, options, error):
    with pytest.raises(error):
        kestrellink.run_cables(serials, job, virtual=True, **options)

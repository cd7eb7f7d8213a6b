"""run_cables: one job on four virtual cables at once, a process each, one of them unplugged half
way through its write; what each cable's outcome and the combined result say."""

import functools
import multiprocessing
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import kestrellink
from kestrellink import bench as bench_module

SERIALS = [f"BC0{n}" for n in range(4)]
PULLED = 2
IMAGE_BYTES = 8192  # a write of it makes some 90 FT_Write calls


def bench_scenario(folder):
    text = "".join(f'[[device]]\ndescription = "ZV7300LNK"\nserial = "{serial}"\n'
                   "[device.flash]\nsize = 65536\n\n" for serial in SERIALS)
    text += f'[[fault]]\ntype = "unplug"\nentry = "FT_Write"\nnth = 60\ndevice = {PULLED}\n'
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


class Unloadable(Exception):
    """Pickles, but its pickle does not load: __init__ takes two arguments, args holds one."""

    def __init__(self, text, extra):
        super().__init__(text)
        self.extra = extra


def raise_unloadable(cable):
    raise Unloadable("boom", 1)


# What each cable's job hands back; the others must not notice.
AWKWARD = {"BC00": program, "BC01": lambda cable: threading.Lock(),
           "BC02": lambda cable: Unloadable("odd", 2), "BC03": crash}


def awkward(cable):
    return AWKWARD[cable.serial](cable)


def endless_write(cable, folder):
    """Writes until stopped, after saying in a file that it runs."""
    data = image(cable.serial)
    (folder / f"{cable.serial}.pid").write_text(str(os.getpid()))
    while True:
        cable.spi.write(0, data, verify=True)


def deaf_write(cable, folder):
    """Ignores being asked to stop."""
    try:
        endless_write(cable, folder)
    except KeyboardInterrupt:
        time.sleep(60)


def wrote_the_image(result):
    """A write of the whole image: erased, programmed or already in place, and read back."""
    return (result.bytes_erased, result.bytes_programmed + result.bytes_skipped,
            result.bytes_verified) == (IMAGE_BYTES,) * 3
RUNS = [  # serials, job, run_cables options, {serial: exit code} of the cables that fail
    pytest.param(SERIALS, program, {}, {SERIALS[PULLED]: 8}, id="one of four unplugged"),
    pytest.param(["BC00", "ZZ99"], program, {}, {"ZZ99": 7}, id="a serial nobody has"),
    pytest.param(["BC01"], check_fails, {}, {"BC01": 1}, id="the job's check fails"),
    pytest.param(["BC03", "BC00"], functools.partial(hang, seconds=60), {"timeout": 3},
                 {"BC03": 130, "BC00": 130}, id="out of time"),
    pytest.param(["BC02", "BC01"], crash, {}, {"BC02": 2, "BC01": 2}, id="processes that die"),
    pytest.param(["BC01"], raise_unloadable, {}, {"BC01": 2}, id="an error that does not pickle"),
]


@pytest.mark.parametrize("serials, job, options, failing", RUNS)
def test_run_cables(tmp_path, serials, job, options, failing):
    bench = kestrellink.run_cables(serials, job, virtual=bench_scenario(tmp_path), **options)
    assert [c.serial for c in bench.cables] == serials
    assert {c.serial: c.exit_code for c in bench.failed} == failing, bench.to_dict()
    assert bench.ok == (not failing) and bench.exit_code == max(failing.values(), default=0)
    for cable in bench.cables:
        assert cable.value is None if cable.serial in failing else wrote_the_image(cable.value)
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


def test_a_result_that_cannot_come_back_costs_only_itself(tmp_path):
    """Values that do not pickle or do not load back arrive as their repr(), saying why; a
    process that dies says so; the cable writing beside them is not disturbed."""
    bench = kestrellink.run_cables(SERIALS, awkward, virtual=bench_scenario(tmp_path))
    got = {c.serial: (c.exit_code, c.value, c.value_error, c.error) for c in bench.cables}
    assert got["BC00"][0] == 0 and wrote_the_image(got["BC00"][1]) and got["BC00"][2] is None, got
    assert got["BC01"][0] == 0 and got["BC01"][1].startswith("<unlocked"), got
    assert got["BC02"][:2] == (0, "Unloadable('odd')"), got
    for serial in ("BC01", "BC02"):
        assert "could not be passed back: TypeError" in got[serial][2], got
    assert got["BC03"][0] == 2 and "exit code 9" in got["BC03"][3], got


def signal_me_once_writing(number, folder, serials):
    """Sends the signal to this process once every job has said it runs."""
    def wait_and_send():
        deadline = time.monotonic() + 60
        while not all((folder / f"{s}.pid").exists() for s in serials) \
                and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5)  # well inside the writes
        os.kill(os.getpid(), number)
    threading.Thread(target=wait_and_send, daemon=True).start()


# How the run is stopped, the grace a process gets, and whether the job heeds the stop.
STOPS = [
    pytest.param({"timeout": 3}, None, endless_write, "TimeoutError", id="out of time"),
    pytest.param({}, signal.SIGINT, endless_write, "KeyboardInterrupt", id="^C"),
    pytest.param({}, signal.SIGTERM, endless_write, "KeyboardInterrupt: SIGTERM", id="SIGTERM"),
    pytest.param({}, signal.SIGTERM, deaf_write, "was killed", id="a job that will not stop"),
]


@pytest.mark.parametrize("options, number, job, why", STOPS)
def test_a_stopped_run_stops_each_cable_and_waits(tmp_path, monkeypatch, options, number, job,
                                                  why):
    """Each process is asked to stop as ^C would and its outcome waited for: it stops between
    two library calls and says so; only one that will not stop is killed. A signal raises
    BenchInterrupted with every outcome; no process is left."""
    if job is deaf_write:  # only the job that will not stop waits out the grace
        monkeypatch.setattr(bench_module, "STOP_GRACE", 1.0)
    serials = ["BC00", "BC01"]
    run = functools.partial(kestrellink.run_cables, serials,
                            functools.partial(job, folder=tmp_path),
                            virtual=bench_scenario(tmp_path), **options)
    if number is None:
        bench = run()
    else:
        signal_me_once_writing(number, tmp_path, serials)
        with pytest.raises(kestrellink.BenchInterrupted) as stopped:
            run()
        bench = stopped.value.bench
    assert [(c.serial, c.exit_code) for c in bench.cables] == [(s, 130) for s in serials]
    for cable in bench.cables:
        assert why in cable.error, cable
        assert ("; stopped" in cable.error) is (job is endless_write), cable  # its own word
    assert not multiprocessing.active_children()


RUNNER = """
import functools, pathlib, sys
import kestrellink, test_bench
folder = pathlib.Path(sys.argv[1])
kestrellink.run_cables(["BC00", "BC01"], functools.partial(test_bench.endless_write,
                       folder=folder), virtual=test_bench.bench_scenario(folder))
"""


def test_the_cables_processes_end_with_the_run(tmp_path):
    """Killed without a word, the calling process leaves no cable being written."""
    path = os.pathsep.join([os.path.dirname(__file__)] + sys.path)
    runner = subprocess.Popen([sys.executable, "-c", RUNNER, str(tmp_path)],
                              env={**os.environ, "PYTHONPATH": path})
    pids = [tmp_path / f"{serial}.pid" for serial in ("BC00", "BC01")]
    deadline = time.monotonic() + 60
    while not all(p.exists() and p.read_text() for p in pids) and runner.poll() is None \
            and time.monotonic() < deadline:
        time.sleep(0.1)
    assert runner.poll() is None, "the run ended before its jobs began"
    runner.kill()
    runner.wait()
    left = [int(p.read_text()) for p in pids]
    while left and time.monotonic() < deadline:
        time.sleep(0.1)
        left = [pid for pid in left if running(pid)]
    assert not left, "processes still writing after the run died"


def running(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False

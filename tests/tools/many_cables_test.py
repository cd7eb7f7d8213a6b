#!/usr/bin/env python3
"""kestrel --cables / --all-cables: a bench of virtual cables written and verified at once, one of
them unplugged half way; the combined report and its exit code, the words each cable's process
gets, standard input shared whole, the refusals, and a run stopped by a signal (during a write
with --unprotect too).

Usage: many_cables_test.py KESTREL SCHEMA [CABLES [RUNNER]]
(CABLES: how many, 8 unless given; RUNNER: a program that runs KESTREL, such as Wine's)
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import jsonschema

TOOL, SCHEMA = (os.path.abspath(a) for a in sys.argv[1:3])
COUNT = int(sys.argv[3]) if len(sys.argv) > 3 else 8
RUNNER = [os.path.abspath(sys.argv[4])] if len(sys.argv) > 4 else []
ENV = {k: v for k, v in os.environ.items() if k not in ("VCABLE_SCENARIO", "LD_LIBRARY_PATH")}
SERIALS = [f"MC0{n}" for n in range(COUNT)]
PULLED = min(5, COUNT - 1)  # the cable the fault rule unplugs
IMAGE_BYTES = 8192
PIPED = bytes(range(256)) * 32  # every byte value: CR, LF and ^Z must pass as they are
failures = []


def bench(folder):
    """The cables with a small flash each; cable PULLED goes at its process's 40th FT_Write,
    after the write has begun."""
    text = ""
    for serial in SERIALS:
        text += f'[[device]]\ndescription = "ZV7300LNK"\nserial = "{serial}"\n'
        text += "[device.flash]\nsize = 65536\n\n"
    text += f'[[fault]]\ntype = "unplug"\nentry = "FT_Write"\nnth = 40\ndevice = {PULLED}\n'
    with open(os.path.join(folder, "bench.toml"), "w") as f:
        f.write(text)
    for n, serial in enumerate(SERIALS):
        with open(os.path.join(folder, f"{serial}.bin"), "wb") as f:
            f.write(bytes((n * 37 + i) & 0xFF for i in range(IMAGE_BYTES)))
    with open(os.path.join(folder, "piped.bin"), "wb") as f:
        f.write(PIPED)


def run(args, folder, stdin=b"", env=None):
    words = args.split() if isinstance(args, str) else args
    done = subprocess.run(RUNNER + [TOOL] + words, cwd=folder, env={**ENV, **(env or {})},
                          capture_output=True, input=stdin, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), \
        done.stderr.decode(errors="replace")


def expect(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


CABLES = ",".join(SERIALS)
PULLED_SERIAL = SERIALS[PULLED]
KEPT = ",".join(s for s in SERIALS if s != PULLED_SERIAL)  # the cables that stay plugged in
# name, arguments, exit code, cables run, serials that must fail (None: refused before running)
# and, if any, what the run gets: {"stdin": bytes, "env": {name: value}}
ROWS = [
    ("write them all, one pulled",
     f"--json --virtual bench.toml --state {{serial}}.state --cables {CABLES} "
     "spi write {serial}.bin", 8, COUNT, [SERIALS[PULLED]]),
    ("verify the others",
     f"--json --virtual bench.toml --state {{serial}}.state --cables {KEPT} "
     "spi verify {serial}.bin", 0, COUNT - 1, []),
    # Each process wrote its own cable: in MC01's state the first cable is still erased.
    ("each process finds its own cable",
     "--json --virtual bench.toml --state MC01.state --serial MC00 spi verify MC01.bin", 1, 0,
     None),
    ("all cables list themselves",
     "--json --virtual bench.toml --all-cables spi id", 0, COUNT, []),
    ("a shared state file is refused",
     f"--json --virtual bench.toml --state one.state --cables {CABLES} spi id", 2, 0, None),
    # The largest exit code, wherever it comes: not the first or last failing cable's.
    ("the largest exit code is the run's",
     f"--json --virtual bench.toml --state {{serial}}.state --cables ZZ98,{PULLED_SERIAL},ZZ99 "
     "spi write {serial}.bin", 8, 3, ["ZZ98", PULLED_SERIAL, "ZZ99"]),
    # Standard input is read once and each cable gets all of it.
    ("standard input to every cable",
     f"--json --virtual bench.toml --state {{serial}}.piped --cables {KEPT} spi write -", 0,
     COUNT - 1, [], {"stdin": PIPED}),
    ("each cable holds all of it",
     f"--json --virtual bench.toml --state {{serial}}.piped --cables {KEPT} spi verify "
     "piped.bin", 0, COUNT - 1, []),
    # Shared by every cable's process: refused before any starts.
    ("a shared output file is refused",
     f"--json --virtual bench.toml --cables {CABLES} spi read out.bin --size 4096", 2, 0, None),
    # Each process's standard output is a file the run prints as text: even one cable's image
    # would be lost there.
    ("standard output for a cable is refused",
     f"--json --virtual bench.toml --cables {SERIALS[0]} spi read - --size 4096", 2, 0, None),
    ("a shared log is refused",
     f"--json --virtual bench.toml --cables {CABLES} eeprom erase", 2, 0, None),
    ("the virtual cable's own state file is refused",
     f"--json --virtual bench.toml --cables {CABLES} spi id", 2, 0, None,
     {"env": {"VCABLE_STATE": "shared.state"}}),
    ("an empty variable counts as unset",
     f"--json --virtual bench.toml --cables {CABLES} spi id", 0, COUNT, [],
     {"env": {"VCABLE_TRACE": ""}}),
    ("outputs named by serial are not",
     f"--json --virtual bench.toml --cables {CABLES} spi read {{serial}}.out --size 4096", 0,
     COUNT, []),
    ("--serial with --cables is refused",
     f"--json --virtual bench.toml --serial MC00 --cables {CABLES} spi id", 2, 0, None),
    # Opens go by a part of the serial: MC0 would also open MC00, a serial twice one cable twice.
    ("a serial inside another is refused",
     "--json --virtual bench.toml --cables MC0,MC01 spi id", 2, 0, None),
    ("a serial inside an earlier one is refused",
     "--json --virtual bench.toml --cables MC01,MC0 spi id", 2, 0, None),
    ("a serial named twice is refused",
     "--json --virtual bench.toml --cables MC01,MC01 spi id", 2, 0, None),
    # An empty serial would open whichever cable comes first.
    ("an empty serial at the end is refused",
     "--json --virtual bench.toml --cables MC01, spi id", 2, 0, None),
    ("a list of commas alone is refused",
     "--json --virtual bench.toml --cables ,, spi id", 2, 0, None),
]


def check_row(folder, validator, name, args, code, count, failing, given=None):
    got, out, err = run(args, folder, **(given or {}))
    expect(name, got == code, f"exit code {got}, expected {code}\n{err}")
    try:
        document = json.loads(out)
    except ValueError as e:
        failures.append(f"{name}: not one JSON document ({e}): {out!r}")
        return
    for problem in validator.iter_errors(document):
        failures.append(f"{name}: {problem.message} at {list(problem.absolute_path)}")
    expect(name, document.get("exit_code") == code, f"document says {document.get('exit_code')}")
    if failing is None:
        return
    cables = document.get("cables", [])
    expect(name, len(cables) == count, f"{len(cables)} cables, expected {count}")
    failed = [c["serial"] for c in cables if c["exit_code"] != 0]
    expect(name, failed == (failing if code != 2 else SERIALS), f"failed {failed}")
    for cable in cables:
        inner = cable["document"] or {}
        expect(name, inner.get("exit_code") == cable["exit_code"], f"{cable['serial']}: {inner}")
    # The text report names each failing cable, the pulled one with what it was doing.
    for serial in failing:
        expect(name, f"failed: {serial} (exit code" in err, f"{serial} not named in:\n{err}")
    if PULLED_SERIAL in failing:
        expect(name, "write" in err.split(f"failed: {PULLED_SERIAL}")[-1].split("\n")[0],
               f"no stage for {PULLED_SERIAL} in:\n{err}")


# Words a command line must quote (on Windows each process's command line is one string): an
# empty one, spaces, quotes, backslashes before a quote and at the end. No such file exists.
AWKWARD = ["--description", "", "spi", "verify", 'a b\\"c" \\\\{serial}\\']


def words_arrive(folder, validator):
    """Each cable's process gets the run's words as given, with --serial and its serial."""
    got, out, err = run(["--json", "--virtual", "bench.toml", "--cables", CABLES] + AWKWARD,
                        folder)
    expect("awkward words", got == 5, f"exit code {got}\n{err}")
    document = json.loads(out)
    for problem in validator.iter_errors(document):
        failures.append(f"awkward words: {problem.message} at {list(problem.absolute_path)}")
    for cable in document.get("cables", []):
        serial = cable["serial"]
        want = ["--serial", serial, "--json", "--virtual", "bench.toml"] + [
            w.replace("{serial}", serial) for w in AWKWARD]
        arguments = (cable["document"] or {}).get("arguments")
        expect("awkward words", arguments == want, f"{serial} got {arguments}")


def kestrel_processes(group):
    """The run's processes still there: those of its process group, and the cables' processes
    (each in a group of its own) that name the run, that are kestrel's (under Wine, a server the
    group may share is not the run's)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read() + os.readlink(f"/proc/{pid}/exe").encode()
            with open(f"/proc/{pid}/environ", "rb") as f:
                ours = f"KESTREL_CABLES_RUN={group}".encode() in f.read().split(b"\0")
        except OSError:
            continue
        if (int(fields[2]) == group or ours) and b"kestrel" in command and fields[0] != "Z":
            found.append(int(pid))
    return found


def signal_all(group, number):
    for pid in kestrel_processes(group):
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def cable_of(pid):
    """The serial a cable's process was started for."""
    with open(f"/proc/{pid}/cmdline", "rb") as f:
        words = f.read().split(b"\0")
    return words[words.index(b"--serial") + 1].decode() if b"--serial" in words else None


# How a run is stopped: name, (whom, signal) in order ("all": each of the run's processes, as ^C
# on a Windows console; "group": the run's process group, as ^C at a terminal; "run": the run's
# own, as timeout or a service manager; "cable": one cable's), the run's ends (return codes), and
# the state of the cable signalled alone and of the others. Each cable sends 64 bytes at one a
# second, from standard input.
STOPS = [
    ("^C", [("all", signal.SIGINT)], (-signal.SIGINT, 130), None, "interrupted"),
]
if not RUNNER:  # Windows has only ^C, which reaches every process on the console
    STOPS += [
        ("^C at a terminal", [("group", signal.SIGINT)], (-signal.SIGINT,), None,
         "interrupted"),
        ("SIGTERM to the run", [("run", signal.SIGTERM)], (-signal.SIGTERM,), None,
         "interrupted"),
        ("SIGHUP to the run", [("run", signal.SIGHUP)], (-signal.SIGHUP,), None, "interrupted"),
        ("a cable that does not stop", [("cable", signal.SIGSTOP), ("run", signal.SIGTERM)],
         (-signal.SIGTERM,), "unknown", "interrupted"),
        ("the run killed", [("run", signal.SIGKILL)], (-signal.SIGKILL,), None, None),
    ]


def stopped(folder, validator, name, signals, ends, alone, others):
    """The run passes the signal on, waits for every cable, reports each and removes its
    temporary files; no cable's process outlives it, even when it is killed."""
    temporary = tempfile.mkdtemp(dir=folder)
    run = subprocess.Popen(RUNNER + [TOOL, "--json", "--virtual", "bench.toml", "--cables", CABLES,
                                     "uart", "send", "--paced", "-"],
                           cwd=folder, env={**ENV, "TMPDIR": temporary}, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, stdin=subprocess.PIPE, start_new_session=True)
    run.stdin.write(bytes(64))
    run.stdin.close()
    run.stdin = None  # communicate() has nothing more to send
    deadline = time.monotonic() + 60
    while len(kestrel_processes(run.pid)) < COUNT + 1 and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(1.0)  # past the start of every cable's process
    cables = [pid for pid in kestrel_processes(run.pid) if pid != run.pid]
    if len(cables) < COUNT:
        failures.append(f"{name}: {len(cables)} cables' processes running, not {COUNT}")
        signal_all(run.pid, signal.SIGKILL)
        run.communicate()
        return
    lone = cable_of(cables[0]) if not RUNNER else None
    for whom, number in signals:
        if whom == "all":
            signal_all(run.pid, number)
        elif whom == "group":
            os.killpg(run.pid, number)
        else:
            os.kill(run.pid if whom == "run" else cables[0], number)
    try:
        out, err = run.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        run.kill()
        out, err = run.communicate()
    expect(name, run.returncode in ends, f"ended with {run.returncode}: {err.decode()}")
    while kestrel_processes(run.pid) and time.monotonic() < deadline:
        time.sleep(0.2)
    expect(name, not kestrel_processes(run.pid), "cables' processes left running")
    signal_all(run.pid, signal.SIGKILL)
    if others is None:  # killed: nothing reported, its temporary folder stays
        return
    document = json.loads(out or b"{}")
    for problem in validator.iter_errors(document):
        failures.append(f"{name}: {problem.message} at {list(problem.absolute_path)}")
    expect(name, document.get("exit_code") == 130, f"document {document}")
    states = {c["serial"]: c["state"] for c in document.get("cables", [])}
    expect(name, states == {s: alone if s == lone and alone else others for s in SERIALS},
           f"states {states}")
    expect(name, RUNNER or "stopped by SIG" in err.decode(), f"no summary in {err.decode()}")
    # A cable's process that was killed leaves what it had made; the run leaves nothing.
    left = [f for f in os.listdir(temporary) if alone != "unknown" or "cables" in f]
    expect(name, RUNNER or not left, f"left {left}")


def writing(temporary):
    """Whether a cable's process has reported its write's progress (the protection cleared)."""
    for root, _, names in os.walk(temporary):
        for name in names:
            with open(os.path.join(root, name), "rb") as f:
                if b'"phase": "writing"' in f.read():
                    return True
    return False


def unprotected_write_stopped(folder):
    """^C at a terminal during spi write --unprotect: the run passes it on once, so each cable's
    process that had cleared the protection stops at a safe point and puts it back (a second
    SIGINT would stop it at once, the protection left off)."""
    with open(os.path.join(folder, "protected.toml"), "w") as f:
        for serial in SERIALS:
            f.write(f'[[device]]\ndescription = "ZV7300LNK"\nserial = "{serial}"\n'
                    '[device.flash]\npart = "W25Q80DV"\nstatus = [0x1C]\n\n')
    with open(os.path.join(folder, "whole.bin"), "wb") as f:
        f.write(bytes(i * 7 & 0xFF for i in range(1 << 20)))
    temporary = tempfile.mkdtemp(dir=folder)
    run = subprocess.Popen([TOOL, "--progress", "json", "--virtual", "protected.toml",
                            "--cables", CABLES, "spi", "write", "whole.bin", "--unprotect"],
                           cwd=folder, env={**ENV, "TMPDIR": temporary},
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           start_new_session=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and not writing(temporary):
        time.sleep(0.02)
    os.killpg(run.pid, signal.SIGINT)
    out = run.communicate(timeout=60)[0].decode()
    cleared = {line.split("]")[0].strip(" [") for line in out.splitlines()
               if "stopping at the next safe point" in line and "to protect 0x" in line}
    restored = {line.split("]")[0].strip(" [") for line in out.splitlines()
                if "protection restored" in line}
    expect("^C during --unprotect", cleared and cleared <= restored,
           f"cleared {sorted(cleared)}, restored {sorted(restored)}")


def main():
    validator = jsonschema.Draft202012Validator(json.load(open(SCHEMA)))
    with tempfile.TemporaryDirectory() as folder:
        bench(folder)
        for row in ROWS:
            check_row(folder, validator, *row)
        words_arrive(folder, validator)
        for stop in STOPS:
            stopped(folder, validator, *stop)
        if not RUNNER:
            unprotected_write_stopped(folder)
        for n, serial in enumerate(SERIALS):
            expect("state files", os.path.exists(os.path.join(folder, f"{serial}.state")),
                   f"{serial}.state missing")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

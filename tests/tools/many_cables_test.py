#!/usr/bin/env python3
"""kestrel --cables / --all-cables: a bench of virtual cables written and verified at once, one of
them unplugged half way; the combined report and its exit code, the words each cable's process
gets, and the refusals.

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


def run(args, folder):
    words = args.split() if isinstance(args, str) else args
    done = subprocess.run(RUNNER + [TOOL] + words, cwd=folder, env=ENV, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def expect(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


CABLES = ",".join(SERIALS)
# name, arguments, exit code, cables run, serials that must fail (None: refused before running)
ROWS = [
    ("write them all, one pulled",
     f"--json --virtual bench.toml --state {{serial}}.state --cables {CABLES} "
     "spi write {serial}.bin", 8, COUNT, [SERIALS[PULLED]]),
    ("verify the others",
     "--json --virtual bench.toml --state {serial}.state --cables "
     + ",".join(s for s in SERIALS if s != SERIALS[PULLED]) + " spi verify {serial}.bin", 0,
     COUNT - 1, []),
    # Each process wrote its own cable: in MC01's state the first cable is still erased.
    ("each process finds its own cable",
     "--json --virtual bench.toml --state MC01.state --serial MC00 spi verify MC01.bin", 1, 0,
     None),
    ("all cables list themselves",
     "--json --virtual bench.toml --all-cables spi id", 0, COUNT, []),
    ("a shared state file is refused",
     f"--json --virtual bench.toml --state one.state --cables {CABLES} spi id", 2, 0, None),
    ("a shared output file is refused",
     f"--json --virtual bench.toml --cables {CABLES} spi read out.bin --size 4096", 2, COUNT,
     []),
    ("outputs named by serial are not",
     f"--json --virtual bench.toml --cables {CABLES} spi read {{serial}}.out --size 4096", 0,
     COUNT, []),
    ("--serial with --cables is refused",
     f"--json --virtual bench.toml --serial MC00 --cables {CABLES} spi id", 2, 0, None),
    # Opens go by a part of the serial: MC0 would also open MC00, a serial twice one cable twice.
    ("a serial inside another is refused",
     "--json --virtual bench.toml --cables MC0,MC01 spi id", 2, 0, None),
    ("a serial named twice is refused",
     "--json --virtual bench.toml --cables MC01,MC01 spi id", 2, 0, None),
    # An empty serial would open whichever cable comes first.
    ("an empty serial at the end is refused",
     "--json --virtual bench.toml --cables MC01, spi id", 2, 0, None),
    ("a list of commas alone is refused",
     "--json --virtual bench.toml --cables ,, spi id", 2, 0, None),
]


def check_row(name, args, code, count, failing, folder, validator):
    got, out, err = run(args, folder)
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
    # The text report names the pulled cable with what it was doing.
    for serial in failing:
        expect(name, f"failed: {serial} (exit code" in err and "write" in err.split(serial)[-1],
               f"no stage for {serial} in:\n{err}")


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
    """The run's processes still there: those of its process group that are kestrel's (under
    Wine, a server the group may share is not the run's)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read() + os.readlink(f"/proc/{pid}/exe").encode()
        except OSError:
            continue
        if int(fields[2]) == group and b"kestrel" in command and fields[0] != "Z":
            found.append(int(pid))
    return found


def signal_all(group, number):
    for pid in kestrel_processes(group):
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def interrupted(folder, validator):
    """^C at a terminal during a paced send on every cable: SIGINT to each of the run's processes.
    The run ends interrupted (on Linux by the signal, on Windows with 130) and so does every
    cable's process."""
    with open(os.path.join(folder, "slow.bin"), "wb") as f:
        f.write(bytes(64))  # a byte a second
    run = subprocess.Popen(RUNNER + [TOOL, "--json", "--virtual", "bench.toml", "--cables", CABLES,
                                     "uart", "send", "--paced", "slow.bin"],
                           cwd=folder, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + 60
    while len(kestrel_processes(run.pid)) < COUNT + 1 and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(1.0)  # past the start of every cable's process
    signal_all(run.pid, signal.SIGINT)
    try:
        out, err = run.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        run.kill()
        out, err = run.communicate()
    expect("interrupted", run.returncode in (-signal.SIGINT, 130),
           f"ended with {run.returncode}: {err.decode()}")
    document = json.loads(out or b"{}")
    for problem in validator.iter_errors(document):
        failures.append(f"interrupted: {problem.message} at {list(problem.absolute_path)}")
    expect("interrupted", document.get("exit_code") == 130, f"document {document}")
    while kestrel_processes(run.pid) and time.monotonic() < deadline:
        time.sleep(0.2)
    expect("interrupted", not kestrel_processes(run.pid), "cables' processes left running")
    signal_all(run.pid, signal.SIGKILL)


def main():
    validator = jsonschema.Draft202012Validator(json.load(open(SCHEMA)))
    with tempfile.TemporaryDirectory() as folder:
        bench(folder)
        for row in ROWS:
            check_row(*row, folder, validator)
        words_arrive(folder, validator)
        interrupted(folder, validator)
        for n, serial in enumerate(SERIALS):
            expect("state files", os.path.exists(os.path.join(folder, f"{serial}.state")),
                   f"{serial}.state missing")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""kestrel --cables / --all-cables: a bench of eight virtual cables written and verified at once,
one of them unplugged half way; the combined report and its exit code, and the refusals.

Usage: many_cables_test.py KESTREL SCHEMA
"""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

TOOL, SCHEMA = (os.path.abspath(a) for a in sys.argv[1:3])
ENV = {k: v for k, v in os.environ.items() if k not in ("VCABLE_SCENARIO", "LD_LIBRARY_PATH")}
SERIALS = [f"MC0{n}" for n in range(8)]
PULLED = 5  # the cable the fault rule unplugs
IMAGE_BYTES = 8192
failures = []


def bench(folder):
    """Eight cables with a small flash each; cable PULLED goes at its process's 40th FT_Write,
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
    done = subprocess.run([TOOL] + args.split(), cwd=folder, env=ENV, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def expect(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


CABLES = ",".join(SERIALS)
# name, arguments, exit code, cables run, serials that must fail (None: refused before running)
ROWS = [
    ("write eight, one pulled",
     f"--json --virtual bench.toml --state {{serial}}.state --cables {CABLES} "
     "spi write {serial}.bin", 8, 8, [SERIALS[PULLED]]),
    ("verify the seven",
     "--json --virtual bench.toml --state {serial}.state --cables "
     + ",".join(s for s in SERIALS if s != SERIALS[PULLED]) + " spi verify {serial}.bin", 0, 7, []),
    # Each process wrote its own cable: in MC03's state the first cable is still erased.
    ("each process finds its own cable",
     "--json --virtual bench.toml --state MC03.state --serial MC00 spi verify MC03.bin", 1, 0,
     None),
    ("all cables list themselves",
     "--json --virtual bench.toml --all-cables spi id", 0, 8, []),
    ("a shared state file is refused",
     f"--json --virtual bench.toml --state one.state --cables {CABLES} spi id", 2, 0, None),
    ("a shared output file is refused",
     f"--json --virtual bench.toml --cables {CABLES} spi read out.bin --size 4096", 2, 8, []),
    ("outputs named by serial are not",
     f"--json --virtual bench.toml --cables {CABLES} spi read {{serial}}.out --size 4096", 0, 8,
     []),
    ("--serial with --cables is refused",
     f"--json --virtual bench.toml --serial MC00 --cables {CABLES} spi id", 2, 0, None),
    # Opens go by a part of the serial: MC0 would also open MC00, a serial twice one cable twice.
    ("a serial inside another is refused",
     "--json --virtual bench.toml --cables MC0,MC01 spi id", 2, 0, None),
    ("a serial named twice is refused",
     "--json --virtual bench.toml --cables MC01,MC01 spi id", 2, 0, None),
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


def main():
    validator = jsonschema.Draft202012Validator(json.load(open(SCHEMA)))
    with tempfile.TemporaryDirectory() as folder:
        bench(folder)
        for row in ROWS:
            check_row(*row, folder, validator)
        for n, serial in enumerate(SERIALS):
            expect("state files", os.path.exists(os.path.join(folder, f"{serial}.state")),
                   f"{serial}.state missing")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

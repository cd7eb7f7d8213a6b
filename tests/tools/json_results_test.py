#!/usr/bin/env python3
"""kestrel --json: every command's document, on success and on each failure class, validated
against docs/kestrel-result.schema.json; the exit codes as a table, each class provoked once.

Usage: json_results_test.py KESTREL SCHEMA EXAMPLES D2XX
(D2XX: the virtual cable's D2XX library, which `list` asks as it would a real one)
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import jsonschema

TOOL, SCHEMA, EXAMPLES, D2XX = (os.path.abspath(a) for a in sys.argv[1:5])
ENV = {k: v for k, v in os.environ.items() if k not in ("VCABLE_SCENARIO", "LD_LIBRARY_PATH")}
failures = []


def run(args, scratch):
    words = [w.replace("DIR", scratch).replace("EXAMPLES", EXAMPLES).replace("D2XX", D2XX)
             for w in args.split()]
    done = subprocess.run([TOOL, "--json"] + words, cwd=scratch, env=ENV, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode(), ["--json"] + words


def check_document(name, code, out, err, validator):
    """Exactly one JSON document on standard output, valid, agreeing with the exit code."""
    try:
        document = json.loads(out)
    except ValueError as e:
        failures.append(f"{name}: standard output is not one JSON document ({e}): {out!r}")
        return None
    for problem in validator.iter_errors(document):
        failures.append(f"{name}: {problem.message} at {list(problem.absolute_path)}")
    if document.get("exit_code") != code:
        failures.append(f"{name}: exit code {code}, document says {document.get('exit_code')}")
    return document


# name, arguments (DIR: the scratch folder, EXAMPLES: the examples folder), exit code, fields
# the document must hold (dotted paths into it; "fields.x" are the command's own).
ROWS = [
    # success, one per command
    ("scan", "--virtual scan", 0, ["cable.d2xx", "fields.devices"]),
    ("list", "--virtual list", 0, ["fields.cables"]),
    ("list (D2XX)", "--d2xx D2XX list", 0, ["fields.cables"]),
    ("spi id", "--virtual spi id", 0, ["fields.flash", "fields.protection"]),
    ("spi id, three status registers", "--virtual DIR/w25q128jv.toml spi id", 0,
     ["fields.protection.registers"]),
    ("spi read", "--virtual spi read DIR/out.bin --size 4096", 0, ["fields.bytes_read"]),
    ("spi write", "--virtual spi write DIR/zeros.bin", 0,
     ["fields.bytes_erased", "fields.bytes_programmed", "fields.bytes_skipped"]),
    ("spi erase", "--virtual spi erase --address 0 --size 4096", 0, ["fields.bytes_erased"]),
    ("spi verify", "--virtual spi verify DIR/out.bin", 0, ["fields.bytes_verified"]),
    ("spi write, unprotected for the job", "--virtual DIR/protected.toml spi write --unprotect "
     "--address 0xFF0000 DIR/zeros.bin", 0, ["fields.protection_restored"]),
    ("uart send", "--virtual uart send DIR/zeros.bin", 0, ["fields.bytes_sent"]),
    ("uart dtr", "--virtual uart dtr pulse", 0, []),
    ("gpio", "--virtual gpio read l0-low", 0, ["fields.operations"]),
    ("jtag idcode", "--virtual EXAMPLES/scenarios/jtag-chain.toml jtag idcode", 0,
     ["fields.devices"]),
    ("jtag ir", "--virtual jtag ir 0 1", 0, ["fields.scans"]),
    ("jtag svf", "--virtual EXAMPLES/scenarios/jtag-chain.toml jtag svf "
     "EXAMPLES/svf/idcode-chain.svf", 0, ["fields.played"]),
    ("jtag xsvf", "--virtual jtag xsvf EXAMPLES/svf/idcode.xsvf", 0, ["fields.played"]),
    ("eeprom", "--virtual eeprom --log-dir DIR program", 0, ["fields.eeprom"]),
    ("demo", "demo", 0, ["fields.steps"]),
    ("version", "--version", 0, ["fields.version.kestrel", "fields.version.virtual_cable"]),
    ("help", "--help", 0, ["fields.help"]),
    ("help of a command", "spi read --help", 0, ["fields.help", "fields.help_command"]),
    # each failure class
    ("mismatch: verify", "--virtual spi verify DIR/ones.bin", 1, []),
    ("mismatch: TDO", "--virtual jtag svf DIR/wrong.svf", 1, ["fields.mismatches"]),
    ("usage", "--virtual spi read", 2, []),
    ("no library", "scan", 3, []),
    ("model", "--virtual DIR/missing.toml scan", 4, []),
    ("file", "--virtual spi write DIR/missing.bin", 5, []),
    ("file, a name to escape", "--virtual spi write DIR/a\"b\\c\x01.bin", 5, []),
    ("unavailable", "--virtual jtag svf DIR/pio.svf", 6, []),
    ("unavailable: no flash answers", "--virtual DIR/noflash.toml spi read DIR/out.bin", 6, []),
    ("no cable", "--virtual --description NOPE scan", 7, ["library_call"]),
    ("no cable, a message box", "--virtual --description NOPE uart dtr", 7, ["warnings"]),
    ("library call", "--virtual uart receive DIR/in.bin --size 4 --timeout 0.2", 8,
     ["library_call"]),
]


def lookup(document, path):
    for key in path.split("."):
        if not isinstance(document, dict) or document.get(key) in (None, [], {}):
            return None
        document = document[key]
    return document


def interrupted(scratch, validator):
    """SIGINT during a paced send (a byte a second): the process ends by the signal, and the
    document says 130."""
    child = subprocess.Popen([TOOL, "--json", "--virtual", "uart", "send", "--paced",
                              scratch + "/zeros.bin"], env=ENV, cwd=scratch,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=30)
    if child.returncode != -signal.SIGINT:
        failures.append(f"interrupted: ended with {child.returncode}: {err.decode()}")
    document = check_document("interrupted", 130, out.decode(), err.decode(), validator)
    if document and document.get("result") != "interrupted":
        failures.append(f"interrupted: result {document.get('result')}")


BENCH = """[[device]]
description = "ZV7300LNK"
serial = "ZV000001"
[[device]]
type = "single"
description = "USB Serial Converter"
serial = "FT000777"
[[device]]
description = "ZV7300LNK"
serial = "ZV000002"
"""


def listing(scratch):
    """`list` through the D2XX library: both cables with their two channels, the single device
    with its one, in the order the library lists them."""
    with open(scratch + "/bench.toml", "w") as f:
        f.write(BENCH)
    done = subprocess.run([TOOL, "--json", "--d2xx", D2XX, "list"], capture_output=True,
                          env=dict(ENV, VCABLE_SCENARIO=scratch + "/bench.toml"), timeout=60)
    cables = json.loads(done.stdout)["fields"].get("cables", [])
    got = [(c["description"], c["serial"], [ch["serial"] for ch in c["channels"]]) for c in cables]
    want = [("ZV7300LNK", "ZV000001", ["ZV000001A", "ZV000001B"]),
            ("USB Serial Converter", "FT000777", ["FT000777"]),
            ("ZV7300LNK", "ZV000002", ["ZV000002A", "ZV000002B"])]
    if done.returncode != 0 or got != want:
        failures.append(f"list: {done.returncode} {got} {done.stderr.decode()}")


def main():
    with open(SCHEMA) as f:
        schema = json.load(f)
    validator = jsonschema.Draft202012Validator(schema)
    with tempfile.TemporaryDirectory(prefix="kestrel-json-") as scratch:
        with open(scratch + "/zeros.bin", "wb") as f:
            f.write(bytes(64))
        with open(scratch + "/ones.bin", "wb") as f:
            f.write(b"\xff" * 64)
        with open(scratch + "/w25q128jv.toml", "w") as f:
            f.write('[[device]]\ndescription = "ZV7300LNK"\n[device.flash]\npart = "W25Q128JV"\n')
        with open(scratch + "/protected.toml", "w") as f:
            f.write('[[device]]\ndescription = "ZV7300LNK"\n[device.flash]\npart = "W25Q128JV"\n'
                    'status = [0x04]\n')
        with open(scratch + "/noflash.toml", "w") as f:
            f.write('[[device]]\ndescription = "ZV7300LNK"\n[device.flash]\npresent = false\n')
        with open(scratch + "/wrong.svf", "w") as f:
            f.write("SIR 6 TDI (09);\nSDR 32 TDI (00000000) TDO (12345678) MASK (FFFFFFFF);\n")
        with open(scratch + "/pio.svf", "w") as f:
            f.write("PIOMAP (IN A);\n")
        seen = set()
        for name, args, code, fields in ROWS:
            got, out, err, words = run(args, scratch)
            if got != code:
                failures.append(f"{name}: exit code {got}, expected {code}: {err.strip()}")
            seen.add(got)
            document = check_document(name, got, out, err, validator)
            if document and document["arguments"] != words:
                failures.append(f"{name}: arguments {document['arguments']}, given {words}")
            for path in fields if document else []:
                if lookup(document, path) is None:
                    failures.append(f"{name}: no {path} in {out.strip()}")
        interrupted(scratch, validator)
        listing(scratch)
    classes = set(schema["$defs"]["exitCode"]["enum"]) - {130}
    if classes - seen:
        failures.append(f"exit codes never provoked: {sorted(classes - seen)}")
    for failure in failures:
        print(failure)
    print(f"{len(ROWS) + 2} runs, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""kestrel --progress json: one JSON object a line on standard error for each phase of a long
transfer; done never goes back, each phase ends with an event at done == total, and the events
other than those final ones come at most ten a second. With --json as well, standard output
holds only the result document.

Usage: progress_events_test.py KESTREL
"""
import json
import os
import subprocess
import sys
import tempfile
import time

TOOL = os.path.abspath(sys.argv[1])
ENV = {k: v for k, v in os.environ.items() if k not in ("VCABLE_SCENARIO", "LD_LIBRARY_PATH")}
KEYS = {"phase", "done", "total", "unit", "rate", "eta"}


def events_of(err, failures):
    events = []
    for line in err.splitlines():
        if not line.startswith("{"):
            continue  # a message for people (with --json, the reports are here too)
        try:
            event = json.loads(line)
        except ValueError:
            failures.append(f"not an event: {line!r}")
            continue
        if set(event) != KEYS:
            failures.append(f"event keys {sorted(event)}: {line}")
            continue
        events.append(event)
    return events


def check(events, seconds, failures):
    phases = {}
    for event in events:
        phases.setdefault(event["phase"], []).append(event)
    if {"reading", "writing", "verifying"} - set(phases):
        failures.append(f"phases {sorted(phases)}")
    for phase, seen in phases.items():
        done = [e["done"] for e in seen]
        if done != sorted(done):
            failures.append(f"{phase}: done goes back: {done}")
        if seen[-1]["done"] != seen[-1]["total"]:
            failures.append(f"{phase}: last event {seen[-1]}")
        if any(e["done"] == e["total"] for e in seen[:-1]):
            failures.append(f"{phase}: more than one final event")
        for e in seen:
            if e["rate"] is not None and (e["rate"] <= 0 or e["eta"] is None or e["eta"] < 0):
                failures.append(f"{phase}: rate and eta {e}")
    others = [e for e in events if e["done"] != e["total"]]
    if len(others) > seconds * 10 + 1:
        failures.append(f"{len(others)} events in {seconds:.2f} s")
    if not others:
        failures.append("no event before a phase's end: the transfer was too short to judge")


def main():
    failures = []
    with tempfile.TemporaryDirectory(prefix="kestrel-progress-") as scratch:
        image = os.path.join(scratch, "image.bin")
        with open(image, "wb") as f:
            f.write(os.urandom(1 << 20))
        start = time.monotonic()
        done = subprocess.run([TOOL, "--json", "--progress", "json", "--virtual", "spi", "write",
                               image], env=ENV, capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=300)
        seconds = time.monotonic() - start
        if done.returncode != 0:
            failures.append(f"exit code {done.returncode}: {done.stderr.decode()}")
        document = json.loads(done.stdout)  # nothing but the result on standard output
        if document["fields"].get("bytes_programmed", 0) == 0:
            failures.append(f"result {document}")
        check(events_of(done.stderr.decode(), failures), seconds, failures)
        # --progress none: no events at all.
        quiet = subprocess.run([TOOL, "--progress", "none", "--virtual", "spi", "read",
                                os.path.join(scratch, "back.bin")], env=ENV, capture_output=True,
                               stdin=subprocess.DEVNULL, timeout=300)
        if quiet.returncode != 0 or b"{" in quiet.stderr:
            failures.append(f"--progress none: {quiet.returncode} {quiet.stderr.decode()}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

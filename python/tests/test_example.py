"""The example script, run as a user would run it."""

import subprocess
import sys

from conftest import REPO


def test_scan_and_dump(virtual_cable, tmp_path):
    dump = tmp_path / "flash.bin"
    run = subprocess.run([sys.executable, str(REPO / "python/examples/scan_and_dump.py"),
                          "--virtual", str(dump)], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[:2] == ["device 0: IDCODE 0x12345677",
                                           "device 1: IDCODE 0x87654321"]
    assert dump.read_bytes() == virtual_cable.flash_read(0, 1 << 20)  # the default scenario's

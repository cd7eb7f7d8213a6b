"""One Cable shared by threads, and waits a user interrupts."""

import os
import signal
import subprocess
import sys
import threading

import pytest
from conftest import REPO

ROUNDS = 6


def flash_worker(cable, base, seed, failures):
    """Writes and reads back a range that crosses pages and sectors, with new bytes each round."""
    for round_ in range(ROUNDS):
        data = bytes((seed + round_ * 7 + i * 13) & 0xFF for i in range(700))
        cable.spi.write(base + 0xF80, data)
        back = cable.spi.read(base + 0xF80, len(data))
        if back != data:
            failures.append(f"flash at {base:#x}, round {round_}")


def jtag_worker(cable, failures):
    for round_ in range(ROUNDS):
        if cable.jtag.idcodes() != [0x12345677, 0x87654321]:
            failures.append(f"idcodes, round {round_}")


def reporting(work, failures):
    """Runs work in a thread, an exception counted as a failure."""
    def run(*args):
        try:
            work(*args)
        except Exception as error:  # noqa: BLE001 - any error is a failure of the test
            failures.append(repr(error))
    return run


def test_two_threads_on_one_cable_see_whole_operations(cable, virtual_cable):
    failures = []
    workers = [
        threading.Thread(target=reporting(flash_worker, failures),
                         args=(cable, 0x10000, 1, failures)),
        threading.Thread(target=reporting(flash_worker, failures),
                         args=(cable, 0x30000, 101, failures)),
        threading.Thread(target=reporting(jtag_worker, failures), args=(cable, failures))]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join(120)
    assert failures == []
    last = ROUNDS - 1
    for base, seed in ((0x10000, 1), (0x30000, 101)):  # every byte of the two ranges and around
        expected = bytes((seed + last * 7 + i * 13) & 0xFF for i in range(700))
        assert virtual_cable.flash_read(base + 0xF80, 700) == expected
        assert virtual_cable.flash_read(base, 0xF80) == b"\xff" * 0xF80
        assert virtual_cable.flash_read(base + 0xF80 + 700, 0x2000 - 0xF80 - 700) == \
            b"\xff" * (0x2000 - 0xF80 - 700)
    assert virtual_cable.model_errors() == []


INTERRUPTED_READ = """
import math, signal, sys, threading
import kestrellink
if sys.argv[1] == "start":  # the signal lands while the read starts its helper thread
    start = threading.Thread.start
    def start_then_signal(thread):
        start(thread)
        signal.raise_signal(signal.SIGINT)
    threading.Thread.start = start_then_signal
else:  # each slice says so; the parent signals after the first
    read = kestrellink.Library.Read_FILE_UART_2
    def announced(*args):
        print("slice", flush=True)
        return read(*args)
    kestrellink.Library.Read_FILE_UART_2 = announced
with kestrellink.VirtualCable() as virtual:
    virtual.uart_peer("sink")
    with kestrellink.Cable.open() as cable, cable.uart() as port:
        try:
            port.read(1, timeout=math.inf)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        port.write(b"after")  # the cable is still usable
        print(virtual.uart_received().decode(), flush=True)
"""


@pytest.mark.parametrize("when", ["start", "slice"])
def test_an_endless_serial_read_gives_way_to_ctrl_c(when):
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED_READ, when],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ), cwd=str(REPO))
    try:
        if when == "slice":
            assert child.stdout.readline().strip() == "slice"
            child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)  # an uninterruptible read never ends
    finally:
        if child.poll() is None:
            child.kill()
    assert child.returncode == 0, err
    assert out.split()[-2:] == ["interrupted", "after"]


@pytest.mark.filterwarnings("ignore::kestrellink.CableMessage")
def test_a_read_that_gets_fewer_bytes_than_asked_keeps_them(cable, virtual_cable):
    with cable.uart() as port:
        virtual_cable.uart_peer("script", b"abc", after_polls=0)
        with pytest.raises(Exception) as raised:
            port.read(10, timeout=0)
        assert (raised.value.export, raised.value.code) == ("Read_FILE_UART_2", 3)  # 3 waiting
        assert port.read(3, timeout=0) == b"abc"

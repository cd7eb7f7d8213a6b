"""One Cable shared by threads and by callbacks, and waits a user interrupts."""

import os
import signal
import subprocess
import sys
import threading
import time

import pytest
from conftest import REPO

import kestrellink

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
    around = {base: virtual_cable.flash_read(base, 0x2000) for base in (0x10000, 0x30000)}
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
    # Every byte of the two ranges, and the rest of their sectors kept.
    for base, seed in ((0x10000, 1), (0x30000, 101)):
        expected = bytes((seed + last * 7 + i * 13) & 0xFF for i in range(700))
        assert virtual_cable.flash_read(base + 0xF80, 700) == expected
        assert virtual_cable.flash_read(base, 0xF80) == around[base][:0xF80]
        assert virtual_cable.flash_read(base + 0xF80 + 700, 0x2000 - 0xF80 - 700) == \
            around[base][0xF80 + 700:]
    assert virtual_cable.model_errors() == []


DATA = bytes(range(256)) * 40  # 10 KiB over three sectors
OPERATIONS = {  # an operation that takes a callback, and what it must have done all the same
    "read": (lambda c, p: c.spi.read(0x10000, 0x9000, progress=p),
             lambda vc, result: result == vc.flash_read(0x10000, 0x9000)),
    "write": (lambda c, p: c.spi.write(0x20F00, DATA, verify=True, progress=p),
              lambda vc, result: vc.flash_read(0x20F00, len(DATA)) == DATA),
    "erase": (lambda c, p: c.spi.erase(0x30000, 0x3000, progress=p),
              lambda vc, result: vc.flash_read(0x30000, 0x3000) == b"\xff" * 0x3000),
    "chip erase": (lambda c, p: c.spi.erase(progress=p),
                   lambda vc, result: vc.flash_read(0, 1 << 20) == b"\xff" * (1 << 20)),
    "verify": (lambda c, p: c.spi.verify(0x40000, bytes(0x2000), progress=p),
               lambda vc, result: result.bytes_verified == 0x2000),
}
INTRUSIONS = {  # a call a callback makes into the cable whose operation is halfway
    "spi": lambda c: c.spi.status(), "jtag": lambda c: c.jtag.idcodes(),
    "uart": lambda c: c.uart(), "close": lambda c: c.close(),
    "raw layer": lambda c: c.lib.JTAG_ReadPort(), "pins": lambda c: c.gpio.read(),
    "flash size": lambda c: setattr(c.spi, "size", 1 << 20)}


@pytest.mark.parametrize("operation, intrusion", [
    ("read", "spi"), ("write", "jtag"), ("write", "uart"), ("erase", "close"),
    ("chip erase", "raw layer"), ("verify", "pins"), ("write", "flash size")])
def test_a_callback_cannot_cut_into_its_operation(cable, virtual_cable, operation, intrusion):
    virtual_cable.flash_write(0x40000, bytes(0x2000))
    run, done = OPERATIONS[operation]
    refused = []

    def progress(event):
        with pytest.raises(kestrellink.ReentryError) as raised:
            INTRUSIONS[intrusion](cable)
        refused.append(raised.value)

    assert done(virtual_cable, run(cable, progress))
    assert refused and virtual_cable.model_errors() == []
    assert len(cable.jtag.idcodes()) == 2  # neither closed nor left a serial port


def test_a_refusal_the_callback_lets_through_stops_the_operation_cleanly(cable, virtual_cable):
    def progress(event):
        if event.phase == "writing":
            cable.spi.status()

    with pytest.raises(kestrellink.ReentryError, match="Spi.status"):
        cable.spi.write(0x20F00, DATA, progress=progress)
    assert virtual_cable.pins().levels & 0x40  # the flash deselected
    cable.spi.write(0x20F00, DATA)
    assert virtual_cable.flash_read(0x20F00, len(DATA)) == DATA


def test_a_message_handler_cannot_cut_into_its_operation(virtual_cable):
    refused = []

    def handler(text):  # a port call, if not refused, would wait for good for set_dtr's lock
        with pytest.raises(kestrellink.ReentryError):
            cable.lib.Clr_Dtr()
        refused.append(text)

    virtual_cable.fault_fail("FT_SetDtr")
    with kestrellink.Cable.open(on_message=handler) as cable, cable.uart() as port:
        with pytest.raises(kestrellink.CableError):
            port.set_dtr(True)
        assert refused and port.write(b"after").bytes_sent == 5
    assert virtual_cable.uart_received() == b"after"


def test_another_thread_waits_for_the_operation_its_callbacks_included(cable):
    events, answers = [], []
    other = threading.Thread(target=lambda: answers.append((cable.spi.status(), events[-1])))

    def progress(event):
        events.append(event)
        if len(events) == 1:
            other.start()
            time.sleep(0.2)  # time for the other thread to reach the cable

    cable.spi.read(0, 0x10000, progress=progress)
    other.join(30)
    (status, seen), = answers
    assert (seen.done, status) == (0x10000, 0)  # served after the read's last event


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


def test_a_callback_that_raises_stops_a_long_read_between_two_groups(cable, virtual_cable):
    virtual_cable.clear_call_log()
    with pytest.raises(ZeroDivisionError):
        cable.spi.read(0, 1 << 20, progress=lambda event: 1 / 0)
    stopped = len(virtual_cable.call_log("FT_Read"))
    virtual_cable.clear_call_log()
    cable.spi.read(0, 1 << 20)  # the whole flash: a ^C in a script does not wait for that
    assert stopped * 2 < len(virtual_cable.call_log("FT_Read")), stopped

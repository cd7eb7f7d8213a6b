#!/usr/bin/env python3
"""How long Ctrl-C takes to end a serial read that would otherwise wait for ever.

Uart.read(timeout=inf) waits in slices in a helper thread so that the calling thread takes a
signal at once; the target is a KeyboardInterrupt within 100 ms of SIGINT. Each round starts a
process that waits on a silent serial channel of the virtual cable, interrupts it at a different
point of its current slice, and takes the time from the signal to the exception (both sides read
CLOCK_MONOTONIC).

    KESTRELLINK_LIBRARY=build/lib KESTRELLINK_VIRTUAL_CABLE=build/virtual-cable \\
        PYTHONPATH=python python3 bench/python_interrupt.py [ROUNDS]
"""

import signal
import subprocess
import sys
import time

TARGET_MS = 100.0
WAITER = r"""
import math, time, kestrellink
with kestrellink.VirtualCable() as virtual:
    virtual.uart_peer("sink")
    with kestrellink.Cable.open() as cable, cable.uart() as port:
        print("waiting", flush=True)
        try:
            port.read(1, timeout=math.inf)
        except KeyboardInterrupt:
            print(time.monotonic(), flush=True)
"""


def one_round(delay: float) -> float:
    child = subprocess.Popen([sys.executable, "-c", WAITER], stdout=subprocess.PIPE, text=True)
    try:
        if child.stdout.readline().strip() != "waiting":
            raise SystemExit("the waiting process did not start")
        time.sleep(delay)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        caught = float(child.stdout.readline())
        return (caught - sent) * 1000.0
    finally:
        child.kill()
        child.wait()


def main() -> int:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    # Spread over more than a second: the slices end on the calendar second.
    latencies = sorted(one_round(0.2 + 1.1 * i / rounds) for i in range(rounds))
    print(f"| rounds | median ms | worst ms | target ms |\n|---|---|---|---|\n"
          f"| {rounds} | {latencies[len(latencies) // 2]:.1f} | {latencies[-1]:.1f} | "
          f"{TARGET_MS:.0f} |")
    return 0 if latencies[-1] <= TARGET_MS else 1


if __name__ == "__main__":
    sys.exit(main())

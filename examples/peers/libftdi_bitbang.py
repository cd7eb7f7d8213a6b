#!/usr/bin/env python3
"""libftdi1's Python bindings on the virtual cable's USB face: the latency timer at the chip's own
minimum of 1 ms, the default chain's IDCODEs read by synchronous bit-bang on channel A, a pin
read, and asynchronous bit-bang samples on channel B. Exits 1 when a result is not what the
chip's documents say.

With --unmodelled it selects MCU host bus emulation instead, a mode the model lacks, and exits 0
when a read in it fails rather than returning nothing forever (the run leaves model errors).

    LD_LIBRARY_PATH=build/virtual-cable/usb /usr/bin/python3 examples/peers/libftdi_bitbang.py
"""
import sys

import ftdi1 as ftdi

TCK, TDI, TDO, TMS = 0x01, 0x02, 0x04, 0x08
CHIP_VID, CHIP_PID = 0x0403, 0x6010


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def check(ret, what):
    if ret < 0:
        fail(f"{what} returned {ret}")
    return ret


def byte_value(value):
    """The bindings give an unsigned char out-parameter as a one-byte string."""
    return value if isinstance(value, int) else ord(value)


def open_channel(interface):
    ctx = ftdi.new()
    check(ftdi.set_interface(ctx, interface), "set_interface")
    check(ftdi.usb_open(ctx, CHIP_VID, CHIP_PID), "usb_open")
    return ctx


def read_exactly(ctx, count):
    data = bytearray()
    for _ in range(100):
        ret, chunk = ftdi.read_data(ctx, count - len(data))
        data += chunk[:check(ret, "read_data")]
        if len(data) == count:
            return bytes(data)
    fail(f"only {len(data)} of {count} bytes came back")


def jtag(ctx, bits):
    """Clocks (tms, tdi) pairs out, a TCK period in two bytes; synchronous bit-bang answers each
    byte with the lines before it, so TDO is read before every rising edge."""
    stream = bytearray()
    for tms, tdi in bits:
        low = (TMS if tms else 0) | (TDI if tdi else 0)
        stream += bytes([low, low | TCK])
    check(ftdi.write_data(ctx, bytes(stream)), "write_data")
    reply = read_exactly(ctx, len(stream))
    return [1 if reply[i] & TDO else 0 for i in range(1, len(reply), 2)]


def idcodes_by_sync_bitbang():
    ctx = open_channel(ftdi.INTERFACE_A)
    check(ftdi.set_latency_timer(ctx, 1), "set_latency_timer(1)")
    ret, latency = ftdi.get_latency_timer(ctx)
    if check(ret, "get_latency_timer") != 0 or byte_value(latency) != 1:
        fail(f"the latency timer reads back {latency!r}, expected 1")
    check(ftdi.set_bitmode(ctx, TCK | TDI | TMS, ftdi.BITMODE_SYNCBB), "set_bitmode")
    # Test-Logic-Reset, Run-Test/Idle, Select-DR, Capture-DR, Shift-DR, then 64 bits out.
    path = [(1, 0)] * 5 + [(0, 0), (1, 0), (0, 0), (0, 0)]
    tdo = jtag(ctx, path + [(0, 1)] * 64)[len(path):]
    words = [sum(bit << i for i, bit in enumerate(tdo[at:at + 32])) for at in (0, 32)]
    if words != [0x87654321, 0x12345677]:
        fail("IDCODEs " + " ".join(f"0x{w:08x}" for w in words))
    ret, pins = ftdi.read_pins(ctx)
    pins = byte_value(pins)
    if check(ret, "read_pins") != 0 or pins & (TCK | TDI | TMS) != TCK | TDI:
        fail(f"the pins read 0x{pins:02x} after the last byte (TCK and TDI high, TMS low)")
    ftdi.usb_close(ctx)
    ftdi.free(ctx)
    print("IDCODEs " + " ".join(f"0x{w:08x}" for w in words) + " by synchronous bit-bang: OK")


def samples_by_async_bitbang():
    ctx = open_channel(ftdi.INTERFACE_B)
    check(ftdi.set_bitmode(ctx, 0x00, ftdi.BITMODE_BITBANG), "set_bitmode")
    samples = read_exactly(ctx, 1000)
    if samples != b"\xff" * 1000:
        fail("channel B's undriven lines did not sample their pull-ups")
    ftdi.usb_close(ctx)
    ftdi.free(ctx)
    print("1000 samples of channel B's pull-ups by asynchronous bit-bang: OK")


def unmodelled_mode_fails():
    ctx = open_channel(ftdi.INTERFACE_A)
    check(ftdi.set_bitmode(ctx, 0x00, ftdi.BITMODE_MCU), "set_bitmode(MCU)")
    ret, _ = ftdi.read_data(ctx, 64)
    if ret >= 0:
        fail(f"a read in MCU host bus emulation returned {ret} instead of failing")
    print(f"a read in MCU host bus emulation failed ({ret}: "
          f"{ftdi.get_error_string(ctx)}): OK")


def main():
    if sys.argv[1:] == ["--unmodelled"]:
        unmodelled_mode_fails()
        return
    idcodes_by_sync_bitbang()
    samples_by_async_bitbang()


if __name__ == "__main__":
    main()

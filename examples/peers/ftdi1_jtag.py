#!/usr/bin/env python3
"""libftdi1's Python bindings (python3-ftdi1) on the virtual cable's USB face: opens channel A,
reads the EEPROM and decodes it, reads the pins, then clocks the JTAG chain into Shift-DR in MPSSE
mode and reads every device's IDCODE. Exits 1 when a step fails or the chain is not the one named
on the command line (IDCODEs in hex, the device nearest TDO first).

    LD_LIBRARY_PATH=build/virtual-cable/usb python3 examples/peers/ftdi1_jtag.py 87654321 12345677
"""
import sys

import ftdi1


def check(ctx, result, what):
    """libftdi1 calls return 0 or more on success, or a list that starts with the result."""
    code = result[0] if isinstance(result, list) else result
    if code < 0:
        print(f"FAIL: {what}: {ftdi1.get_error_string(ctx)}")
        sys.exit(1)
    return result


def read_exactly(ctx, count):
    data = b""
    for _ in range(100):
        data += check(ctx, ftdi1.read_data(ctx, count - len(data)), "read")[1]
        if len(data) == count:
            return data
    print(f"FAIL: {len(data)} of {count} reply bytes came")
    sys.exit(1)


def main():
    expected = [int(code, 16) for code in sys.argv[1:]]
    ctx = ftdi1.new()
    check(ctx, ftdi1.set_interface(ctx, ftdi1.INTERFACE_A), "interface A")
    check(ctx, ftdi1.usb_open(ctx, 0x0403, 0x6010), "open 0403:6010")
    check(ctx, ftdi1.read_eeprom(ctx), "EEPROM read")
    check(ctx, ftdi1.eeprom_decode(ctx, 0), "EEPROM decode")
    vendor = check(ctx, ftdi1.get_eeprom_value(ctx, ftdi1.VENDOR_ID), "vendor ID")[1]
    product = check(ctx, ftdi1.get_eeprom_value(ctx, ftdi1.PRODUCT_ID), "product ID")[1]
    strings = check(ctx, ftdi1.eeprom_get_strings(ctx, 64, 64, 64), "EEPROM strings")[1:]
    print(f"EEPROM: {vendor:04x}:{product:04x} {strings}")

    check(ctx, ftdi1.usb_reset(ctx), "reset")
    check(ctx, ftdi1.set_latency_timer(ctx, 2), "latency timer")
    check(ctx, ftdi1.set_bitmode(ctx, 0x0B, ftdi1.BITMODE_MPSSE), "MPSSE mode")
    print(f"pins: {check(ctx, ftdi1.read_pins(ctx), 'pin read')[1].hex()}")
    count = max(len(expected), 1)
    commands = bytes([
        0x85,              # loopback off
        0x86, 0x05, 0x00,  # TCK 1 MHz
        0x80, 0x08, 0x0B,  # TMS high, TCK TDI TMS driven
        0x4B, 0x05, 0x1F,  # six TMS ones: Test-Logic-Reset, IDCODE selected
        0x4B, 0x03, 0x02,  # 0 1 0 0: Run-Test/Idle, Select-DR, Capture-DR, Shift-DR
        0x28, 4 * count - 1, 0x00,  # read the IDCODEs, TDO on the rising edge, LSB first
        0x4B, 0x05, 0x1F,  # back to Test-Logic-Reset
        0x87,
    ])
    if check(ctx, ftdi1.write_data(ctx, commands), "write") != len(commands):
        print("FAIL: a short write")
        sys.exit(1)
    reply = read_exactly(ctx, 4 * count)
    codes = [int.from_bytes(reply[i:i + 4], "little") for i in range(0, len(reply), 4)]
    print("IDCODEs: " + " ".join(f"{code:08x}" for code in codes))
    ftdi1.usb_close(ctx)
    ftdi1.free(ctx)
    if expected and codes != expected:
        print("FAIL: not the chain expected")
        sys.exit(1)


if __name__ == "__main__":
    main()

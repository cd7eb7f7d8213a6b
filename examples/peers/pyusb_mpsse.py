#!/usr/bin/env python3
"""pyusb on the virtual cable's USB face: lists the cable, prints its descriptors and strings,
then runs an MPSSE loopback by hand on channel A with the chip's vendor requests and bulk
packets. Exits 1 when a reply is not what the chip's documents say.

    LD_LIBRARY_PATH=build/virtual-cable/usb python3 examples/peers/pyusb_mpsse.py

With the argument `libusb0` it takes pyusb's libusb-0.1 backend instead, for the libusb-0.1 face:

    LD_LIBRARY_PATH=build/virtual-cable/usb0 python3 examples/peers/pyusb_mpsse.py libusb0
"""
import sys

import usb.backend.libusb0
import usb.core
import usb.util

VENDOR_OUT = 0x40
VENDOR_IN = 0xC0
RESET, SET_LATENCY, GET_LATENCY, SET_BITMODE, POLL_MODEM_STATUS = 0x00, 0x09, 0x0A, 0x0B, 0x05
MPSSE = 0x02
INTERFACE_A = 1  # the vendor requests' index of channel A
EP_IN, EP_OUT = 0x81, 0x02


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def read_payload(dev, count):
    """Bulk IN packets carry two status bytes each; strip them until `count` bytes came."""
    data = bytearray()
    for _ in range(100):
        chunk = dev.read(EP_IN, 512, timeout=1000)
        if len(chunk) < 2:
            fail("an IN packet without its status bytes")
        for at in range(0, len(chunk), 64):
            data += chunk[at + 2:at + 64]
        if len(data) >= count:
            return bytes(data)
    fail(f"only {len(data)} of {count} bytes came back")


def main():
    backend = usb.backend.libusb0.get_backend() if sys.argv[1:] == ["libusb0"] else None
    devices = list(usb.core.find(find_all=True, idVendor=0x0403, backend=backend))
    if not devices:
        fail("no device with vendor ID 0x0403")
    dev = devices[0]
    print(f"{dev.idVendor:04x}:{dev.idProduct:04x} bcdDevice {dev.bcdDevice:04x} "
          f"manufacturer {usb.util.get_string(dev, dev.iManufacturer)!r} "
          f"product {usb.util.get_string(dev, dev.iProduct)!r} "
          f"serial {usb.util.get_string(dev, dev.iSerialNumber)!r}")
    for intf in dev.get_active_configuration():
        endpoints = [(f"{e.bEndpointAddress:02x}", e.wMaxPacketSize) for e in intf]
        print(f"interface {intf.bInterfaceNumber}: endpoints {endpoints}")
    if dev.bcdDevice != 0x0500 or dev.bNumConfigurations != 1:
        fail("not a dual-channel D chip")

    dev.set_configuration()
    usb.util.claim_interface(dev, 0)
    dev.ctrl_transfer(VENDOR_OUT, RESET, 0, INTERFACE_A)
    dev.ctrl_transfer(VENDOR_OUT, SET_LATENCY, 2, INTERFACE_A)
    if bytes(dev.ctrl_transfer(VENDOR_IN, GET_LATENCY, 0, INTERFACE_A, 1)) != b"\x02":
        fail("the latency timer does not read back 2")
    status = bytes(dev.ctrl_transfer(VENDOR_IN, POLL_MODEM_STATUS, 0, INTERFACE_A, 2))
    dev.ctrl_transfer(VENDOR_OUT, SET_BITMODE, (MPSSE << 8) | 0x0B, INTERFACE_A)

    # Nothing pending: a packet of the status bytes alone.
    empty = bytes(dev.read(EP_IN, 64, timeout=1000))
    if empty != status:
        fail(f"an idle IN transfer gave {empty.hex()}, expected the status bytes {status.hex()}")

    # Loopback on, then 100 bytes clocked out on TDI and in on TDO, a bad command and its echo.
    pattern = bytes((i * 37 + 11) & 0xFF for i in range(100))
    length = len(pattern) - 1
    commands = bytes([0x84, 0x86, 0x05, 0x00, 0x80, 0xFA, 0x0B,
                      0x31, length & 0xFF, length >> 8]) + pattern + bytes([0xAB, 0x87])
    if dev.write(EP_OUT, commands, timeout=1000) != len(commands):
        fail("a short bulk OUT write")
    reply = read_payload(dev, len(pattern) + 2)
    if reply[:len(pattern)] != pattern:
        fail("the loopback did not return the bytes shifted out")
    if reply[len(pattern):] != b"\xFA\xAB":
        fail(f"the bad command answered {reply[len(pattern):].hex()}, expected faab")
    usb.util.release_interface(dev, 0)
    usb.util.dispose_resources(dev)
    print(f"MPSSE loopback of {len(pattern)} bytes and the bad-command echo: OK")


if __name__ == "__main__":
    main()

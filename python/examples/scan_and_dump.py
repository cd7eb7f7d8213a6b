#!/usr/bin/env python3
"""Reads the IDCODEs of the cable's JTAG chain and dumps its SPI flash to a file.

    python3 scan_and_dump.py flash.bin                       on a real cable
    python3 scan_and_dump.py --virtual flash.bin             on the virtual cable's default
    python3 scan_and_dump.py --scenario bench.toml flash.bin on a virtual scenario
"""

import argparse
import contextlib
import sys

import kestrellink


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="file that receives the flash contents")
    parser.add_argument("--virtual", action="store_true", help="use the virtual cable")
    parser.add_argument("--scenario", help="the virtual cable with this scenario file")
    parser.add_argument("--size", type=int, help="bytes to dump (default: the whole flash)")
    parser.add_argument("--description", default="ZV7300LNK")
    args = parser.parse_args(argv)
    try:
        with contextlib.ExitStack() as stack:
            if args.virtual or args.scenario:
                stack.enter_context(kestrellink.VirtualCable(args.scenario))
            cable = stack.enter_context(kestrellink.Cable.open(args.description))
            for index, idcode in enumerate(cable.jtag.idcodes()):
                print(f"device {index}: IDCODE 0x{idcode:08X}")
            jedec = cable.spi.jedec_id()
            size = args.size if args.size is not None else cable.spi.size
            print(f"flash {jedec.hex(' ').upper()}: dumping {size} bytes to {args.output}")
            data = cable.spi.read(0, size)
        with open(args.output, "wb") as out:
            out.write(data)
    except (kestrellink.KestrelLinkError, OSError) as error:
        print(f"scan_and_dump: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

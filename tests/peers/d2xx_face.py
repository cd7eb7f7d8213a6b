#!/usr/bin/env python3
"""What the virtual cable's vendor face shows of a scenario and its state file (VCABLE_SCENARIO,
VCABLE_STATE), so the peers' results on the USB face can be checked from the other face.

    d2xx_face.py LIB list          one line per channel: description, serial, vendor:product
    d2xx_face.py LIB flash OUT     cable 0's flash contents, through the control API
"""
import ctypes
import sys


class Node(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("type", ctypes.c_uint32),
                ("id", ctypes.c_uint32), ("loc_id", ctypes.c_uint32),
                ("serial", ctypes.c_char * 16), ("description", ctypes.c_char * 64),
                ("handle", ctypes.c_void_p)]


def list_channels(lib):
    count = ctypes.c_uint32()
    if lib.FT_CreateDeviceInfoList(ctypes.byref(count)) != 0:
        sys.exit("FT_CreateDeviceInfoList failed")
    nodes = (Node * max(1, count.value))()
    if lib.FT_GetDeviceInfoList(nodes, ctypes.byref(count)) != 0:
        sys.exit("FT_GetDeviceInfoList failed")
    for node in nodes[:count.value]:
        print(f"{node.description.decode()}|{node.serial.decode()}|"
              f"{node.id >> 16:04x}:{node.id & 0xFFFF:04x}")


def dump_flash(lib, path):
    size = ctypes.c_uint32()
    if lib.vc_flash_size(0, ctypes.byref(size)) != 0:
        sys.exit("cable 0 has no flash")
    data = (ctypes.c_uint8 * size.value)()
    if lib.vc_flash_read(0, 0, data, size.value) != 0:
        sys.exit("vc_flash_read failed")
    with open(path, "wb") as out:
        out.write(bytes(data))


def main():
    lib = ctypes.CDLL(sys.argv[1])
    if sys.argv[2] == "list":
        list_channels(lib)
    else:
        dump_flash(lib, sys.argv[3])


if __name__ == "__main__":
    main()
